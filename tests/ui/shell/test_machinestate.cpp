// The machine-state page: inputs, output-port links, versions and serial
// number, its refresh (ports only on code 11) and its keys.
#include <QtTest>

#include <cstring>

#include <QFrame>
#include <QLabel>

#include "board/sim/sim_fpga.h"
#include "chips/tarvosource.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "page_harness.h"
#include "ledout/fpga_manage.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui_machinestate.h"

namespace
{
// Online icons are told apart by the picture they show.
qint64 icon_key(const char* path)
{
    return QPixmap(path).cacheKey();
}
QStringList port_icons(MachineState* page)
{
    QStringList out;
    for (QLabel* l : page->ports()->findChildren<QLabel*>())
        if (l->geometry().height() == 14 && l->geometry().y() == 27)
            out << (l->pixmap(Qt::ReturnByValue).toImage() == QPixmap(":/png/online.png").toImage() ? "on" : "off");
    return out;
}
} // namespace

class TestMachineState : public QObject
{
    Q_OBJECT
    PageHarness harness;

    MachineState* open()
    {
        g_machinestate = new MachineState(nullptr);
        g_page_focus = PageId::MachineState;
        return g_machinestate;
    }

  private slots:
    void initTestCase()
    {
        harness.main_window();
        g_language = 1;
        g_debugSwitch = 0;
    }

    void cleanup()
    {
        delete g_machinestate.get();
        QCoreApplication::processEvents();
    }

    // First: before any FPGA manager exists.
    void without_fpga_manager_all_reads_zero()
    {
        MachineState* page = open();
        QCOMPARE(page->form()->label_FPGA1->text(), QString("FPGA:V11.00.00 2000-00-00"));
        QCOMPARE(page->form()->label_MCU->text(), QString("MCU:V11.02.01 2026-03-30"));
        QCOMPARE(port_icons(page), QStringList(QVector<QString>(16, "off").toList()));
        QFrame* ports = page->ports();
        page->syncUpdate(11);
        QCOMPARE(page->ports(), ports);
        QCOMPARE(page->form()->label_2->text(), QString("SN:KQ9999"));
    }

    void inputs_online_when_timing_whole()
    {
        for (int s = 0; s < 6; ++s)
            put_timing(s, 0, 0, 0);
        put_timing(2, 1920, 1080, 60);
        put_timing(0, 1920, 1080, 0);
        MachineState* page = open();
        QCOMPARE(page->form()->sourceid0name->text().contains("HDMI1"), true);
        QCOMPARE(page->form()->sourceid5name->text().contains("EXT"), true);
        QCOMPARE(page->form()->sourceid0pixmap->pixmap(Qt::ReturnByValue).cacheKey(), icon_key(":/png/HDMI13_lv.png"));
        QCOMPARE(page->form()->sourceid5pixmap->pixmap(Qt::ReturnByValue).cacheKey(), icon_key(":/png/HDMI.png"));
        put_timing(2, 0, 0, 0);
        page->syncUpdate(1);
        QCOMPARE(page->form()->sourceid0pixmap->pixmap(Qt::ReturnByValue).cacheKey(), icon_key(":/png/HDMI13_1.png"));
    }

    void ports_versions_and_refresh_on_code_11()
    {
        board::sim::attachFpga(harness.sim().board());
        tarvosource::p_tarvo_source = new tarvosource();
        fpga_manage::pInstance();
        u8* reg = fpga_manage::MCU_REG_func[0];
        reg[28] = 0x05;
        reg[29] = 0x15;
        reg[30] = 0x08;
        reg[31] = 0x24;
        reg[80] = 3; // the FPGA is up
        board::sim::simFpga()->setLinks(0x0003);
        Utils::set_net_barcode("123");
        MachineState* page = open();
        QCOMPARE(page->form()->label_FPGA1->text(), QString("FPGA:V11.00.05 2024-08-15"));
        QCOMPARE(page->form()->label_2->text(), QString("SN:123"));
        QStringList expected = QVector<QString>(16, "off").toList();
        expected[0] = expected[1] = "on";
        QCOMPARE(port_icons(page), expected);
        board::sim::simFpga()->setLinks(0x8000);
        page->syncUpdate(1);
        QCOMPARE(port_icons(page), expected);
        page->syncUpdate(11);
        expected[0] = expected[1] = "off";
        expected[15] = "on";
        QCOMPARE(port_icons(page), expected);
        Utils::set_net_barcode(" ");
    }

    void simulated_fpga_version_is_a_date()
    {
        // Registers 29, 30 and 31 are day, month and year, as the page reads them.
        for (u8 r : {28, 29, 30, 31})
            fpga_manage::p_fpga_manage->read_from_register(r, 0);
        QCOMPARE(open()->form()->label_FPGA1->text(), QString("FPGA:V11.00.01 2024-11-20"));
    }

    void titles_by_language_data()
    {
        QTest::addColumn<int>("lang");
        QTest::addColumn<QString>("title");
        QTest::newRow("zh") << 0 << "设备信息";
        QTest::newRow("en") << 1 << "Devices";
        QTest::newRow("ru") << 2 << "Устройство";
        QTest::newRow("vn") << 3 << "Thiết bị";
        QTest::newRow("tw") << 4 << "設備信息";
    }

    void titles_by_language()
    {
        QFETCH(int, lang);
        g_language = u8(lang);
        MachineState* page = open();
        QTEST(page->form()->label_title->text(), "title");
        const char* version = lang == 1 || lang == 3 ? ":/png/en_version_state.png"
                              : lang == 2            ? ":/png/ru_version_state.png"
                                                     : ":/png/version_state.png";
        QCOMPARE(page->form()->label_state3->pixmap(Qt::ReturnByValue).cacheKey(), icon_key(version));
        g_language = 1;
    }

    void back_returns_to_main_window()
    {
        MachineState* page = open();
        release_key(page, 81); // OK does nothing here
        QCOMPARE(int(g_page_focus), int(PageId::MachineState));
        release_key(page, 79);
        QCOMPARE(int(g_page_focus), int(PageId::MainWindow));
        QVERIFY(!g_machinestate);
    }
};

QTEST_MAIN(TestMachineState)
#include "test_machinestate.moc"
