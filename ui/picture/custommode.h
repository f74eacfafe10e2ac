// The user-mode page (page 4): walks the 16 stored user modes, shows the
// summary and a preview of the selected one (its six windows, or its OSD
// menu while "More" is highlighted) and recalls or deletes it. A QWidget
// shown with show(): it is the target of every page's MODE key.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

#include "core/global.h"
#include "ui/shell/pagepattern.h"
#include "ui/shell/zev_keyboard.h"

class QLabel;
class QKeyEvent;
class Ui_CustomMode;
class zevcontrol;

class CustomMode : public QWidget, public PageView
{
    Q_OBJECT
  public:
    explicit CustomMode(QWidget* parent);
    ~CustomMode() override;

    // For PageRegistry::set_user_mode_factory: a new page without parent.
    static PageView* create();
    // Makes the home page for Back after a MODE opening (the page is stored
    // in g_lockwindow and shown by this page). Without one, Back after MODE
    // returns to the main window.
    using HomeFactory = PageView* (*)();
    static void set_home_page_factory(HomeFactory factory);

    void init();
    void lcd_para_init();
    void image_para_init();
    void menulist_init();
    void language_changed() override;
    void syncUpdate();
    void syncUpdate(int) override { syncUpdate(); }
    void zev_button_selinfo(char mode, char index);
    bool get_mode_status();
    void color_fill(QLabel* label, char window);

    // Read by tests and the page renderer.
    Ui_CustomMode* form() const { return ui; }
    zevcontrol* selector() const { return selector_; }
    QWidget* preview() const { return preview_area; }
    u8 select() const { return ui_select; }
    u8 edit() const { return edit_flag; }
    u8 button() const { return button_index; }

  public slots:
    void on_Button_delete_clicked();
    void on_Button_use_clicked();
    void slot_Button_back_clicked();
    void zev_button_mode_clicked();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    void close_self();
    void back_to_home();
    void draw_windows(int slot);
    void draw_osd(int slot);
    QLabel* preview_label(int x, int y, int w, int h);

    Ui_CustomMode* ui;
    zevcontrol* selector_ = nullptr;
    QWidget* preview_area = nullptr;
    QFont preview_font;
    QLabel* preview_labels[3] = {};
    u8 ui_select = 0;
    u8 edit_flag = 0;
    u8 button_index = 0;
    u8 more_hidden = 0;
    const QString style_button_focused;
    const QString style_button_normal;
    zevcontrol* selector_focus = nullptr;
    zev_keyboard keyboard;
};
