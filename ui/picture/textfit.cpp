#include "ui/picture/textfit.h"

#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QVariant>

namespace
{
constexpr int kMinPixels = 6;
// Room the combo box keeps for its frame and text margins.
constexpr int kComboMargin = 10;
} // namespace

int base_pixel_size(QWidget* w)
{
    QVariant base = w->property("fit_base_px");
    if (base.isValid())
        return base.toInt();
    w->ensurePolished();
    int px = QFontInfo(w->font()).pixelSize();
    w->setProperty("fit_base_px", px);
    return px;
}

void fit_text(QWidget* w, const QString& text, int width, int height)
{
    QFont font = w->font();
    int px = base_pixel_size(w);
    for (;; --px) {
        font.setPixelSize(px);
        QFontMetrics fm(font);
        bool fits = fm.horizontalAdvance(text) <= width && (height <= 0 || fm.height() <= height + 1);
        if (fits || px <= kMinPixels)
            break;
    }
    w->setFont(font);
}

void fit_label(QLabel* label)
{
    fit_text(label, label->text(), label->width(), label->height());
}

void fit_combo(QComboBox* combo)
{
    fit_text(combo, combo->currentText(), combo->width() - kComboMargin);
}
