// A spare dialog with one exit button that no page opens.
#pragma once

#include <QDialog>

class Ui_Dialog;

class Dialog : public QDialog
{
    Q_OBJECT
  public:
    explicit Dialog(QWidget* parent = nullptr);
    ~Dialog() override;

  private:
    Ui_Dialog* ui;
};
