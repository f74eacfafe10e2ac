// The GUI tick's timer as the program runs it: asleep while nothing waits on
// the tick, back to 10 ms when a thread asks for it, and on time for the USB
// gate or the next try of a write that waits. Its own program: the tick
// count follows the clock from the first run.
#include <QtTest>

#include <thread>

#include <QTimer>

#include "core/utils.h"
#include "page_harness.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/syncupdate.h"

class TestGuiTick : public QObject
{
    Q_OBJECT
    PageHarness harness;

  private slots:
    void sleepsUntilWokenOrDue()
    {
        MainWindow* w = harness.main_window();
        Utils::set_tick_wake_hook(&MainWindow::wake_tick);
        g_delay_usbserver = 1;
        G_factoryage_ticks = G_timeTicks.load();
        QTimer timer;
        connect(&timer, &QTimer::timeout, w, &MainWindow::clock_tick);
        timer.start(10);
        QTRY_VERIFY(timer.interval() > 60000);

        // Flags set by other threads: the restart, the update page.
        std::atomic<u8>* flags[] = {&g_app_reset_flag, &g_update_flag};
        for (std::atomic<u8>* flag : flags) {
            std::thread([flag] {
                *flag = 1;
                Utils::wake_tick();
            }).join();
            QTRY_COMPARE(timer.interval(), 10);
            *flag = 0;
            QTRY_VERIFY(timer.interval() > 60000);
        }

        // The gate opens on its tick without anyone waking the timer.
        g_delay_usbserver = 0;
        G_timeTicks = kUsbGateTick - 30;
        Utils::wake_tick();
        QTRY_COMPARE(g_delay_usbserver.load(), u32(1));
        QVERIFY(G_timeTicks.load() >= kUsbGateTick);
        QTRY_VERIFY(timer.interval() > 60000);

        // A write that waits for room brings the timer back for its next
        // try, and lets it sleep again once made.
        const QString file = harness.sim().hostQ(ZevRamPara::kDeviceInfoFile);
        QVERIFY(QFile::remove(file) && QDir().mkpath(file + "/in-the-way"));
        ZevRamPara::put16(img(), Img::kContrast, 21);
        SyncUpdate::pInstance()->para_sync(1);
        QTRY_VERIFY(timer.interval() <= int(SyncUpdate::kRetryTicks) * 10);
        QVERIFY(QDir(file).removeRecursively());
        G_timeTicks = G_timeTicks.load() + SyncUpdate::kRetryTicks;
        Utils::wake_tick();
        QTRY_VERIFY(QFileInfo(file).isFile());
        QTRY_VERIFY(timer.interval() > 60000);
    }

  private:
    static constexpr u32 kUsbGateTick = 1000;
};

QTEST_MAIN(TestGuiTick)
#include "test_gui_tick.moc"
