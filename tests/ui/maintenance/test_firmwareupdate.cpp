// The update-progress page: shown and closed through the main window from
// any thread, animated by the GUI tick.
#include <QtTest>

#include <thread>

#include "page_harness.h"
#include "ui/maintenance/firmwareupdate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT
    PageHarness harness;
    MainWindow* w = harness.main_window();

  private slots:
    void closingWithoutAPageDoesNothing()
    {
        QVERIFY(g_move_update == nullptr);
        firmware_update_over();
        QVERIFY(g_move_update == nullptr);
    }

    void workerThreadOpensAndClosesThroughTheMainWindow()
    {
        // The PC link asks from its own thread; the page appears on the GUI thread.
        std::thread link([this] { QMetaObject::invokeMethod(w, "update_start", Qt::QueuedConnection); });
        link.join();
        QVERIFY(g_move_update == nullptr);
        QTRY_VERIFY(g_move_update != nullptr);
        QVERIFY(g_move_update->isVisible());

        std::thread done([this] { QMetaObject::invokeMethod(w, "update_over", Qt::QueuedConnection); });
        done.join();
        QTRY_VERIFY(g_move_update == nullptr);
    }

    void tickAnimatesOnlyWhileAnUpdateRuns()
    {
        w->update_start();
        QVERIFY(g_move_update);
        g_update_flag = 0;
        for (int i = 0; i < 10; ++i)
            w->slot_update_timer_ticks();
        QCOMPARE(g_move_update->spinner_step(), 0);

        g_update_flag = 1;
        w->slot_update_timer_ticks();
        QCOMPARE(g_move_update->spinner_step(), 0); // odd tick: no step
        w->slot_update_timer_ticks();
        QCOMPARE(g_move_update->spinner_step(), 1);
        for (int i = 2; i < 100; ++i)
            w->slot_update_timer_ticks();
        QCOMPARE(g_move_update->seconds(), 1);
        QCOMPARE(g_move_update->spinner_step(), 50 % 12);

        // A new update starts the count again on the same page.
        FirmwareUpdate* page = g_move_update;
        w->update_start();
        QCOMPARE(g_move_update, page);
        QCOMPARE(g_move_update->seconds(), 0);
        g_update_flag = 0;
        w->update_over();
        QVERIFY(g_move_update == nullptr);
    }
};

QTEST_MAIN(TestFirmwareUpdate)
#include "test_firmwareupdate.moc"
