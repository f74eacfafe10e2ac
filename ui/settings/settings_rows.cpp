#include "ui/settings/settings_rows.h"

#include <QLineEdit>

#include "core/zevrampara.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "video/c331_manage.h"

void write_low_byte(int offset, int value)
{
    c331_apply(1, [&] { ZevRamPara::p_zevrampara_config[offset] = u8(value); });
}

QString combo_style(const char* border, bool background, const char* text)
{
    return QString("QComboBox{\ncolor:%3;\n%1border:1px solid %2;\n}\nQComboBox:drop-down{\nborder-style:none\n}")
        .arg(background ? "background-color: rgb(33, 36, 53);" : "", border, text);
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

void SteppedValuePage::get_sel_value()
{
    edit_begin();
}

void SteppedValuePage::updownset_sel_value(char op)
{
    switch (op) {
    case 0:
        edit_step(1);
        break;
    case 1:
        edit_step(-1);
        break;
    case 2:
        edit_accept();
        break;
    case 3:
        edit_cancel();
        break;
    default:
        break;
    }
}
