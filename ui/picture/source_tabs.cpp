#include "ui/picture/source_tabs.h"

#include <QFont>
#include <QFontMetrics>
#include <QLabel>

#include "core/alias.h"
#include "core/zevrampara.h"
#include "ui/shell/sourceinfo.h"
#include "ui/shell/textfit.h"

void count_source_entries(u8 counts[6])
{
    for (int t = 0; t < 6; ++t)
        counts[t] = u8(1 + ZevRamPara::ZevGetSourceNum(sourceinfo::get_source_id_by_listseq(u8(t)), 40));
}

void set_source_tab_names(QLabel* const tabs[6], const u8 counts[6])
{
    QFont font;
    font.setPixelSize(9);
    QFontMetrics fm(font);
    for (int t = 0; t < 6; ++t) {
        u8 id = sourceinfo::get_source_id_by_listseq(u8(t));
        ALIAS_PARA alias;
        QString name;
        if (get_json_alias_para(&alias, "source", id))
            name = fm.elidedText(QString::fromStdString(alias.name), Qt::ElideRight, tabs[t]->width() - 16,
                                 Qt::TextShowMnemonic);
        else
            name = sourceinfo::get_source_name_by_listseq(u8(t));
        set_fitted(tabs[t], sourceinfo::get_source_specialstyle1_by_sourceid(id, name, counts[t]));
    }
}
