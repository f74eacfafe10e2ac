#include "ui/shell/textfit.h"

#include <algorithm>
#include <climits>

#include <QAbstractButton>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTextDocument>
#include <QVariant>

#include "ui/shell/panellook.h"

namespace
{
// Margins the combo box keeps around its text inside its edit field, and
// the arrow's room some styles keep even when a style sheet hides it.
constexpr int kComboMargin = 4;
constexpr int kArrowRoom = 22;
// Room a line edit keeps on each side of its text.
constexpr int kEditMargin = 2;
const char* const kBaseProperty = "fit_base_px";
const char* const kFollowsProperty = "fit_follows";
// The whole text a widget was given, and what it shows of it (broken onto
// two lines or elided), so that it can be fitted again.
const char* const kWholeProperty = "fit_whole";
const char* const kShownProperty = "fit_shown";
const char* const kElidedProperty = "fit_elided";
// What a widget was last fitted to, with the group it was fitted in.
const char* const kFitKeyProperty = "fit_key";
// A row caption's own y, kept while it stands above its field.
const char* const kRowYProperty = "flow_row_y";

int text_flags(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    return Qt::AlignCenter;
}

// Combo boxes show their items; the others the text they are given.
bool takes_text(QWidget* w)
{
    return !qobject_cast<QComboBox*>(w);
}

// Only labels and buttons show a text on two lines, or elided.
bool can_break(QWidget* w)
{
    return qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w);
}

QString shown_now(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    return QString();
}

} // namespace

QString fitted_text(QWidget* w)
{
    const QString shown = shown_now(w);
    const QVariant whole = w->property(kWholeProperty);
    return whole.isValid() && shown == w->property(kShownProperty).toString() ? whole.toString() : shown;
}

namespace
{

void put_text(QWidget* w, const QString& whole, const QString& shown)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(shown);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(shown);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(shown);
    w->setProperty(kWholeProperty, whole);
    w->setProperty(kShownProperty, shown);
}

QFont font_at(QWidget* w, int px)
{
    QFont f = w->font();
    f.setPixelSize(px);
    return f;
}

bool fits(QWidget* w, const QRect& room, const QFont& font, const QString& text)
{
    return text.trimmed().isEmpty() || room.contains(drawn_rect(w, font, text));
}

bool is_ideograph(QChar c)
{
    return c.unicode() >= 0x2E80 && c.unicode() < 0xFF00;
}

// Where a text may be broken, in the order they are tried; each gives the
// two lines of a break before character i, or false.
using Break = bool (*)(const QString& text, int i, QString* a, QString* b);

bool at_blank(const QString& text, int i, QString* a, QString* b)
{
    if (text[i] != ' ')
        return false;
    *a = text.left(i);
    *b = text.mid(i + 1);
    return true;
}

// After a joining sign ("HDMI1_" "Crop2") or beside an ideograph.
bool at_sign_or_ideograph(const QString& text, int i, QString* a, QString* b)
{
    const QChar before = text[i - 1];
    const bool sign = before == '_' || before == '-' || before == ',' || before == '/' || before == ':';
    if (!sign && !is_ideograph(before) && !is_ideograph(text[i]))
        return false;
    *a = text.left(i);
    *b = text.mid(i);
    return true;
}

bool is_vowel(QChar c)
{
    const QString d = c.decomposition();
    const QChar base = (d.isEmpty() ? c : d[0]).toLower();
    return QStringLiteral("aeiouyаеёиоуыэюя").contains(base);
}

// Inside a word, with a hyphen, at a syllable's end as far as letters
// tell: after a vowel or a soft sign, or between two consonants; never
// before a soft sign, and two letters at least on each side.
bool in_word(const QString& text, int i, QString* a, QString* b)
{
    if (i < 2 || i > text.size() - 2)
        return false;
    for (int k = i - 2; k < i + 2; ++k)
        if (!text[k].isLetter())
            return false;
    const QString signs = QStringLiteral("ьъйЬЪЙ");
    const QChar before = text[i - 1], after = text[i];
    if (signs.contains(after))
        return false;
    if (!is_vowel(before) && !signs.contains(before) && is_vowel(after))
        return false;
    *a = text.left(i) + '-';
    *b = text.mid(i);
    return true;
}

