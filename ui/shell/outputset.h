// The output menu (page 6): the LED screen size page and the output-port
// page, with the screen size in force on a line below.
#pragma once

#include "ui/shell/menu_tiles.h"

class Ui_OutputSet;

class OutputSet : public MenuTilePage
{
    Q_OBJECT
  public:
    explicit OutputSet(QWidget* parent);
    ~OutputSet() override;

    void menulist_init() override;
    void language_changed() override;

  public slots:
    void on_Button_ledset_clicked();
    void on_Button_lanset_clicked();

  private:
    Ui_OutputSet* ui;
};
