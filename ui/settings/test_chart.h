// Test patterns: eight pattern pictures and Close. OK on a picture shows its
// pattern at once; leaving the page switches the pattern off.
#pragma once

#include "ui/shell/pagepattern.h"

class Ui_test_chart;

class test_chart : public ZevPage
{
    Q_OBJECT
  public:
    explicit test_chart(QWidget* parent);
    ~test_chart() override;

    void menulist_init() override;
    void language_changed() override;
    void slot_Button_on_clicked();

  public slots:
    void slot_Button_back_clicked() override;

  protected:
    void key_ok() override;
    void key_back() override;
    QString row_style(int row, bool focused) const override;

  private:
    Ui_test_chart* ui;
};
