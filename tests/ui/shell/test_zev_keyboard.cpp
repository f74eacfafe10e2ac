// The USB keypad: finding it, the hot keys, the LED report (sent only on
// change), and the keys played on the simulated keypad.
#include <QtTest>

#include <cstring>

#include <QSignalSpy>

#include "core/zevrampara.h"
#include "page_harness.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/tip.h"
#include "ui/shell/zev_keyboard.h"
#include "ui/shell/zev_keys.h"
#include "video/c331_manage.h"

using Report = std::vector<uint8_t>;

namespace
{
int layer_word(int i, int field)
{
    return ZevRamPara::img16(ZevRamPara::layerOffset(i) + field);
}

class KeyPage : public QWidget, public PageView
{
  public:
    void language_changed() override {}
    void syncUpdate(int) override {}
    QList<int> released;

  protected:
    void keyReleaseEvent(QKeyEvent* e) override { released << e->key(); }
};

// A page that has the keys while it lives.
struct PageWithKeys {
    PageWithKeys()
    {
        PageRegistry::set(PageId::Option, &page);
        g_page_focus = PageId::Option;
    }
    ~PageWithKeys() { PageRegistry::set(PageId::Option, nullptr); }
    KeyPage page;
};

// Counts the keys a widget is given and hides it after the third.
class ThreeKeys : public QObject
{
  public:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::KeyRelease && ++count == 3)
            static_cast<QWidget*>(o)->hide();
        return false;
    }
    int count = 0;
};
} // namespace

class TestZevKeyboard : public QObject
{
    Q_OBJECT
    PageHarness harness;
    board::sim::SimKeypad& keypad() { return harness.sim().board().simKeypad(); }
    // Keys played on the simulated keypad: text appended to its key file.
    bool play(const QByteArray& names)
    {
        QFile f(QString::fromStdString(keypad().keyFile()));
        return f.open(QIODevice::Append) && f.write(names) == names.size();
    }

  private slots:
    void initTestCase() { g_debugSwitch = 0; }

    void init()
    {
        for (int i = 0; i < 6; ++i)
            put_window(i, i == 0, 2);
        for (int s = 0; s < 6; ++s)
            put_timing(s, 0, 0, 0);
        ZevRamPara::put16(img(), Img::kKeyLock, 0);
        g_image_current = 0;
        g_update_flag = 0;
        c331_manage::para_update_flag = 0;
        keypad().clearReports();
        keypad().setPresent(true);
        keypad().setInitFails(false);
        keypad().setWriteFails(false);
        std::memset(SyncUpdate::pInstance()->key_led, 0, 5);
    }

    void finding_the_keypad()
    {
        QCOMPARE(check_hiddev(), u32(1));
        keypad().setPresent(false);
        QCOMPARE(check_hiddev(), u32(0));
        keypad().setPresent(true);
        keypad().setInitFails(true);
        QCOMPARE(check_hiddev(), u32(0));
    }

