// Output-port status: for each of the 16 LED output ports, the screen area it
// drives and whether it has a link, four ports at a time.
#pragma once

#include "ui/shell/pagepattern.h"

class Ui_netset;

class netset : public ZevPage
{
    Q_OBJECT
  public:
    explicit netset(QWidget* parent);
    ~netset() override;

    void wlan_para_get(unsigned short port);
    void initWlan();
    void initMenu();
    void menulist_init() override;
    void language_changed() override;
    void syncUpdate() override;

  protected:
    void key_left() override;
    void key_right() override;
    void key_ok() override {}
    QString row_style(int row, bool focused) const override;
    const char* trace_name() const override { return "nsetset"; }

  private:
    void moved();

    Ui_netset* ui;
    u8 ui_sel = 0;        // position of the selected port in the row of four
    u8 ui_min_select = 0; // port on the first button
};
