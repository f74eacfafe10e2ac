// The picture menu (page 11): picture adjustment and colour temperature.
#pragma once

#include "ui/shell/pagepattern.h"

class Ui_ImageQuality;

class ImageQuality : public ZevPage
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

  protected:
    void on_row_ok(int row) override;

  private:
    Ui_ImageQuality* ui;
};
