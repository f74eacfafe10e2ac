#include "ui/shell/textfit.h"

#include <algorithm>

#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QVariant>

namespace
{
constexpr int kMinPixels = 6;
// Margins the combo box keeps around its text inside its edit field.
constexpr int kComboMargin = 4;
constexpr int kArrowRoom = 22;

// The largest pixel size, from the widget's own down, at which fits() holds.
template <class Fits> void shrink_until(QWidget* w, Fits fits)
{
    QFont font = w->font();
    for (int px = base_pixel_size(w);; --px) {
        font.setPixelSize(px);
        if (fits(QFontMetrics(font)) || px <= kMinPixels)
            break;
    }
    w->setFont(font);
}
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
    shrink_until(w, [&](const QFontMetrics& fm) {
        return fm.horizontalAdvance(text) <= width && (height <= 0 || fm.height() <= height + 1);
    });
}

void fit_label(QLabel* label)
{
    if (!label->wordWrap())
        return fit_text(label, label->text(), label->width(), label->height());
    const QRect room = label->contentsRect();
    const int flags = int(label->alignment()) | Qt::TextWordWrap;
    shrink_until(label, [&](const QFontMetrics& fm) {
        const QRect need = fm.boundingRect(room, flags, label->text());
        return need.width() <= room.width() && need.height() <= room.height() + 1;
    });
}

void set_fitted(QLabel* label, const QString& text)
{
    label->setText(text);
    fit_label(label);
}

void fit_combo(QComboBox* combo)
{
    // The room the style leaves for the text, less the text's own margins.
    combo->ensurePolished();
    QStyleOptionComboBox opt;
    opt.initFrom(combo);
    // Some styles draw the arrow's room even when a style sheet hides it.
    const int field =
        combo->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo).width();
    const int room = std::min(field, combo->width() - kArrowRoom) - kComboMargin;
    shrink_until(combo, [&](const QFontMetrics& fm) {
        int widest = 0;
        for (int i = 0; i < combo->count(); ++i)
            widest = std::max(widest, fm.horizontalAdvance(combo->itemText(i)));
        return widest <= room;
    });
}
