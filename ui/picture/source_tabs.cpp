#include "ui/picture/source_tabs.h"

#include <cstring>

#include <QFont>
#include <QFontMetrics>
#include <QLabel>

#include "core/alias.h"
#include "core/zevrampara.h"
#include "ui/shell/sourceinfo.h"
#include "ui/shell/textfit.h"

SourceTiming source_timing(int source)
{
    SourceTiming t;
    if (source < 0 || source >= kSourceCount)
        return t;
    const int o = Img::kSourceTiming + 6 * source;
    ImageReadLock lock;
    t.w = ZevRamPara::img16(o);
    t.h = ZevRamPara::img16(o + 2);
    t.rate = ZevRamPara::img16(o + 4);
    return t;
}

int crop_count(int source)
{
    ImageReadLock lock;
    return ZevRamPara::ZevGetSourceNum(source, Img::kCropCount);
}

int crop_entry(int source, int n, CROP_PARA* crop)
{
    int index = Img::kCropCount;
    ImageReadLock lock;
    ZevRamPara::ZevGetCropPara(source, n, crop, &index);
    return index;
}

u16 crop_word(int index)
{
    return index >= 0 && index < Img::kCropCount ? ZevRamPara::locked16(Img::kCropTable + Img::kCropSize * index) : 0;
}

void crop_source_init()
{
    ImageReadLock lock;
    ZevRamPara::ZevCropSourceInit();
}

bool crop_table_changed()
{
    ImageReadLock lock;
    return std::memcmp(ZevRamPara::p_zevrampara_config + Img::kCropTable,
                       ZevRamPara::p_zevrampara_shadow + Img::kCropTable, Img::kCropCount * Img::kCropSize) != 0;
}

void count_source_entries(u8 counts[6])
{
    // The PC links write the crop table.
    ImageReadLock lock;
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
