// The factory ageing log: the newest samples of the FPGA's counters and how
// often register 42 moved by how much between two samples.
#pragma once

#include "ui/shell/pagepattern.h"

class Ui_factoryage;

class factoryage : public ZevPage
{
    Q_OBJECT
  public:
    explicit factoryage(QWidget* parent);
    ~factoryage() override;

    void menulist_init() override {}
    void language_changed() override;
    // Redraws the log and the counters; the GUI tick calls it after each
    // sample while the page is open.
    void update_agelog();
    // Back refreshes the advanced options only after a language change.
    void slot_Button_back_clicked() override;

  protected:
    void key_left() override {}
    void key_right() override {}
    void key_ok() override {}

  private:
    Ui_factoryage* ui;
};
