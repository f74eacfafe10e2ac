// Source names, order, styles and icons; the value selector; and that every
// image the shell names is in the compiled resources.
#include <QtTest>

#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>

#include "ui/shell/pagepattern.h"
#include "ui/shell/sourceinfo.h"
#include "ui/shell/zevcontrol.h"

class TestSourceInfo : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase() { shell_resources_init(); }

    void orderTablesAreInverse()
    {
        for (unsigned char id = 0; id < 6; ++id) {
            unsigned char pos = sourceinfo::get_listseq_by_source_id(id);
            QCOMPARE(sourceinfo::get_source_id_by_listseq(pos), id);
            QCOMPARE(sourceinfo::get_source_name_by_listseq(pos), sourceinfo::get_source_name_by_sourceid(id));
        }
        QCOMPARE(sourceinfo::get_source_id_by_listseq(5), (unsigned char)0);
        QCOMPARE(sourceinfo::get_source_id_by_listseq(200), (unsigned char)0);
        QCOMPARE(sourceinfo::get_source_name_by_listseq(5), QString("EXT"));
        QCOMPARE(sourceinfo::get_source_name_by_listseq(6), QString());
        QCOMPARE(sourceinfo::get_listseq_by_source_id(0), (unsigned char)5);
        QCOMPARE(sourceinfo::get_listseq_by_source_id(6), (unsigned char)0);
    }

    void styles()
    {
        QCOMPARE(sourceinfo::get_source_specialstyle1_by_sourceid(4, "HDMI3", 1),
                 QString("<font style = 'font-size:9px' color = #12BB32 >HDMI3</font>"
                         "<font style = 'font-size:9px' color = #4777ff >(</font>"
                         "<font style = 'font-size:9px' color = #4777ff >1</font>"
                         "<font style = 'font-size:9px' color = #4777ff >)</font>"));
        QCOMPARE(sourceinfo::get_source_specialstyle1_by_sourceid(6, "X", 1), QString());
        QCOMPARE(sourceinfo::get_source_specialstyle0_by_sourceid(9),
                 QString("<font style = 'font-size:9px' color = #ffffff >%1</font>"));
        QVERIFY(sourceinfo::get_source_specialstyle0_by_sourceid(5).contains("#51BB28"));
    }

    void icons()
    {
        QLabel label;
        sourceinfo::set_sourceonline_pixmap(&label, 0, 1);
        QCOMPARE(label.pixmap(Qt::ReturnByValue).toImage(), QPixmap(":/png/extlv.png").toImage());
        sourceinfo::set_sourceonline_pixmap(&label, 0, 0);
        QCOMPARE(label.pixmap(Qt::ReturnByValue).toImage(), QPixmap(":/png/HDMI.png").toImage());
        sourceinfo::set_source_pixmap(&label, 7);
        QCOMPARE(label.pixmap(Qt::ReturnByValue).toImage(), QPixmap(":/png/HDMI.png").toImage());
    }

    void selectorLooks()
    {
        zevcontrol z(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), nullptr);
        QVERIFY(z.combo()->styleSheet().contains("255,171,84"));
        QVERIFY(z.left_label()->styleSheet().contains("255,171,84"));
        QCOMPARE(z.combo()->focusPolicy(), Qt::NoFocus);
        z.set_box_modify();
        QVERIFY(z.right_label()->styleSheet().contains("71,119,255"));
        z.set_box_default();
        QVERIFY(z.right_label()->styleSheet().contains("255,171,84"));
        for (int i = 0; i < 16; ++i)
            z.combo()->addItem(QString::number(i + 1));
        z.set_boxindexsel(3);
        QCOMPARE(z.combo()->currentText(), QString("4"));
        z.set_boxindexsel(-1);
        QCOMPARE(z.combo()->currentIndex(), -1);
    }

    // Every ":/png/" literal and every lang_icon("...") variant in the UI
    // code must be in the compiled resources.
    void everyNamedImageExists()
    {
        QDir src = QFileInfo(QStringLiteral(__FILE__)).dir();
        QVERIFY(src.cd("../../.."));
        QRegularExpression literal(R"re(":/png/([A-Za-z0-9_.]+\.png)")re");
        QRegularExpression variant(R"re(lang_icon\("([A-Za-z0-9_.]+\.png)"\))re");
        int seen = 0;
        for (const char* folder : {"ui", "core", "resources"}) {
            QDirIterator it(src.filePath(folder), {"*.cpp", "*.h", "*.ui"}, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                QString text = QString::fromUtf8(f.readAll());
                for (auto m = literal.globalMatch(text); m.hasNext();) {
                    QString name = m.next().captured(1);
                    ++seen;
                    QVERIFY2(QFile::exists(":/png/" + name), qPrintable(f.fileName() + ": " + name));
                }
                for (auto m = variant.globalMatch(text); m.hasNext();) {
                    QString name = m.next().captured(1);
                    for (const char* prefix : {"", "en_", "ru_", "vn_", "tn_"}) {
                        ++seen;
                        QVERIFY2(QFile::exists(QString(":/png/") + prefix + name),
                                 qPrintable(f.fileName() + ": " + prefix + name));
                    }
                }
            }
        }
        QVERIFY(seen > 30);
    }
};

QTEST_MAIN(TestSourceInfo)
#include "test_sourceinfo.moc"
