// Colour temperature: a type chosen from four, applied when accepted, and the
// red, green and blue gains, each stepped live from 0 to 100.
#pragma once

#include "ui/settings/settings_rows.h"

class Ui_temperature;
class QComboBox;

class temperature : public SteppedValuePage
{
    Q_OBJECT
  public:
    explicit temperature(QWidget* parent);
    ~temperature() override;

    void para_init() override;
    void menulist_init() override;
    void language_changed() override;
    void syncUpdate() override;
    void on_button_type_clicked();

  protected:
    void key_left() override;
    void key_right() override;
    void key_ok() override;
    void key_back() override;
    QLineEdit* value_edit(int row) override;
    void apply_value(int row, int value) override;
    QString row_style(int row, bool focused) const override;

  private:
    void step_type(int delta);

    Ui_temperature* ui;
    u8 type_choice = 0;
    u8 type_choice_saved = 0;
};
