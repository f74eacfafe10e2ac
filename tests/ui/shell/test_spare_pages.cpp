// The pages nothing opens and the rotary-encoder reader nothing starts.
#include <QtTest>

#include <csignal>

#include <QPushButton>

#include "sim_fixture.h"
#include "ui/shell/about.h"
#include "ui/shell/dialog.h"
#include "ui/shell/lcd_touch.h"

class TestSparePages : public QObject
{
    Q_OBJECT

  private slots:
    void buttons_accept()
    {
        About about;
        QTimer::singleShot(0, [&] { about.findChild<QPushButton*>("pushButton")->click(); });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
        QCOMPARE(about.size(), QSize(800, 480));
        Dialog dialog;
        QTimer::singleShot(0, [&] { dialog.findChild<QPushButton*>("pushButton")->click(); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(dialog.findChild<QPushButton*>("pushButton")->text(), QString("退出"));
    }

    void encoder_untouched()
    {
        struct sigaction sa;
        QCOMPARE(sigaction(SIGIO, nullptr, &sa), 0);
        QVERIFY(sa.sa_handler == SIG_DFL);
        QVERIFY(!lcd_touch::p_lcd_touch);
    }

    void encoder_without_device()
    {
        SimFixture sim;
        lcd_touch* touch = lcd_touch::pInstance();
        QCOMPARE(touch->lcd_touch_init(), -1);
        // Nothing was opened, so no handler was installed either.
        struct sigaction sa;
        QCOMPARE(sigaction(SIGIO, nullptr, &sa), 0);
        QVERIFY(sa.sa_handler == SIG_DFL);
        touch->lcd_touch_poll();
        QCOMPARE(lcd_touch::lcdmanageThread(nullptr), nullptr);
        QCOMPARE(touch->lcd_touch_detect(), -1);
        for (int i = 0; i < 200000; ++i)
            touch->auto_timeout_back();
        QCOMPARE(g_untouched_time, u32(100001));
    }
};

QTEST_MAIN(TestSparePages)
#include "test_spare_pages.moc"
