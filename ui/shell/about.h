// A spare version page that no page opens.
#pragma once

#include <QDialog>

class Ui_About;

class About : public QDialog
{
    Q_OBJECT
  public:
    explicit About(QWidget* parent = nullptr);
    ~About() override;

  private:
    Ui_About* ui;
};
