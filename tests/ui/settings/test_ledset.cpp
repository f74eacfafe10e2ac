// The LED screen size page: the typed limits and the apply.
#include <QtTest>

#include <cstring>

#include <QLineEdit>
#include <QPushButton>

#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "ui/settings/ledset.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "video/c331_manage.h"

namespace
{
u16 word(int offset)
{
    return ZevRamPara::img16(offset);
}
} // namespace

class TestLedset : public QObject
{
    Q_OBJECT
    PageHarness harness;
    u8 regs[256] = {};

  private slots:
    void initTestCase() { fpga_manage::MCU_REG_func[0] = regs; }
    void cleanupTestCase() { fpga_manage::MCU_REG_func[0] = nullptr; }
    void init()
    {
        PageHarness::reset();
        g_set_led_para = 0;
        regs[80] = 0;
        ZevRamPara::put16(img(), Img::kLedWidth, 1920);
        ZevRamPara::put16(img(), Img::kLedHeight, 1080);
        std::memcpy(ZevRamPara::p_zevrampara_shadow, img(), Img::kSize);
    }

    void limits_data()
    {
        QTest::addColumn<bool>("width");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("w");
        QTest::addColumn<QString>("h");
        QTest::addColumn<QString>("wantW");
        QTest::addColumn<QString>("wantH");
        QTest::newRow("wide") << true << "9000"
                              << "1920"
                              << "1500"
                              << "8188"
                              << "1280";
        QTest::newRow("area by width") << true << "5000"
                                       << "1920"
                                       << "3000"
                                       << "5000"
                                       << "2097";
        QTest::newRow("area by height") << false << "5000"
                                        << "3000"
                                        << "1080"
                                        << "2600"
                                        << "5000";
        QTest::newRow("small") << false << "10"
                               << "1920"
                               << "1080"
                               << "1920"
                               << "64";
        QTest::newRow("at the limit") << true << "8188"
                                      << "1920"
                                      << "1080"
                                      << "8188"
                                      << "1080";
        QTest::newRow("very long") << true << "99999999999999999999"
                                   << "1920"
                                   << "100"
                                   << "8188"
                                   << "100";
        QTest::newRow("not a number") << true << "abc"
                                      << "1920"
                                      << "1080"
                                      << "64"
                                      << "1080";
    }
    void limits()
    {
        QFETCH(bool, width);
        QFETCH(QString, typed);
        QFETCH(QString, w);
        QFETCH(QString, h);
        ledset_limit(width, typed, &w, &h);
        QTEST(w, "wantW");
        QTEST(h, "wantH");
    }

    void sameSizeRewritesWordsOnly()
    {
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLayer + 26 + Img::kLayerEnable, 1);
        ledset p(nullptr);
        p.on_Button_apply1_clicked();
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        QCOMPARE(word(1412), u16(1920));
        QCOMPARE(word(1422), u16(1080));
        QCOMPARE(word(Img::kLayer + 26), u16(1)); // window 1 stays
    }

    void newSizeResetsWindowsAndAsksForLedSetupWhenUp()
    {
        for (u8 up : {0, 3}) {
            regs[80] = up;
            g_set_led_para = 0;
            ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLayer + 26 * 3, 1);
            ledset p(nullptr);
            p.findChild<QLineEdit*>("lineEdit_ledw")->setText("0"); // checked again: 64
            p.findChild<QLineEdit*>("lineEdit_ledh")->setText("720");
            p.on_Button_apply1_clicked();
            QCOMPARE(word(Img::kLedWidth), u16(64));
            QCOMPARE(word(Img::kLayer + Img::kLayerW), u16(64));
            QCOMPARE(word(Img::kLayer + Img::kLayerH), u16(720));
            QCOMPARE(word(Img::kLayer + 26 * 3), u16(0));
            QCOMPARE(g_set_led_para.load(), u8(up == 3 ? 1 : 0));
        }
    }

    void rowsWrapAndCancelLeaves()
    {
        auto* p = new ledset(nullptr);
        g_ledset = p;
        release_key(p, 'S');
        QVERIFY(p->findChild<QPushButton*>("Button_cancle")->styleSheet().contains("255,171,84"));
        release_key(p, 'Q');
        QVERIFY(!g_ledset);
        QCOMPARE(g_page_focus.load(), u8(PageId::OutputSet));
    }
};

QTEST_MAIN(TestLedset)
#include "test_ledset.moc"
