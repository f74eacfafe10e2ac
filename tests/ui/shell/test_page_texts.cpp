// Every page in every language, as drawn: no text below 9 px, none cut by
// its widget or by a frame around it, none elided, no soft hyphen; like
// widgets in one size.
#include <QtTest>

#include <map>

#include <QAbstractButton>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTextBlock>
#include <QTextDocument>

#include "page_harness.h"
#include "core/global.h"
#include "ui/shell/textfit.h"

namespace
{
struct Drawn {
    QString text;
    QFont font;
};

// The plain text a widget draws and its font; empty for none.
Drawn drawn(QWidget* w)
{
    w->ensurePolished();
    if (auto* l = qobject_cast<QLabel*>(w))
        return {l->text(), l->font()};
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return {b->text(), b->font()};
    if (auto* c = qobject_cast<QComboBox*>(w))
        return {c->currentText(), c->font()};
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return {e->text(), e->font()};
    return {};
}

// The smallest pixel size in the text and the size it needs in the room.
void measure(QWidget* w, const Drawn& d, const QRect& room, int* smallest, QRect* need)
{
    auto* label = qobject_cast<QLabel*>(w);
    if (label && Qt::mightBeRichText(d.text)) {
        QTextDocument doc;
        doc.setDefaultFont(d.font);
        doc.setDocumentMargin(0);
        doc.setHtml(d.text);
        if (label->wordWrap())
            doc.setTextWidth(room.width());
        *smallest = INT_MAX;
        for (QTextBlock b = doc.begin(); b != doc.end(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it)
                *smallest = std::min(*smallest, QFontInfo(it.fragment().charFormat().font()).pixelSize());
        *need = QRect(room.topLeft(), QSize(int(doc.idealWidth()), int(doc.size().height())));
        return;
    }
    *smallest = QFontInfo(d.font).pixelSize();
    *need = drawn_rect(w, d.font, d.text);
}

// What is wrong with the text of w on page; empty when nothing is.
QString fault(QWidget* page, QWidget* w)
{
    const Drawn d = drawn(w);
    if (d.text.trimmed().isEmpty())
        return QString();
    const QRect room = text_room(w);
    int smallest = 0;
    QRect need;
    measure(w, d, room, &smallest, &need);
    QString what;
    if (smallest < kMinTextPixels)
        what += QString(" drawn at %1 px;").arg(smallest);
    if (!room.contains(need))
        what +=
            QString(" needs %1x%2 in %3x%4;").arg(need.width()).arg(need.height()).arg(room.width()).arg(room.height());
    if (d.text.contains(QChar(QChar::SoftHyphen)))
        what += " soft hyphen;";
    // Elision is the last resort; no text of the pages needs it.
    const QChar ellipsis(0x2026);
    if (d.text.endsWith(ellipsis) && !fitted_text(w).endsWith(ellipsis))
        what += " elided;";
    // Frames around the widget cut what lies outside them; a field's box
    // shows, so the whole of it stays inside.
    const bool field = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w);
    QRect inside = field ? w->rect() : need.intersected(room);
    for (QWidget* p = w; p != page; p = p->parentWidget()) {
        inside.translate(p->pos());
        if (!p->parentWidget()->rect().contains(inside)) {
            what += QString(" cut by %1 %2;")
                        .arg(p->parentWidget()->metaObject()->className(), p->parentWidget()->objectName());
            break;
        }
    }
    return what.isEmpty()
               ? QString()
               : QString("\"%1\" (%2 %3):%4").arg(d.text, w->metaObject()->className(), w->objectName(), what);
}

// Rows and grids of like widgets, by scene and object names.
struct LikeGroup {
    const char* scene;
    QStringList names;
};
const LikeGroup kLikeGroups[] = {
    {"test_chart",
     {"label_red", "label_green", "label_blue", "label_white", "label_black", "label_color", "label_hline",
      "label_wline"}},
    {"custommode", {"Button_use", "Button_delete", "Button_more"}},
    {"custommode", {"label_ID", "label_name", "label_LED", "label_brightness"}},
    {"smartmapping", {"Button_send", "Button_load", "Button_save", "Button_mapping"}},
    {"smartmapping",
     {"label_port", "label_route", "label_rows", "label_cols", "label_width", "label_height", "label_x", "label_y",
      "label_file"}},
    {"lcdshow", {"label_backmainwindow", "label_autolock"}},
    {"lcdshow", {"comboBox_back", "comboBox_lock"}},
    {"othersetup", {"label_name_volume", "label_name_switch", "label_name_mode", "label_wifi", "label_name_DBD"}},
    {"quality", {"label_bright", "label_Sharpness", "label_Contrast", "label_Saturation", "label_reset"}},
    {"temperature", {"label_type", "label_name_red", "label_name_green", "label_name_blue"}},
    {"imagelayout", {"label_X", "label_Y", "label_W", "label_H"}},
    {"edidset", {"label_W", "label_H", "label_freq"}},
    {"netset", {"LED1label", "LED2label", "LED3label", "LED4label"}},
    {"netset", {"x_label", "y_label", "w_label", "h_label"}},
    {"advancedoption", {"Button_LCDshow", "Button_other", "Button_rcv_recovery", "Button_factory", "Button_age"}},
    {"machinestate", {"label_MCU", "label_FPGA1"}},
};

// The grid's slot numbers, made without names.
QList<QWidget*> grid_numbers(QWidget* page)
{
    QList<QWidget*> out;
    if (QWidget* grid = page->findChild<QWidget*>("widget_mode"))
        for (QLabel* l : grid->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            if (QRegularExpression("^\\d+$").match(l->text()).hasMatch())
                out << l;
    return out;
}

QString sizes_differ(const QList<QWidget*>& group)
{
    std::map<int, QStringList> by_size;
    for (QWidget* w : group)
        by_size[QFontInfo(w->font()).pixelSize()] << (w->objectName().isEmpty() ? drawn(w).text : w->objectName());
    if (by_size.size() < 2)
        return QString();
    QString out;
    for (const auto& s : by_size)
        out += QString(" %1 px: %2;").arg(s.first).arg(s.second.join(", "));
    return out;
}
} // namespace

class TestPageTexts : public QObject
{
    Q_OBJECT

