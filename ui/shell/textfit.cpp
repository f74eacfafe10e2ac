#include "ui/shell/textfit.h"

#include <algorithm>

#include <QAbstractButton>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QStyle>
#include <QStringList>
#include <QStyleOptionComboBox>
#include <QVariant>

namespace
{
constexpr int kMinPixels = 6;
// Margins the combo box keeps around its text inside its edit field.
constexpr int kComboMargin = 4;
constexpr int kArrowRoom = 22;
// Room the tile style (2 px border, 2 px x 4 px padding) takes on each side.
constexpr int kTileMarginX = 6;
constexpr int kTileMarginY = 4;

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

void set_fitted(QAbstractButton* button, const QString& text)
{
    button->setText(text);
    const QStringList lines = text.split('\n');
    const int width = button->width() - 2 * kTileMarginX;
    const int height = button->height() - 2 * kTileMarginY;
    shrink_until(button, [&](const QFontMetrics& fm) {
        int widest = 0;
        for (const QString& line : lines)
            widest = std::max(widest, fm.horizontalAdvance(line));
        return widest <= width && fm.lineSpacing() * lines.size() <= height;
    });
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
