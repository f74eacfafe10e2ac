// The picture menu (page 11): picture adjustment and colour temperature.
#pragma once

#include "ui/shell/menu_tiles.h"

class Ui_ImageQuality;

class ImageQuality : public MenuTilePage
{
    Q_OBJECT
  public:
    explicit ImageQuality(QWidget* parent);
    ~ImageQuality() override;

    void menulist_init() override;
    void language_changed() override;

  public slots:
    void on_Button_quality_clicked();
    void on_Button_temperature_clicked();

  private:
    Ui_ImageQuality* ui;
};