  private slots:
    void everyTextWholeAndLikeWidgetsAlike()
    {
        PageHarness world;
        g_debugSwitch = 0;
        QLoggingCategory::setFilterRules("*.debug=false");
        QStringList faults;
        int scenes = 0, groups = 0;
        int failed = walk_pages([&](QWidget* page, const QString& scene, int lang) {
            ++scenes;
            const QString where = QString("%1_%2").arg(scene, kPageLanguages[lang]);
            QList<QWidget*> widgets = page->findChildren<QWidget*>();
            widgets.prepend(page);
            for (QWidget* w : widgets)
                if (w->isVisibleTo(page) || w == page)
                    if (QString f = fault(page, w); !f.isEmpty())
                        faults << where + ": " + f;
            for (const LikeGroup& g : kLikeGroups) {
                if (scene != g.scene)
                    continue;
                QList<QWidget*> group;
                for (const QString& name : g.names)
                    if (QWidget* w = page->findChild<QWidget*>(name))
                        group << w;
                QCOMPARE(group.size(), g.names.size());
                ++groups;
                if (QString d = sizes_differ(group); !d.isEmpty())
                    faults << where + ": like widgets in several sizes:" + d;
            }
            if (QList<QWidget*> numbers = grid_numbers(page); !numbers.isEmpty()) {
                QCOMPARE(numbers.size(), 16);
                ++groups;
                if (QString d = sizes_differ(numbers); !d.isEmpty())
                    faults << where + ": grid numbers in several sizes:" + d;
            }
        });
        QCOMPARE(failed, 0);
        QVERIFY(scenes > 250);
        QVERIFY(groups >= 5 * int(std::size(kLikeGroups)));
        for (const QString& f : faults)
            qWarning("%s", qPrintable(f));
        QCOMPARE(faults.size(), 0);
    }
};

QTEST_MAIN(TestPageTexts)
#include "test_page_texts.moc"
