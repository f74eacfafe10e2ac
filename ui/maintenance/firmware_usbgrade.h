// Upgrade from a USB stick: OK asks the FPGA worker to install the upgrade
// packages found on the stick; the full-screen update page shows while it
// runs.
#pragma once

#include "ui/shell/pagepattern.h"

class Ui_firmware_usbgrade;

class firmware_usbgrade : public ZevPage
{
    Q_OBJECT
  public:
    explicit firmware_usbgrade(QWidget* parent);
    ~firmware_usbgrade() override;

    void menulist_init() override;
    void language_changed() override;
    // 100 to 102 (stick in, out, mounted) and 104 (upgrade over: finished,
    // no package found or a failed check) update the state line.
    void syncUpdate(int code) override;

    void menulist_sel_right();
    void menulist_sel_left();
    void menulist_back_page();
    void slot_Button_back_clicked() override { menulist_back_page(); }

    // Asks for the upgrade: the worker's step byte 0, then g_usb_grade 1.
    // Only while no job runs, so the step of a running job is never
    // touched; false when refused.
    static bool post_upgrade();

  signals:
    void sig_qround_bar_update(int percent);

  public slots:
    void on_Button_upgrade_clicked();

  protected:
    void key_left() override { menulist_sel_left(); }
    void key_right() override { menulist_sel_right(); }
    void on_row_ok(int) override { on_Button_upgrade_clicked(); }

  private:
    enum State { StateIdle, StateStarted, StateBusy, StateDone, StateStickOut, StateNoPackage, StateCheckFailed };
    void show_state();

    Ui_firmware_usbgrade* ui;
    State state_ = StateIdle;
};
