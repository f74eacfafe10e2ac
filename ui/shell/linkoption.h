// The communication menu (page 10): serial port, wired network and USB
// upgrade. Its tiles open by the keys only; a pointer click opens nothing.
#pragma once

#include "ui/shell/menu_tiles.h"

class Ui_LinkOption;

class LinkOption : public MenuTilePage
{
    Q_OBJECT
  public:
    explicit LinkOption(QWidget* parent);
    ~LinkOption() override;

    void menulist_init() override;
    void language_changed() override;

    void on_Button_linkcom_clicked();
    void on_Button_linkwlan_clicked();
    void on_Button_firmware_usbgrade_clicked();

  private:
    Ui_LinkOption* ui;
};
