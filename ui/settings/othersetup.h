// Other settings: the window that carries the audio and its sound, the
// source-switch effect, a projection hint, the Wi-Fi access point and
// point-to-point display. Each row is a list; OK on an edited row applies it.
#pragma once

#include "ui/shell/pagepattern.h"

class Ui_othersetup;
class QComboBox;

class othersetup : public ZevPage
{
    Q_OBJECT
  public:
    explicit othersetup(QWidget* parent);
    ~othersetup() override;

    void menulist_init() override;
    void language_changed() override;
    void para_init() override;
    void syncUpdate() override;
    void on_button_box_clicked();

  protected:
    void key_left() override;
    void key_right() override;
    void key_ok() override;
    void key_back() override;
    QString row_style(int row, bool focused) const override;

  private:
    QComboBox* list(int row) const;
    void step(int delta);
    void apply_volume();
    void apply_switch_effect();
    void apply_wifi();
    void apply_point_to_point();

    Ui_othersetup* ui;
    u8 edit_value = 0;
    u8 saved_value = 0;
    u8 counts[6] = {6, 2, 2, 1, 2, 2};
};
