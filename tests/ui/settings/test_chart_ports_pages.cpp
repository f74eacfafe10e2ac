// The test-pattern, output-port status and serial-port pages.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "ui/settings/linkcom.h"
#include "ui/settings/netset.h"
#include "ui/settings/test_chart.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "video/c331_manage.h"

namespace
{
QString text(QWidget* page, const char* name)
{
    return page->findChild<QLineEdit*>(name) ? page->findChild<QLineEdit*>(name)->text()
                                             : page->findChild<QLabel*>(name)->text();
}
} // namespace

class TestChartPortsPages : public QObject
{
    Q_OBJECT
    PageHarness harness;
    u8 ram[2048] = {};

  private slots:
    void initTestCase() { fpga_manage::MCU_RAM_PARA_func[0] = ram; }
    void cleanupTestCase() { fpga_manage::MCU_RAM_PARA_func[0] = nullptr; }
    void init() { PageHarness::reset(); }

    void patternShownOnOkAndOffOnClose()
    {
        auto* p = new test_chart(nullptr);
        QPointer<test_chart> alive(p);
        g_test_chart = p;
        release_key(p, kLeft); // from red to Close and back
        release_key(p, kRight);
        release_key(p, kRight); // green
        release_key(p, kOk);
        QCOMPARE(ZevRamPara::p_zevrampara_config[Img::kTestPattern], u8(2));
        c331_manage::para_update_flag = 0;
        release_key(p, kOk);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        release_key(p, kLeft);
        release_key(p, kLeft); // Close
        release_key(p, kOk);
        QCOMPARE(ZevRamPara::p_zevrampara_config[Img::kTestPattern], u8(0));
        QCOMPARE(g_page_focus.load(), u8(PageId::Option));
        QTRY_VERIFY(alive.isNull());
    }

    void modeUnderKeyLockDoesNothing()
    {
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kKeyLock, 1);
        test_chart p(nullptr);
        g_test_chart = &p;
        g_page_focus = PageId::test_chart;
        release_key(&p, kMode);
        QVERIFY(g_test_chart);
        QCOMPARE(g_page_focus.load(), u8(PageId::test_chart));
        g_test_chart = nullptr;
    }

    void portRowScrollsWithoutWrap()
    {
        // Port 1's words lie at odd addresses.
        ram[19] = 0x34;
        ram[20] = 0x12;
        ram[25] = 7;
        ram[576 + 8 * 7 + 4] = 200; // port 15's width
        netset p(nullptr);
        QCOMPARE(text(&p, "LED1label"), QString("LED1"));
        release_key(&p, kLeft);
        QCOMPARE(text(&p, "LED1label"), QString("LED1"));
        release_key(&p, kRight);
        QCOMPARE(text(&p, "x_lineEdit"), QString::number(0x1234));
        QCOMPARE(text(&p, "h_lineEdit"), QString("7"));
        for (int i = 0; i < 20; ++i)
            release_key(&p, kRight);
        QCOMPARE(text(&p, "LED1label"), QString("LED13"));
        QCOMPARE(text(&p, "LED4label"), QString("LED16"));
        QCOMPARE(text(&p, "w_lineEdit"), QString("200"));
    }

    void serialValuesStayInEveryLanguage()
    {
        for (u8 lang = 0; lang < 5; ++lang) {
            g_language = lang;
            linkcom p(nullptr);
            QCOMPARE(p.findChild<QPushButton*>("Button_baud")->text(), QString("115200"));
            QVERIFY(!text(&p, "label_baud").isEmpty());
        }
    }
};

QTEST_MAIN(TestChartPortsPages)
#include "test_chart_ports_pages.moc"
