// The USB-stick watcher: add, remove and mount messages give codes 100 to
// 102; the mount wait is bounded and never holds the messages up; the gate
// holds messages back; a mounted stick closes the option page only while it
// is still open; a plug and a pull each show their tips once, each for its
// time.
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QSignalSpy>

#include "board/linux_usb.h"
#include "core/zevrampara.h"
#include "page_harness.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/tip.h"
#include "ui/shell/usbserver.h"

namespace
{
const char* const kDisk = "/devices/platform/soc/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda";

class OptionPage : public ZevPage
{
  public:
    OptionPage() : ZevPage(nullptr, PageId::Option, PageId::MainWindow) {}
    void language_changed() override {}
};

// The USB-upgrade page, which shows the stick's tips.
class UpgradePage : public ZevPage
{
  public:
    UpgradePage() : ZevPage(nullptr, PageId::firmware_usbgrade, PageId::AdvancedOption) {}
    void language_changed() override {}
};

struct Seen {
    QString text;
    int ticks;
    bool operator==(const Seen& o) const { return text == o.text && ticks == o.ticks; }
};

// Runs work on a thread of its own while the tick runs on, as the GUI
// tick would, until the work is done.
void with_ticks_running(const std::function<void()>& work)
{
    std::atomic<bool> done{false};
    std::thread t([&] {
        work();
        done = true;
    });
    while (!done) {
        G_timeTicks += 1;
        std::this_thread::yield();
    }
    t.join();
}

// Lets a pending mount check run its course.
void settle(UsbServer& server)
{
    while (server.mount_step())
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

QList<int> codes(const QSignalSpy& spy)
{
    QList<int> out;
    for (const QList<QVariant>& args : spy)
        out << args.at(0).toInt();
    return out;
}
} // namespace

class TestUsbServer : public QObject
{
    Q_OBJECT
    PageHarness harness;
    QString storage = harness.sim().hostQ("/proc/scsi/usb-storage");
    board::sim::SimUevents& uevents() { return harness.sim().board().simUevents(); }

  private slots:
    void initTestCase() { g_debugSwitch = 0; }

    // The tips the operator sees while the watcher reads the simulated
    // stick and the GUI tick runs, each with the ticks it stayed.
    QList<Seen> tips_seen(UsbServer& server, MainWindow* w)
    {
        QList<Seen> seen;
        bool shown_before = false;
        int idle = 0;
        QEventLoop loop;
        QTimer step;
        connect(&step, &QTimer::timeout, [&] {
            w->slot_update_timer_ticks();
            server.recvData(0);
            const bool busy = server.mount_step() || uevents().pending() || g_tip_flag;
            QLabel* label = g_tip_flag && g_tip->content() ? g_tip->content()->findChild<QLabel*>() : nullptr;
            if (label && (!shown_before || seen.last().text != label->text()))
                seen << Seen{label->text(), 0};
            if (label)
                ++seen.last().ticks;
            shown_before = label;
            idle = busy ? 0 : idle + 1;
            if (idle > 10)
                loop.quit();
        });
        step.start(0);
        loop.exec();
        return seen;
    }

    void init()
    {
        QDir(storage).removeRecursively();
        g_delay_usbserver = 0;
        g_page_focus = PageId::MainWindow;
    }

    void messages_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("storage_");
        QTest::addColumn<QList<int>>("expected");
        QString disk = kDisk;
        QTest::newRow("partition added") << "add@" + disk + "/sda1" << true << QList<int>{100, 102};
        QTest::newRow("whole disk") << "add@" + disk << true << QList<int>{100};
        QTest::newRow("sda10 is no partition") << "add@" + disk + "/sda10" << true << QList<int>{100};
        QTest::newRow("partition removed, storage left") << "remove@" + disk + "/sda1" << true << QList<int>{101, 102};
        QTest::newRow("storage never comes") << "remove@" + disk + "/sda1" << false << QList<int>{101};
        QTest::newRow("interface") << "add@/devices/platform/soc/usb1/1-1/1-1:1.0" << false << QList<int>{100};
        QTest::newRow("other action") << "change@" + disk + "/sda1" << true << QList<int>{102};
        QTest::newRow("case counts") << "ADD@/devices/x" << false << QList<int>{};
    }

    void messages()
    {
        QFETCH(QString, path);
        QFETCH(bool, storage_);
        if (storage_)
            QVERIFY(QDir().mkpath(storage));
        UsbServer server(uevents());
        QSignalSpy spy(&server, &UsbServer::sig_usb_update);
        QByteArray text = path.toUtf8();
        u32 before = G_timeTicks;
        with_ticks_running([&] {
            server.handle_message(text.constData());
            settle(server);
        });
        QTEST(codes(spy), "expected");
        if (codes(spy).contains(102))
            QVERIFY(G_timeTicks - before > UsbServer::kSettleTicks);
    }

    void plugging_and_pulling_the_stick()
    {
        UsbServer server(uevents());
        QSignalSpy spy(&server, &UsbServer::sig_usb_update);
        uevents().plugStick();
        QVERIFY(QFileInfo::exists(storage));
        with_ticks_running([&] {
            while (uevents().pending())
                server.recvData(0);
            settle(server);
        });
        QCOMPARE(codes(spy), (QList<int>{100, 100, 100, 100, 102}));
        spy.clear();
        uevents().pullStick();
        QVERIFY(!QFileInfo::exists(storage));
        with_ticks_running([&] {
            while (uevents().pending())
                server.recvData(0);
            settle(server);
        });
        QCOMPARE(codes(spy), (QList<int>{101, 101, 101, 101}));
        QCOMPARE(server.recvData(0), u32(0));
    }

