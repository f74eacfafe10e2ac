// Factory setup: restores the factory settings of the parameter image.
#pragma once

#include "ui/shell/pagepattern.h"

class Ui_factory;

class factory : public ZevPage
{
    Q_OBJECT
  public:
    explicit factory(QWidget* parent);
    ~factory() override;

    void menulist_init() override;
    void language_changed() override;

  public slots:
    // The factory reset of the PC tool: defaults into the image, stored user
    // modes dropped, then the apply byte, so the video processor and the
    // persistence follow as for any change.
    void on_Button_reset_clicked();

  protected:
    void on_row_ok(int) override { on_Button_reset_clicked(); }
    void key_left() override {}
    void key_right() override {}

  private:
    Ui_factory* ui;
    bool done_ = false;
};
