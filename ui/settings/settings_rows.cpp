#include "ui/settings/settings_rows.h"

#include <algorithm>

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QVariant>

#include "core/zevrampara.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "video/c331_manage.h"

void write_low_byte(int offset, int value)
{
    c331_apply(1, [&] { ZevRamPara::p_zevrampara_config[offset] = u8(value); });
}

QString combo_style(const char* border, bool background)
{
    return QString("QComboBox{\ncolor:rgb(255,255,255);\n%1border:1px solid %2;\n}\nQComboBox:drop-down{\nborder-style:"
                   "none\n}")
        .arg(background ? "background-color: rgb(33, 36, 53);" : "", border);
}

void set_fitted(QLabel* label, const QString& text)
{
    // The form's size is kept so a shorter text of another language grows
    // back to it.
    QVariant base = label->property("zev_base_pt");
    if (!base.isValid()) {
        base = label->font().pointSize();
        label->setProperty("zev_base_pt", base);
    }
    label->setText(text);
    const QRect room = label->contentsRect();
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    QFont font = label->font();
    for (int size = base.toInt(); size >= 5; --size) {
        font.setPointSize(size);
        const QRect need = QFontMetrics(font).boundingRect(room, flags, text);
        if (need.width() <= room.width() && need.height() <= room.height())
            break;
    }
    label->setFont(font);
}

void open_number_keyboard(QLineEdit* field, const QString& caption)
{
    if (!g_numberkeyboard || !field)
        return;
    g_lineedit = field;
    g_numberkeyboard->label_show(caption, field->text());
    g_numberkeyboard->exec();
}

bool number_for(const QWidget* page)
{
    return g_lineedit && page->isAncestorOf(g_lineedit);
}

void fit_combo(QComboBox* list)
{
    QVariant base = list->property("zev_base_pt");
    if (!base.isValid()) {
        base = list->font().pointSize();
        list->setProperty("zev_base_pt", base);
    }
    // Room for the text: the frame and the text margins take the rest.
    const int room = list->width() - 20;
    QFont font = list->font();
    for (int size = base.toInt(); size >= 5; --size) {
        font.setPointSize(size);
        const QFontMetrics fm(font);
        int widest = 0;
        for (int i = 0; i < list->count(); ++i)
            widest = std::max(widest, fm.horizontalAdvance(list->itemText(i)));
        if (widest <= room)
            break;
    }
    list->setFont(font);
}