    void a_partition_without_storage_holds_nothing_up()
    {
        UsbServer server(uevents());
        QSignalSpy spy(&server, &UsbServer::sig_usb_update);
        QByteArray partition = QByteArray("add@") + kDisk + "/sda1";
        QByteArray disk = QByteArray("remove@") + kDisk;
        // The storage is not there: the message is handled at once and the
        // check goes on, until a removal ends it.
        server.handle_message(partition.constData());
        QVERIFY(server.mount_step());
        server.handle_message(disk.constData());
        QVERIFY(!server.mount_step());
        QCOMPARE(codes(spy), (QList<int>{100, 101}));
    }

    void a_plug_and_a_pull_show_their_tips_once_each_for_its_time()
    {
        g_language = 1;
        auto* w = new MainWindow(nullptr);
        g_mainwindow = w;
        UpgradePage page;
        PageRegistry::set(PageId::firmware_usbgrade, &page);
        g_page_focus = PageId::firmware_usbgrade;
        UsbServer server(uevents());
        connect(&server, &UsbServer::sig_usb_update, SyncUpdate::pInstance(), &SyncUpdate::para_sync,
                Qt::QueuedConnection);
        uevents().plugStick();
        QList<Seen> plug = tips_seen(server, w);
        QCOMPARE(plug.size(), 2);
        QCOMPARE(plug[0].text, QString("USB driver is connected,please wait..."));
        QCOMPARE(plug[1], (Seen{"Reading the data,pls wait", 299}));
        uevents().pullStick();
        QCOMPARE(tips_seen(server, w), (QList<Seen>{{"USB drive is unplugged.", 299}}));
        PageRegistry::set(PageId::firmware_usbgrade, nullptr);
        delete w;
    }

    void stick_file_plugs_the_stick()
    {
        // Written before anyone waited for a message: still a plug.
        QVERIFY(writeHostFile(harness.sim().hostQ("/sim/usb"), "in\n"));
        QCOMPARE(uevents().wait(0), 1);
        QCOMPARE(uevents().pending(), size_t(4));
        QVERIFY(QFileInfo::exists(storage));
        QVERIFY(writeHostFile(harness.sim().hostQ("/sim/usb"), "out\n"));
        uevents().wait(0);
        QCOMPARE(uevents().pending(), size_t(8));
        QVERIFY(!QFileInfo::exists(storage));
        char buffer[4096];
        while (uevents().pending())
            uevents().receive(buffer, sizeof buffer);
    }

    void a_reader_without_time_limit_is_woken_by_the_stick_file()
    {
        auto ready = std::make_shared<std::atomic<int>>(-2);
        board::sim::SimUevents* source = &uevents();
        std::thread([source, ready] { *ready = source->wait(-1); }).detach();
        QTest::qWait(50);
        QCOMPARE(ready->load(), -2);
        // Written behind the board's back: only the kernel tells.
        QFile f(harness.sim().hostQ("/sim/usb"));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("in\n");
        f.close();
        QTRY_COMPARE(ready->load(), 1);
        QVERIFY(writeHostFile(harness.sim().hostQ("/sim/usb"), "out\n"));
        uevents().wait(0);
        char buffer[4096];
        while (uevents().pending())
            uevents().receive(buffer, sizeof buffer);
    }

    void thread_reads_once_the_gate_opens()
    {
        auto* server = new UsbServer(uevents()); // the thread runs for good
        // Queued to this thread, as the GUI takes them.
        QObject gui;
        QList<int> seen;
        connect(
            server, &UsbServer::sig_usb_update, &gui, [&](int code) { seen << code; }, Qt::QueuedConnection);
        uevents().inject(board::sim::SimUevents::kernelMessage("add", "/devices/x", "usb"));
        QCOMPARE(server->initialize(), 0);
        QCOMPARE(uevents().pending(), size_t(1));
        g_delay_usbserver = 1;
        QTRY_COMPARE(seen, (QList<int>{100}));
        QCOMPARE(uevents().pending(), size_t(0));
    }

    void bind_failure_starts_nothing()
    {
        uevents().setOpenFails(true);
        UsbServer server(uevents());
        QCOMPARE(server.initialize(), 255);
        uevents().setOpenFails(false);
    }

    void netlink_binds_with_kernel_chosen_port()
    {
        auto a = board::makeNetlinkUevents();
        auto b = board::makeNetlinkUevents();
        if (a->open() != 0)
            QSKIP("no netlink uevent socket here");
        // A fixed port id would refuse the second listener.
        QCOMPARE(b->open(), 0);
        QCOMPARE(a->wait(0) >= 0, true);
    }

    void mounted_stick_closes_the_option_page_data()
    {
        QTest::addColumn<bool>("closed_before");
        QTest::newRow("open") << false;
        QTest::newRow("closed meanwhile") << true;
    }

    void mounted_stick_closes_the_option_page()
    {
        QFETCH(bool, closed_before);
        QVERIFY(QDir().mkpath(storage));
        auto* page = new OptionPage;
        PageRegistry::set(PageId::Option, page);
        g_page_focus = PageId::Option;
        UsbServer server(uevents());
        QByteArray text = QByteArray("add@") + kDisk + "/sda1";
        with_ticks_running([&] {
            server.handle_message(text.constData());
            settle(server);
        });
        if (closed_before) {
            // The operator left the page, and another page has the keys.
            delete page;
            g_page_focus = PageId::Option + 1;
        }
        QCoreApplication::processEvents();
        QVERIFY(!PageRegistry::at(PageId::Option));
        QCOMPARE(int(g_page_focus), closed_before ? PageId::Option + 1 : int(PageId::MainWindow));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_MAIN(TestUsbServer)
#include "test_usbserver.moc"
