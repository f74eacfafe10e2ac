#include "ui/shell/my_lineedit.h"

My_lineEdit::My_lineEdit(QWidget* parent) : QLineEdit(parent)
{
    setText(QString());
}

void My_lineEdit::mousePressEvent(QMouseEvent* event)
{
    emit send_show(text());
    QLineEdit::mousePressEvent(event);
}