    void hot_keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("signals_");
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("flags");
        // Windows 0, 1 and 3 on; window 1 shows a crop; current window 1.
        QTest::newRow("A selects window 1") << int('A') << false << 0 << 1 << 0x8000 << 0;
        QTest::newRow("B on current: no signal") << int('B') << false << 1 << 0 << 0x8000 << 0;
        QTest::newRow("C window off: ignored") << int('C') << false << 1 << 0 << 0x8000 << 0;
        QTest::newRow("D selects window 4") << int('D') << false << 3 << 1 << 0x8000 << 0;
        QTest::newRow("I takes HDMI3 plain") << int('I') << false << 1 << 0 << 4 << 0;
        QTest::newRow("G takes EXT") << int('G') << false << 1 << 0 << 0 << 0;
        QTest::newRow("K takes HDMI1") << int('K') << false << 1 << 0 << 2 << 0;
        QTest::newRow("N freezes") << int('N') << false << 1 << 0 << 0x8000 << 2;
        QTest::newRow("P blacks out") << int('P') << false << 1 << 0 << 0x8000 << 1;
        QTest::newRow("M is no hot key") << int('M') << false << 1 << 0 << 0x8000 << 0;
        QTest::newRow("OK is no hot key") << int('Q') << false << 1 << 0 << 0x8000 << 0;
        QTest::newRow("locked A") << int('A') << true << 1 << 0 << 0x8000 << 0;
        QTest::newRow("locked I") << int('I') << true << 1 << 0 << 0x8000 << 0;
        QTest::newRow("locked P") << int('P') << true << 1 << 0 << 0x8000 << 0;
    }

    void hot_keys()
    {
        QFETCH(int, key);
        QFETCH(bool, locked);
        put_window(1, 1, 0x8000);
        put_window(3, 1, 2);
        ZevRamPara::put16(img(), Img::kKeyLock, locked ? 1 : 0);
        g_image_current = 1;
        QSignalSpy spy(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
        zev_keyboard().update_usb_keyEvent(key);
        QTEST(int(g_image_current), "current");
        QTEST(int(spy.count()), "signals_");
        QTEST(layer_word(1, Img::kLayerSource), "source");
        QTEST(layer_word(1, Img::kLayerFlags) & 3, "flags");
    }

    void led_report_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("source");
        QTest::addColumn<bool>("signal");
        QTest::addColumn<int>("flags");
        QTest::addColumn<Report>("report");
        QTest::newRow("window 1, EXT on, frozen and black")
            << 0 << 0 << true << 3 << Report{0xA5, 0x01, 0x10, 0x00, 0x05};
        QTest::newRow("window 2, DVI off") << 1 << 1 << false << 0 << Report{0xA5, 0x04, 0x80, 0x00, 0x00};
        QTest::newRow("window 3, HDMI1 on") << 2 << 2 << true << 0 << Report{0xA5, 0x10, 0x00, 0x10, 0x00};
        QTest::newRow("window 4, HDMI2 off") << 3 << 3 << false << 0 << Report{0xA5, 0x40, 0x00, 0x80, 0x00};
        QTest::newRow("window 5, HDMI3 on") << 4 << 4 << true << 0 << Report{0xA5, 0x00, 0x01, 0x01, 0x00};
        QTest::newRow("window 6, HDMI4 off") << 5 << 5 << false << 2 << Report{0xA5, 0x00, 0x04, 0x08, 0x01};
    }

    void led_report()
    {
        QFETCH(int, window);
        QFETCH(int, source);
        QFETCH(bool, signal);
        QFETCH(int, flags);
        put_window(window, 1, u16(source), u16(flags));
        if (signal)
            put_timing(source, 1920, 1080, 60);
        g_image_current = u8(window);
        SyncUpdate::pInstance()->update_usb_keyLed();
        QCOMPARE(keypad().reports().size(), size_t(1));
        QTEST(keypad().reports()[0], "report");
    }

    void report_of_a_crop_names_its_source()
    {
        ZevRamPara::put16(img(), Img::kCropTable + 30, 0x8000 | 5);
        put_window(0, 1, 0x8000 | 3);
        SyncUpdate::pInstance()->update_usb_keyLed();
        QCOMPARE(keypad().reports().back(), (Report{0xA5, 0x01, 0x00, 0x08, 0x00}));
    }

    void report_only_on_change()
    {
        SyncUpdate* sync = SyncUpdate::pInstance();
        sync->update_usb_keyLed();
        sync->update_usb_keyLed();
        QCOMPARE(keypad().reports().size(), size_t(1));
        put_timing(2, 1920, 1080, 60); // window 1's input gets a signal
        sync->update_usb_keyLed();
        QCOMPARE(keypad().reports().size(), size_t(2));
        g_update_flag = 1;
        sync->update_usb_keyLed();
        QCOMPARE(keypad().reports().size(), size_t(3));
        QCOMPARE(keypad().reports().back()[0], u8(0x5A));
    }

    void failed_report_not_resent_until_change()
    {
        keypad().setWriteFails(true);
        SyncUpdate::pInstance()->update_usb_keyLed();
        keypad().setWriteFails(false);
        SyncUpdate::pInstance()->update_usb_keyLed();
        QCOMPARE(keypad().reports().size(), size_t(0));
        put_window(0, 1, 2, 2);
        SyncUpdate::pInstance()->update_usb_keyLed();
        QCOMPARE(keypad().reports().size(), size_t(1));
    }

    void para_sync_lights_keypad_only_when_found()
    {
        g_page_focus = 200;
        g_zev_keys = 0;
        SyncUpdate::pInstance()->para_sync(105);
        QCOMPARE(keypad().reports().size(), size_t(0));
        g_zev_keys = 1;
        SyncUpdate::pInstance()->para_sync(105);
        QCOMPARE(keypad().reports().size(), size_t(1));
        g_zev_keys = 0;
    }

    void key_names_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("codes");
        QTest::newRow("letters") << "a B\nS\n" << QList<int>{65, 66, 83};
        QTest::newRow("names") << "win2 HDMI3 freeze black ok left right mode back\n"
                               << QList<int>{66, 73, 78, 80, 81, 83, 82, 77, 79};
        QTest::newRow("sources") << "EXT DVI HDMI1 HDMI2 HDMI4" << QList<int>{71, 72, 75, 76, 74};
        QTest::newRow("comments and unknown") << "# OK\nZ T WIN7 OK # B\n" << QList<int>{81};
    }

    void key_names()
    {
        QFETCH(QString, text);
        std::vector<int> codes = board::sim::SimKeypad::parseKeys(text.toStdString());
        QTEST(QList<int>(codes.begin(), codes.end()), "codes");
    }

    void played_keys_reach_the_page_with_the_keys()
    {
        PageWithKeys focus;
        KeyPage& page = focus.page;
        KeypadPlayer player(keypad());
        QVERIFY(play("WIN2 OK\nLEF"));
        player.take_keys();
        QTRY_COMPARE(page.released, (QList<int>{66, 81}));
        QVERIFY(play("T\n"));
        player.take_keys();
        QTRY_COMPARE(page.released, (QList<int>{66, 81, 83}));
    }

    // Keys played before the player watched the file gave it no report:
    // they reach the page all the same, with those played after.
    void keys_played_before_the_player_reach_the_page_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QList<int>>("released");
        QTest::newRow("all before") << QByteArray("OK RIGHT\n") << QByteArray() << QList<int>{81, 82};
        QTest::newRow("a line ended after") << QByteArray("OK RI") << QByteArray("GHT\n") << QList<int>{81, 82};
        QTest::newRow("before and after") << QByteArray("OK\n") << QByteArray("LEFT\n") << QList<int>{81, 83};
    }
    void keys_played_before_the_player_reach_the_page()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QList<int>, released);
        PageWithKeys focus;
        QVERIFY(play(before));
        KeypadPlayer player(keypad());
        QVERIFY(play(after));
        QTRY_COMPARE(focus.page.released, released);
    }

    void played_keys_reach_the_number_keypad_while_it_is_shown()
    {
        PageWithKeys focus;
        KeyPage& page = focus.page;
        NumberKeyboard kb;
        g_numberkeyboard = &kb;
        kb.label_show("W", "0");
        KeypadPlayer player(keypad());
        QVERIFY(play("RIGHT OK BACK\n"));
        player.take_keys();
        QTimer::singleShot(5000, &kb, &QWidget::hide); // keys that went astray
        kb.exec();
        QCOMPARE(kb.text(), QString("2"));
        QCOMPARE(page.released, QList<int>{});
        g_numberkeyboard = nullptr;
    }

    void played_keys_go_to_a_shown_tip_not_the_page_under_it()
    {
        PageWithKeys focus;
        KeyPage& page = focus.page;
        TIP tip;
        g_tip = &tip;
        ThreeKeys taken;
        tip.installEventFilter(&taken);
        KeypadPlayer player(keypad());
        QVERIFY(play("OK BACK LEFT\n"));
        QTimer::singleShot(0, &player, &KeypadPlayer::take_keys);
        QTimer::singleShot(5000, &tip, &QWidget::hide); // keys that went astray
        tip.tip_create(4);
        g_tip_flag = 0;
        QCOMPARE(taken.count, 3);
        QCOMPARE(page.released, QList<int>{});
        g_tip = nullptr;
    }

    void led_reports_readable_in_file()
    {
        SyncUpdate::pInstance()->update_usb_keyLed();
        QByteArray text = readHostFile(QString::fromStdString(keypad().ledFile()));
        QVERIFY(text.endsWith("A5 01 00 20 00\n"));
    }
};

QTEST_MAIN(TestZevKeyboard)
#include "test_zev_keyboard.moc"
