// Serial-port information: the fixed settings the RS-485 link opens with.
#pragma once

#include "ui/shell/pagepattern.h"

class Ui_linkcom;

class linkcom : public ZevPage
{
    Q_OBJECT
  public:
    explicit linkcom(QWidget* parent);
    ~linkcom() override;

    void language_changed() override;
    void menulist_init() override {}

  protected:
    // Nothing to walk or edit: the keys only trace.
    void key_left() override {}
    void key_right() override {}
    void key_ok() override {}

  private:
    Ui_linkcom* ui;
};
