// The one on-screen number keypad (g_numberkeyboard). A page fills it with
// label_show(title, value), runs exec(), and receives the confirmed text
// through sendKeyBoardUIDataToLineEdit.
#pragma once

#include <QDialog>
#include <QString>

#include "core/global.h"

class Ui_NumberKeyboard;

// Digits typed since the keypad was last opened.
extern QString l_str;

class NumberKeyboard : public QDialog
{
    Q_OBJECT
  public:
    explicit NumberKeyboard(QWidget* parent = nullptr);
    ~NumberKeyboard() override;

    void label_show(QString title, QString value);
    void language_changed();
    void menulist_init();
    // The keypad is one object: a second exec() while it is open returns at
    // once instead of nesting another loop.
    int exec() override;

    u8 focused_index() const { return ui_select; }
    // The ring around the focused key.
    QWidget* cursor() const { return cursor_; }
    QString text() const;
    Ui_NumberKeyboard* form() const { return ui; }

  signals:
    void sendKeyBoardUIDataToLineEdit(QString);

  public slots:
    void on_ButtonC_clicked();
    void on_ButtonX_clicked();
    void on_Button_ok_clicked();
    void on_Button_close_clicked();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    void set_key_style(int index, bool focused);
    void press_digit(int digit);

    Ui_NumberKeyboard* ui;
    u8 ui_select = 0;
    QWidget* focus_widget = nullptr;
    QString style_white;
    QString style_white_focused;
    QString style_blue;
    QString style_blue_focused;
    QWidget* menu_list[14] = {};
    QWidget* cursor_ = nullptr;
};
