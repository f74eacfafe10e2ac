// The picture-quality, colour-temperature and LCD-behaviour pages, driven by
// their keys as the panel delivers them.
#include <QtTest>

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>

#include "core/zevrampara.h"
#include "ui/settings/lcdshow.h"
#include "ui/settings/quality.h"
#include "ui/settings/temperature.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "video/c331_manage.h"

namespace
{
// Keys in a row, each after the previous change has been applied.
void keys(QWidget* w, std::initializer_list<int> codes)
{
    for (int k : codes) {
        c331_manage::para_update_flag = 0;
        release_key(w, k);
    }
}

template <class T> T* child(QWidget* page, const char* name)
{
    T* w = page->findChild<T*>(name);
    Q_ASSERT(w);
    return w;
}
} // namespace

class TestPictureLcdPages : public QObject
{
    Q_OBJECT
    PageHarness harness;

  private slots:
    void init()
    {
        PageHarness::reset();
        c331_apply(0, [] { ZevRamPara::load_defaults(Img::kBrightness, Img::kQualityEnd); });
    }

    void qualityStepsWriteLowByteOnly()
    {
        img()[2177] = 0x12; // high byte of brightness: kept
        quality p(nullptr);
        keys(&p, {kOk, kRight});
        QCOMPARE(child<QLineEdit>(&p, "lineEdit_bright")->text(), QString("100"));
        QCOMPARE(img()[2176], u8(100));
        QCOMPARE(img()[2177], u8(0x12));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        // A step while the previous one is pending is dropped.
        release_key(&p, kLeft);
        QCOMPARE(img()[2176], u8(100));
    }

    void qualityCancelRestoresContrast()
    {
        quality p(nullptr);
        keys(&p, {kRight, kRight, kOk, kLeft, kLeft, kLeft});
        QCOMPARE(img()[2178], u8(47));
        keys(&p, {kBack});
        QCOMPARE(img()[2178], u8(50));
        QCOMPARE(child<QLineEdit>(&p, "lineEdit_Contrast")->text(), QString("50"));
    }

    void qualityResetRestoresColourTemperatureToo()
    {
        img()[2176] = 3;
        img()[2184] = 0;
        img()[2186] = 9;
        quality p(nullptr);
        keys(&p, {kLeft, kOk}); // Left from row 0 reaches Reset
        QCOMPARE(img()[2176], u8(100));
        QCOMPARE(img()[2184], u8(2));
        QCOMPARE(img()[2186], u8(64));
        QStringList shown;
        for (const char* f : {"lineEdit_bright", "lineEdit_Sharpness", "lineEdit_Contrast", "lineEdit_Saturation"})
            shown << child<QLineEdit>(&p, f)->text();
        QCOMPARE(shown, (QStringList{"100", "10", "50", "50"}));
    }

    void editOperationsByTheirNames()
    {
        // The red gain of the colour temperature and the brightness of the
        // picture quality: the same operations, each on its own field.
        img()[2186] = 99;
        temperature t(nullptr);
        keys(&t, {kRight});
        t.get_sel_value();
        for (char op : {0, 0, 7}) {
            c331_manage::para_update_flag = 0;
            t.updownset_sel_value(op);
        }
        QCOMPARE(child<QLineEdit>(&t, "lineEdit_name_red")->text(), QString("100"));
        QCOMPARE(img()[2186], u8(100));
        t.updownset_sel_value(3);
        QCOMPARE(img()[2186], u8(99));
        quality q(nullptr);
        q.get_sel_value();
        c331_manage::para_update_flag = 0;
        q.updownset_sel_value(1);
        q.updownset_sel_value(2);
        QCOMPARE(img()[2176], u8(99));
        QCOMPARE(child<QLineEdit>(&q, "lineEdit_bright")->text(), QString("99"));
    }

    void temperatureTypeWrapsAndAppliesOnOk()
    {
        img()[2184] = 3;
        temperature p(nullptr);
        auto* type = child<QComboBox>(&p, "comboBox_type");
        QCOMPARE(type->currentIndex(), 3);
        keys(&p, {kOk, kRight});
        QCOMPARE(type->currentIndex(), 0);
        QCOMPARE(img()[2184], u8(3));
        keys(&p, {kLeft, kLeft, kOk});
        QCOMPARE(img()[2184], u8(2));
        // Back while editing writes the saved type again and raises the byte.
        keys(&p, {kOk, kRight});
        c331_manage::para_update_flag = 0;
        release_key(&p, kBack);
        QCOMPARE(img()[2184], u8(2));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        QCOMPARE(type->currentIndex(), 2);
    }

    void temperatureStoredTypeAboveThreeShowsCustom()
    {
        img()[2184] = 7;
        temperature p(nullptr);
        QCOMPARE(child<QComboBox>(&p, "comboBox_type")->currentIndex(), 0);
        QCOMPARE(img()[2184], u8(7));
        keys(&p, {kRight, kOk, kLeft}); // red gain 64 -> 63
        QCOMPARE(img()[2186], u8(63));
        QVERIFY(child<QLineEdit>(&p, "lineEdit_name_red")->styleSheet().contains("255,0,0"));
    }

    void lcdChoicesStoreOnOkOnly()
    {
        g_back_to_mainwindow_time = 3000;
        g_auto_lock_time = 30000;
        auto* p = new lcdshow(nullptr);
        QPointer<lcdshow> alive(p);
        g_lcdshow = p;
        QCOMPARE(child<QComboBox>(p, "comboBox_back")->currentText(), QString("30"));
        QCOMPARE(child<QComboBox>(p, "comboBox_lock")->currentText(), QString("5min"));
        keys(p, {kOk, kRight, kRight, kOk});
        QCOMPARE(g_back_to_mainwindow_time, u32(120000));
        QCOMPARE(child<QComboBox>(p, "comboBox_back")->currentText(), QString("Never"));
        // Back while editing leaves without storing.
        keys(p, {kRight, kOk, kRight});
        release_key(p, kBack);
        QCOMPARE(g_auto_lock_time, u32(30000));
        QCOMPARE(g_page_focus.load(), u8(PageId::AdvancedOption));
        QVERIFY(!g_lcdshow);
        QTRY_VERIFY(alive.isNull());
    }
};

QTEST_MAIN(TestPictureLcdPages)
#include "test_picture_lcd_pages.moc"
