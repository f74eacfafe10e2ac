// The device-information page (page 2): serial number, the links of the 16
// output ports, which inputs have a signal, and the versions of the
// application and the FPGA. Only back and MODE act.
#pragma once

#include "ui/shell/pagepattern.h"

class QFrame;
class Ui_MachineState;

class MachineState : public ZevPage
{
    Q_OBJECT
  public:
    explicit MachineState(QWidget* parent);
    ~MachineState() override;

    void syncUpdate(int code) override;
    void language_changed() override;
    void version_changed();
    void source_check();
    void initWlan();

    Ui_MachineState* form() const { return ui; }
    QFrame* ports() const { return ports_frame; }

  public slots:
    void on_Button_back_clicked();

  protected:
    void key_ok() override {}
    void key_left() override {}
    void key_right() override {}
    const char* trace_name() const override { return "machinestate"; }

  private:
    Ui_MachineState* ui;
    QFrame* ports_frame = nullptr;
};
