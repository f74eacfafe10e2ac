#include "ui/shell/shell_text.h"

#include <QFontMetrics>
#include <QLabel>

void fit_label_text(QLabel* label, int points)
{
    QFont font = label->font();
    font.setPointSize(points);
    while (font.pointSize() > 5 && QFontMetrics(font).horizontalAdvance(label->text()) > label->width())
        font.setPointSize(font.pointSize() - 1);
    label->setFont(font);
}
