// The tip pop-up: its contents, its 300 ticks and that it never nests.
#include <QtTest>

#include <QFrame>
#include <QLabel>
#include <QTimer>

#include "page_harness.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/tip.h"

class TestTip : public QObject
{
    Q_OBJECT
    PageHarness harness;
    MainWindow* w = harness.main_window();

    QString label_text() const
    {
        QLabel* l = g_tip->content() ? g_tip->content()->findChild<QLabel*>() : nullptr;
        return l ? l->text() : QString();
    }

  private slots:
    void init()
    {
        PageHarness::reset();
        g_tip_flag = 0;
    }

    void doneTipClosesAfter300Ticks()
    {
        int flag_before_end = -1, ticks_seen = 0;
        QTimer::singleShot(0, [&] {
            QCOMPARE(g_tip->geometry(), QRect(100, 60, 120, 120));
            QVERIFY(g_tip->content()->styleSheet().contains("136, 138, 133"));
            for (int i = 0; i < 299; ++i)
                w->slot_update_timer_ticks();
            flag_before_end = g_tip_flag;
            ticks_seen = g_tip->ticks();
            w->slot_update_timer_ticks();
        });
        g_tip->tip_create(1);
        QCOMPARE(flag_before_end, 1);
        QCOMPARE(ticks_seen, 299);
        QCOMPARE(g_tip_flag.load(), u8(0));
        QVERIFY(!g_tip->isVisible());
    }

    void usbTextsFollowTheLanguage()
    {
        g_language = 2;
        g_lcd_lang_valid = 0x04;
        QString shown;
        QTimer::singleShot(0, [&] {
            shown = label_text();
            g_tip->hide();
        });
        g_tip->tip_create(4);
        QCOMPARE(shown, QString("USB-накопитель отключен \nот сети."));
        QCOMPARE(g_tip->geometry(), QRect(50, 60, 220, 120));
        g_lcd_lang_valid = 0x03;
        QTimer::singleShot(0, [&] {
            shown = label_text();
            g_tip->hide();
        });
        g_tip->tip_create(4);
        QCOMPARE(shown, QString("USB drive is unplugged."));
    }

    void otherCodesOnlyRemoveTheContent()
    {
        QTimer::singleShot(0, [&] { g_tip->hide(); });
        g_tip->tip_create(3);
        g_tip_flag = 0;
        g_tip->tip_create(2);
        QVERIFY(g_tip->content() == nullptr);
        QCOMPARE(g_tip_flag.load(), u8(0));
        g_tip->tip_create(7);
        QVERIFY(!g_tip->isVisible());
    }

    void aSecondTipReplacesTheContentForItsOwnTime()
    {
        bool inner_returned = false, shown_after_first_time = false;
        QString replaced;
        QTimer::singleShot(0, [&] {
            for (int i = 0; i < 100; ++i)
                w->slot_update_timer_ticks();
            g_tip->tip_create(5);
            inner_returned = true;
            replaced = label_text();
            for (int i = 0; i < 200; ++i)
                w->slot_update_timer_ticks();
            // The same message again keeps the time running.
            g_tip->tip_create(5);
            shown_after_first_time = g_tip->isVisible() && g_tip_flag;
            for (int i = 0; i < 100; ++i)
                w->slot_update_timer_ticks();
        });
        g_tip->tip_create(3);
        QVERIFY(inner_returned);
        QCOMPARE(replaced, QString("Reading the data,pls wait"));
        QVERIFY(shown_after_first_time);
        QVERIFY(!g_tip->isVisible());
        QCOMPARE(g_tip_flag.load(), u8(0));
    }
};

QTEST_MAIN(TestTip)
#include "test_tip.moc"
