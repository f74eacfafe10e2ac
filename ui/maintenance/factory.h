// Factory setup: restores the factory settings of the parameter image, and
// chooses the panel language among the five, those not enabled greyed.
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
    void on_row_ok(int row) override;
    void key_left() override;
    void key_right() override;
    void key_ok() override;
    void key_back() override;
    QString row_style(int row, bool focused) const override;

  private:
    void step_language(int delta);
    // The shown language into the image (byte 768); the refresh that
    // follows switches every page to it and keeps it.
    void apply_language();

    Ui_factory* ui;
    // What the last reset did, shown under its button.
    enum class Result { none, done, failed };
    Result result_ = Result::none;
    u8 lang_choice = 1;
    u8 lang_saved = 1;
};
