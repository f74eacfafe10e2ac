// A line edit that asks for the number keypad when pressed.
#pragma once

#include <QLineEdit>

class My_lineEdit : public QLineEdit
{
    Q_OBJECT
  public:
    explicit My_lineEdit(QWidget* parent = nullptr);

  signals:
    void send_show(QString data);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};
