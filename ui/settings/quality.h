// Picture quality: brightness, sharpness, contrast and saturation, each
// stepped live from 0 to 100, and a Reset to the factory values.
#pragma once

#include "ui/settings/settings_rows.h"

class Ui_quality;

class quality : public SteppedValuePage
{
    Q_OBJECT
  public:
    explicit quality(QWidget* parent);
    ~quality() override;

    void para_init() override;
    void menulist_init() override;
    void language_changed() override;
    void on_Button_reset_clicked();

  protected:
    QLineEdit* value_edit(int row) override;
    void apply_value(int row, int value) override;
    void on_row_ok(int row) override;

  private:
    Ui_quality* ui;
};
