// The window-layout page (page 9): one image at a time with its name,
// source, state, position, size, mirroring and point-to-point setting.
// Left and right choose the image, which becomes the panel's current image.
// It writes nothing into the parameter image.
#pragma once

#include <QString>

#include "ui/shell/pagepattern.h"

class Ui_ImageLayout;

class ImageLayout : public ZevPage
{
    Q_OBJECT
  public:
    explicit ImageLayout(QWidget* parent);
    ~ImageLayout() override;

    void menulist_init() override;
    void image_init();
    void image_para_update();
    void mirror_select(int mode);
    void language_changed() override;
    using ZevPage::syncUpdate;
    void syncUpdate() override;

    Ui_ImageLayout* form() const { return ui; }
    u8 shown() const { return image_shown; }

  protected:
    void key_left() override;
    void key_right() override;
    void key_ok() override {}
    void key_back() override { slot_Button_back_clicked(); }

  private:
    void step(int delta);

    Ui_ImageLayout* ui;
    u8 image_shown = 0;
    const QString style_tab;
    const QString style_box;
};
