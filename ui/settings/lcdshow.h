// LCD behaviour: how long until the panel returns to the main window and
// until it locks itself. The choices live in two globals for the life of the
// process.
#pragma once

#include "ui/shell/pagepattern.h"

class Ui_lcdshow;

// In 10 ms units; 120000 stands for "never".
extern u32 g_back_to_mainwindow_time;
extern u32 g_auto_lock_time;

class lcdshow : public ZevPage
{
    Q_OBJECT
  public:
    explicit lcdshow(QWidget* parent);
    ~lcdshow() override;

    void para_init() override;
    void menulist_init() override;
    void language_changed() override;
    void syncUpdate() override;
    void on_button_backtolock_clicked();
    void on_button_autolock_clicked();

  protected:
    void key_left() override;
    void key_right() override;
    void key_ok() override;
    void key_back() override;
    QString row_style(int row, bool focused) const override;

  private:
    void step_choice(int delta);

    Ui_lcdshow* ui;
    u8 choice = 0; // the working index of both rows, stepped while editing
};