// The two-line form of a text that fits the room at this font, its lines
// as even as can be; empty when none fits.
QString two_lines(QWidget* w, const QRect& room, const QFont& font, const QString& text)
{
    if (text.contains('\n'))
        return QString();
    const QFontMetrics fm(font);
    for (Break at : {at_blank, at_sign_or_ideograph, in_word}) {
        QString chosen;
        int widest = INT_MAX;
        for (int i = 1; i < text.size(); ++i) {
            QString a, b;
            if (!at(text, i, &a, &b))
                continue;
            const QString both = a + '\n' + b;
            const int width = std::max(fm.horizontalAdvance(a), fm.horizontalAdvance(b));
            if (width < widest && fits(w, room, font, both)) {
                chosen = both;
                widest = width;
            }
        }
        if (!chosen.isEmpty())
            return chosen;
    }
    return QString();
}

void fit_group(const std::vector<FitItem>& given)
{
    // Rich texts carry their own sizes.
    std::vector<FitItem> items;
    int px = INT_MAX;
    for (const FitItem& item : given) {
        const QString text = shown_text(item.text);
        if (qobject_cast<QLabel*>(item.widget) && Qt::mightBeRichText(text)) {
            put_text(item.widget, text, text);
            continue;
        }
        items.push_back({item.widget, text});
        px = std::min(px, base_pixel_size(item.widget));
    }
    if (items.empty())
        return;
    px = std::max(px, kMinTextPixels);
    std::vector<QRect> rooms;
    for (const FitItem& item : items)
        rooms.push_back(text_room(item.widget));
    // A group fitted before to the same texts, rooms and fonts is left as
    // it is: fitting measures every text at each size it tries, and pages
    // set their texts again each time they show.
    QString key;
    for (size_t k = 0; k < items.size(); ++k) {
        QWidget* w = items[k].widget;
        const QRect& r = rooms[k];
        const QChar unit(0x1f);
        key += items[k].text + unit + QString::number(r.x()) + ',' + QString::number(r.y()) + ',' +
               QString::number(r.width()) + ',' + QString::number(r.height()) + unit +
               QString::number(base_pixel_size(w)) + unit + QString::number(text_flags(w)) + unit +
               font_at(w, 1).toString() + QChar(0x1e);
    }
    const auto fitted_so = [&key](QWidget* w) {
        return w->property(kFitKeyProperty).toString() == key + QString::number(w->font().pixelSize()) &&
               (!takes_text(w) || shown_now(w) == w->property(kShownProperty).toString());
    };
    if (std::all_of(items.begin(), items.end(), [&](const FitItem& item) { return fitted_so(item.widget); }))
        return;
    const auto all_fit = [&](int size) {
        for (size_t k = 0; k < items.size(); ++k)
            if (!fits(items[k].widget, rooms[k], font_at(items[k].widget, size), items[k].text))
                return false;
        return true;
    };
    while (px > kMinTextPixels && !all_fit(px))
        --px;
    for (size_t k = 0; k < items.size(); ++k) {
        QWidget* w = items[k].widget;
        const QFont font = font_at(w, px);
        QString shown = items[k].text;
        bool elided = false;
        if (!fits(w, rooms[k], font, shown) && can_break(w)) {
            shown = two_lines(w, rooms[k], font, items[k].text);
            if (shown.isEmpty()) {
                QString line = items[k].text;
                line.replace('\n', ' ');
                shown = QFontMetrics(font).elidedText(line, Qt::ElideRight, rooms[k].width());
                elided = true;
            }
        }
        if (elided || w->property(kElidedProperty).toBool()) {
            w->setToolTip(elided ? items[k].text : QString());
            w->setProperty(kElidedProperty, elided);
        }
        if (takes_text(w))
            put_text(w, items[k].text, shown);
        w->setFont(font);
        w->setProperty(kFitKeyProperty, key + QString::number(px));
    }
}
} // namespace

int base_pixel_size(QWidget* w)
{
    QVariant base = w->property(kBaseProperty);
    if (base.isValid())
        return base.toInt();
    w->ensurePolished();
    int px = QFontInfo(w->font()).pixelSize();
    w->setProperty(kBaseProperty, px);
    return px;
}

QRect text_room(QWidget* w)
{
    w->ensurePolished();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        const int m = label->margin();
        return label->contentsRect().adjusted(m, m, -m, -m);
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.features = button->isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
        QRect r = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
        if (!button->icon().isNull())
            r.setLeft(r.left() + button->iconSize().width() + 4);
        return r;
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        opt.editable = combo->isEditable();
        opt.frame = combo->hasFrame();
        QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
        field.setWidth(std::min(field.width(), combo->width() - kArrowRoom) - kComboMargin);
        return field;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        QStyleOptionFrame opt;
        opt.initFrom(edit);
        opt.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
        QRect r = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
        return r.marginsRemoved(edit->textMargins()).adjusted(kEditMargin, 0, -kEditMargin, 0);
    }
    return w->rect();
}

