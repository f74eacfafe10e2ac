#include "ui/shell/sourceinfo.h"

#include <QLabel>
#include <QPixmap>

namespace
{
const char* const kName[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
// List position 0..4 to source id; "EXT" has no row.
const unsigned char kListToId[5] = {2, 3, 4, 5, 1};
const unsigned char kIdToList[6] = {5, 4, 0, 1, 2, 3};
const char* const kPlainIcon[6] = {":/png/HDMI.png",   ":/png/DVI.png",    ":/png/HDMI13.png",
                                   ":/png/HDMI13.png", ":/png/HDMI20.png", ":/png/HDMI20.png"};
const char* const kOnlineIcon[6] = {":/png/extlv.png",     ":/png/dvilv.png",     ":/png/HDMI13_lv.png",
                                    ":/png/HDMI13_lv.png", ":/png/HDMI20_lv.png", ":/png/HDMI20_lv.png"};
const char* const kOfflineIcon[6] = {":/png/HDMI.png",     ":/png/DVI.png",    ":/png/HDMI13_1.png",
                                     ":/png/HDMI13_1.png", ":/png/HDMI20.png", ":/png/HDMI20.png"};
const char* const kWhite = "<font style = 'font-size:9px' color = #ffffff >%1</font>";
const char* const kBlue = "<font style = 'font-size:9px' color = #4777ff >%1</font>";
} // namespace

QString sourceinfo::get_source_name_by_sourceid(unsigned char id)
{
    return id < 6 ? kName[id] : QString();
}

QString sourceinfo::get_source_name_by_listseq(unsigned char pos)
{
    return pos < 6 ? get_source_name_by_sourceid(get_source_id_by_listseq(pos)) : QString();
}

unsigned char sourceinfo::get_source_id_by_listseq(unsigned char pos)
{
    return pos < 5 ? kListToId[pos] : 0;
}

unsigned char sourceinfo::get_listseq_by_source_id(unsigned char id)
{
    return id < 6 ? kIdToList[id] : 0;
}

QString sourceinfo::get_source_specialstyle0_by_sourceid(unsigned char id)
{
    if (id == 4 || id == 5)
        return "<font style = 'font-size:9px' color = #51BB28 >%1</font>";
    return kWhite;
}

QString sourceinfo::get_source_specialstyle1_by_sourceid(unsigned char id, QString name, unsigned char count)
{
    if (id > 5)
        return QString();
    QString nameStyle = id >= 4 ? "<font style = 'font-size:9px' color = #12BB32 >%1</font>" : kWhite;
    return QString(nameStyle).arg(name, 0, QChar(' ')) + QString(kBlue).arg("(") +
           QString(kBlue).arg(QString::number(count, 10)) + QString(kBlue).arg(")");
}

void sourceinfo::set_source_pixmap(QLabel* label, unsigned char id)
{
    if (id < 6)
        label->setPixmap(QPixmap(kPlainIcon[id]));
}

void sourceinfo::set_sourceonline_pixmap(QLabel* label, unsigned char id, unsigned char online)
{
    if (id < 6)
        label->setPixmap(QPixmap(online ? kOnlineIcon[id] : kOfflineIcon[id]));
}