QRect drawn_rect(QWidget* w, const QFont& font, const QString& text)
{
    const QFontMetrics fm(font);
    const QRect boxes = fm.boundingRect(text_room(w), text_flags(w), text);
    // The letters stand inside their line boxes, which keep room above the
    // tallest and below the deepest letter.
    QString line = text;
    line.replace('\n', ' ');
    const QRect ink = fm.tightBoundingRect(line);
    const int first_baseline = boxes.top() + fm.ascent();
    const int last_baseline = boxes.top() + boxes.height() - fm.descent();
    return QRect(QPoint(boxes.left(), first_baseline + ink.top()), QPoint(boxes.right(), last_baseline + ink.bottom()));
}

void set_fitted(QWidget* w, const QString& text)
{
    fit_group({{w, text}});
}

void set_fitted(const std::vector<FitItem>& items)
{
    fit_group(items);
}

void fit_texts(const std::vector<QWidget*>& widgets)
{
    std::vector<FitItem> items;
    for (QWidget* w : widgets)
        items.push_back({w, fitted_text(w)});
    fit_group(items);
}

void fit_texts(std::initializer_list<QWidget*> widgets)
{
    fit_texts(std::vector<QWidget*>(widgets));
}

void flow_row(const std::vector<RowPair>& row, int left, int right, RowFallback fallback)
{
    constexpr int kCaptionPad = 2, kCaptionGap = 2, kFieldGap = 6;
    std::vector<QWidget*> captions;
    int fields = 0, px = INT_MAX;
    for (const RowPair& p : row) {
        captions.push_back(p.caption);
        px = std::min(px, base_pixel_size(p.caption));
        if (p.field)
            fields += p.field->width() + kFieldGap;
        // A caption stood above its field for another language goes back
        // to its own line.
        const QVariant y = p.caption->property(kRowYProperty);
        if (y.isValid())
            p.caption->move(p.caption->x(), y.toInt());
        else
            p.caption->setProperty(kRowYProperty, p.caption->y());
    }
    const auto caption_width = [&](QWidget* c, int size) {
        return QFontMetrics(font_at(c, size)).horizontalAdvance(shown_text(fitted_text(c))) + kCaptionPad;
    };
    const auto total = [&](int size) {
        int sum = fields - kFieldGap;
        for (QWidget* c : captions)
            sum += caption_width(c, size) + kCaptionGap;
        return sum;
    };
    // Captions above their fields: a pair takes the wider of the two.
    const auto pair_width = [&](const RowPair& p, int size) {
        const int width = caption_width(p.caption, size);
        return p.field ? std::max(width, p.field->width()) : width;
    };
    const auto stacked_total = [&](int size) {
        int sum = -kFieldGap;
        for (const RowPair& p : row)
            sum += pair_width(p, size) + kFieldGap;
        return sum;
    };
    const int base = px;
    while (px > kMinTextPixels && total(px) > right - left)
        --px;
    const bool stacked = fallback == RowFallback::CaptionsAbove && total(px) > right - left;
    if (stacked) {
        px = base;
        while (px > kMinTextPixels && stacked_total(px) > right - left)
            --px;
    }
    const int gaps = int(row.size()) - 1;
    const int used = stacked ? stacked_total(px) : total(px);
    const int spare = gaps > 0 ? std::max(0, right - left - used) / gaps : 0;
    int x = left;
    for (const RowPair& p : row) {
        const int width = caption_width(p.caption, px);
        if (stacked) {
            const int room = pair_width(p, px);
            if (p.field) {
                p.field->move(x + (room - p.field->width()) / 2, p.field->y());
                p.caption->setGeometry(x + (room - width) / 2, p.field->y() - p.caption->height(), width,
                                       p.caption->height());
            } else {
                p.caption->setGeometry(x, p.caption->y(), width, p.caption->height());
            }
            x += room + kFieldGap;
        } else {
            p.caption->setGeometry(x, p.caption->y(), width, p.caption->height());
            x += width + kCaptionGap;
            if (p.field) {
                p.field->move(x, p.field->y());
                x += p.field->width() + kFieldGap;
            }
        }
        x += spare;
    }
    fit_texts(captions);
}

void fit_combos(std::initializer_list<QComboBox*> combos)
{
    std::vector<QWidget*> group(combos.begin(), combos.end());
    fit_texts(group);
    std::vector<QPointer<QWidget>> watched(group.begin(), group.end());
    for (QComboBox* combo : combos) {
        if (combo->property(kFollowsProperty).toBool())
            continue;
        combo->setProperty(kFollowsProperty, true);
        QObject::connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), combo, [watched] {
            std::vector<QWidget*> live;
            for (const QPointer<QWidget>& w : watched)
                if (w)
                    live.push_back(w);
            fit_texts(live);
        });
    }
}
