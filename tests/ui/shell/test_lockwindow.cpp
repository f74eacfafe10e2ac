// The home page: its tiles follow window enables, sources, crops, blackout
// and freeze; its texts in five languages; its keys and touch; and the way
// to and from the main window.
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <functional>

#include <QFrame>
#include <QLabel>

#include "core/zevrampara.h"
#include "page_harness.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui_lockwindow.h"

using Setup = std::function<void()>;
Q_DECLARE_METATYPE(Setup)

namespace
{
void crop(int k, u16 id, u16 w, u16 h)
{
    int o = Img::kCropTable + Img::kCropSize * k;
    ZevRamPara::put16(img(), o, id);
    ZevRamPara::put16(img(), o + 6, w);
    ZevRamPara::put16(img(), o + 8, h);
}

// Labels of the tiles in the order they were made: number, name, state.
QLabel* tile_label(LockWindow* page, int layer, int which)
{
    auto labels = page->tiles()->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    return labels.value(3 * layer + which);
}
bool has_icon(LockWindow* page, int layer, const QRect& rect)
{
    for (QLabel* icon : tile_label(page, layer, 0)->findChildren<QLabel*>())
        if (icon->geometry() == rect)
            return true;
    return false;
}
const QRect kFreezeIcon(0, 0, 16, 16);
const QRect kCurrentIcon(28, 0, 12, 12);

} // namespace

class TestLockWindow : public QObject
{
    Q_OBJECT
    PageHarness harness;
    MainWindow* w = nullptr;
    QByteArray factory_image;

    LockWindow* open()
    {
        open_home_page();
        return g_lockwindow;
    }

  private slots:
    void initTestCase()
    {
        factory_image = QByteArray(reinterpret_cast<const char*>(img()), Img::kSize);
        w = harness.main_window();
        g_debugSwitch = 0;
    }

    void init()
    {
        std::memcpy(img(), factory_image.constData(), Img::kSize);
        std::memset(img() + Img::kCropTable, 0, Img::kCropCount * Img::kCropSize);
        for (int i = 0; i < 6; ++i)
            put_window(i, i == 0, 2);
        put_timing(2, 1920, 1080, 60);
        std::memcpy(ZevRamPara::p_zevrampara_shadow, img(), Img::kSize);
        g_language = 1;
        g_lcd_lang_valid = kDefaultLcdLangValid;
        g_image_current = 0;
        PageRegistry::set_user_mode_factory(nullptr);
    }

    void cleanup()
    {
        delete g_lockwindow.get();
        delete g_machinestate.get();
        PageRegistry::set(PageId::CustomMode, nullptr);
        QCoreApplication::processEvents();
    }

    void tiles_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<int>("layer");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("freeze");
        using S = Setup;
        QTest::newRow("timing") << S([] {}) << 0 << "HDMI1"
                                << "1920x1080@60Hz" << false;
        QTest::newRow("rate 0 is no signal") << S([] { put_timing(2, 1920, 1080, 0); }) << 0 << "HDMI1"
                                             << "No signal" << false;
        QTest::newRow("window 1 is always on") << S([] { put_window(0, 0, 3); }) << 0 << "HDMI2"
                                               << "No signal" << false;
        QTest::newRow("enable word 3 is off") << S([] { put_window(1, 3, 2); }) << 1 << ""
                                              << "Close" << false;
        QTest::newRow("crop") << S([] {
            crop(0, 0x8000 | (1 << 8) | 2, 960, 540);
            put_window(1, 1, 0x8000);
        }) << 1 << "HDMI1_Crop2"
                              << "960x540@60Hz" << false;
        QTest::newRow("missing crop") << S([] {
            crop(5, 2, 960, 540); // not in use
            put_window(1, 1, 0x8000 | 5);
        }) << 1 << "HDMI1"
                                      << "No signal" << false;
        QTest::newRow("blackout") << S([] {
            ZevRamPara::put16(img(), Img::kBlackout, 1);
            put_window(2, 1, 2, 2);
        }) << 2 << "HDMI1"
                                  << "Black" << true;
        QTest::newRow("blackout keeps freeze bit")
            << S([] { ZevRamPara::put16(img(), Img::kBlackout, 1); }) << 0 << "HDMI1"
            << "Black" << false;
        QTest::newRow("blackout 2 freezes all")
            << S([] { ZevRamPara::put16(img(), Img::kBlackout, 2); }) << 0 << "HDMI1"
            << "1920x1080@60Hz" << true;
        QTest::newRow("black bit") << S([] { put_window(3, 1, 2, 1); }) << 3 << "HDMI1"
                                   << "Black" << false;
        QTest::newRow("freeze bit") << S([] { put_window(4, 1, 2, 2); }) << 4 << "HDMI1"
                                    << "1920x1080@60Hz" << true;
    }

    void tiles()
    {
        QFETCH(Setup, setup);
        QFETCH(int, layer);
        setup();
        LockWindow* page = open();
        QTEST(tile_label(page, layer, 1)->text(), "name");
        QTEST(tile_label(page, layer, 2)->text(), "state");
        QTEST(has_icon(page, layer, kFreezeIcon), "freeze");
        QCOMPARE(tile_label(page, layer, 0)->text(), QString::number(layer + 1));
    }

    void next_home_page_shows_what_changed_meanwhile()
    {
        put_window(1, 1, 2, 2);
        g_image_current = 1;
        delete open();
        // Window 2 switched off, the mark on window 3, another language.
        put_window(1, 0, 2, 0);
        put_window(2, 1, 2);
        g_image_current = 2;
        g_language = 2;
        LockWindow* page = open();
        QCOMPARE(tile_label(page, 1, 1)->text(), QString());
        QCOMPARE(tile_label(page, 1, 2)->text(), QString("Откл"));
        QCOMPARE(tile_label(page, 1, 2)->geometry(), QRect(155 + 55, 20, 40, 15));
        QVERIFY(!has_icon(page, 1, kFreezeIcon) && !has_icon(page, 1, kCurrentIcon));
        QCOMPARE(tile_label(page, 2, 1)->text(), QString("HDMI1"));
        QCOMPARE(tile_label(page, 2, 2)->geometry(), QRect(55, 50 + 28, 100, 12));
        QVERIFY(has_icon(page, 2, kCurrentIcon));
    }

    void alias_names_cut_at_206_pixels()
    {
        const QString name = "Conference room projector on the left wall of the hall";
        QVERIFY(writeHostFile(harness.sim().hostQ("/data/configs/alias.json"),
                              QString(R"({"namelist":{"source":[{"id":2,"valid":"on","name":"%1"},)"
                                      R"({"id":3,"valid":"off","name":"Off"}]}})")
                                  .arg(name)
                                  .toUtf8()));
        put_window(1, 1, 3);
        LockWindow* page = open();
        QLabel* named = tile_label(page, 0, 1);
        QVERIFY(named->text().endsWith(QChar(0x2026)));
        QVERIFY(name.startsWith(named->text().chopped(1)));
        QVERIFY(QFontMetrics(named->font()).horizontalAdvance(named->text()) <= 206);
        QCOMPARE(tile_label(page, 1, 1)->text(), QString("HDMI2"));
        QFile::remove(harness.sim().hostQ("/data/configs/alias.json"));
    }

    void mark_follows_current_window_alone()
    {
        g_image_current = 3; // window 4 is off
        LockWindow* page = open();
        for (int i = 0; i < 6; ++i)
            QCOMPARE(has_icon(page, i, kCurrentIcon), i == 3);
    }

    void texts_in_five_languages_data()
    {
        QTest::addColumn<int>("lang");
        QTest::addColumn<u32>("valid");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("nosignal");
        QTest::addColumn<QString>("off");
        QTest::newRow("zh") << 0 << kDefaultLcdLangValid << "LED屏:1920 x 1080"
                            << "无信号"
                            << "未开启";
        QTest::newRow("en") << 1 << kDefaultLcdLangValid << "LED size:1920 x 1080"
                            << "No signal"
                            << "Close";
        QTest::newRow("ru") << 2 << kDefaultLcdLangValid << "Размер LED:1920 x 1080"
                            << "Нет сигнала"
                            << "Откл";
        QTest::newRow("vn") << 3 << kDefaultLcdLangValid << "Led:1920 x 1080"
                            << "Không có tín hiệu"
                            << "Đóng";
        QTest::newRow("tw") << 4 << kDefaultLcdLangValid << "LED屏:1920 x 1080"
                            << "無信號"
                            << "未開啟";
        QTest::newRow("vn disabled") << 3 << u32(0x17) << "LED size:1920 x 1080"
                                     << "No signal"
                                     << "Close";
    }

    void texts_in_five_languages()
    {
        QFETCH(int, lang);
        QFETCH(u32, valid);
        g_language = u8(lang);
        g_lcd_lang_valid = valid;
        ZevRamPara::put16(img(), Img::kLedWidth, 1920);
        ZevRamPara::put16(img(), Img::kLedHeight, 1080);
        put_timing(3, 0, 0, 0);
        put_window(0, 1, 3);
        LockWindow* page = open();
        QTEST(page->form()->label_input->text(), "size");
        QTEST(tile_label(page, 0, 2)->text(), "nosignal");
        QTEST(tile_label(page, 5, 2)->text(), "off");
    }

    void values_and_sound()
    {
        ZevRamPara::put16(img(), Img::kBrightness, u16(-5));
        ZevRamPara::put16(img(), Img::kContrast, 77);
        img()[Img::kAudioLayer] = 7; // no such window: window 1 carries it
        ZevRamPara::put16(img(), ZevRamPara::layerOffset(0) + Img::kLayerAudio, 0x8000);
        LockWindow* page = open();
        QCOMPARE(page->form()->label_bright->text(), QString("-5"));
        QCOMPARE(page->form()->label_contrast->text(), QString("77"));
        QVERIFY(page->volume_check());
        QVERIFY(page->form()->label_volume->isHidden());
    }

    void refresh_through_para_sync()
    {
        LockWindow* page = open();
        ZevRamPara::put16(img(), Img::kBrightness, 42);
        put_window(1, 1, 2);
        SyncUpdate::pInstance()->para_sync(1);
        QCOMPARE(page->form()->label_bright->text(), QString("42"));
        QCOMPARE(tile_label(page, 1, 1)->text(), QString("HDMI1"));
    }

    void ok_and_touch_go_to_main_menu_data()
    {
        QTest::addColumn<bool>("touch");
        QTest::newRow("OK") << false;
        QTest::newRow("touch") << true;
    }

    void ok_and_touch_go_to_main_menu()
    {
        QFETCH(bool, touch);
        LockWindow* page = open();
        QPointer<LockWindow> guard(page);
        QCOMPARE(int(g_page_focus), int(PageId::LockWindow));
        if (touch)
            QTest::mouseRelease(page->tiles(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
        else
            release_key(page, 81);
        QCOMPARE(int(g_page_focus), int(PageId::MainWindow));
        QVERIFY(!g_lockwindow);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(guard.isNull());
    }

    void mode_opens_user_modes_unless_locked()
    {
        PageRegistry::set_user_mode_factory(make_stub_page);
        ZevRamPara::put16(img(), Img::kKeyLock, 1);
        LockWindow* page = open();
        release_key(page, 77);
        QCOMPARE(int(g_page_focus), int(PageId::LockWindow));
        QVERIFY(g_lockwindow);
        ZevRamPara::put16(img(), Img::kKeyLock, 0);
        release_key(page, Qt::Key_Stop);
        QCOMPARE(int(g_page_focus), int(PageId::CustomMode));
        QVERIFY(!g_lockwindow);
        QCOMPARE(int(g_mode_shortcut_key), 1);
        delete dynamic_cast<QWidget*>(PageRegistry::at(PageId::CustomMode));
    }

    void hot_keys_work_on_the_home_page()
    {
        put_window(2, 1, 2);
        LockWindow* page = open();
        release_key(page, 'C');
        QCOMPARE(int(g_image_current), 2);
    }

    void main_window_back_returns_home()
    {
        g_page_focus = PageId::MainWindow;
        release_key(w, Qt::Key_PowerOff);
        QCOMPARE(int(g_page_focus), int(PageId::LockWindow));
        QVERIFY(g_lockwindow);
        QVERIFY(g_lockwindow->isVisible());
        // Back again while it is open: the same page, not a second one.
        LockWindow* home = g_lockwindow;
        g_page_focus = PageId::MainWindow;
        release_key(w, Qt::Key_PowerOff);
        QCOMPARE(g_lockwindow.get(), home);
        QCOMPARE(int(g_page_focus), int(PageId::LockWindow));
        const QWidgetList tops = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(tops.begin(), tops.end(), [](QWidget* t) { return qobject_cast<LockWindow*>(t); }), 1);
    }

    void start_up_shows_home_over_main_window()
    {
        show_home_at_start();
        QVERIFY(w->isVisible());
        QVERIFY(g_lockwindow);
        QCOMPARE(int(g_page_focus), int(PageId::LockWindow));
    }

    void menu_tiles_open_their_pages_data()
    {
        QTest::addColumn<int>("id");
        QTest::newRow("machine state") << int(PageId::MachineState);
        QTest::newRow("settings") << int(PageId::Option);
    }
    void menu_tiles_open_their_pages()
    {
        QFETCH(int, id);
        g_page_focus = PageId::MainWindow;
        int seen = -1;
        QTimer::singleShot(0, [&] {
            seen = g_page_focus;
            release_key(dynamic_cast<QWidget*>(PageRegistry::at(u8(id))), Qt::Key_PowerOff);
        });
        if (id == PageId::Option)
            w->on_option_clicked();
        else
            w->on_machinestate_clicked();
        QCOMPARE(seen, id);
        QCOMPARE(int(g_page_focus), int(PageId::MainWindow));
        QVERIFY(!PageRegistry::at(u8(id)));
    }

    void tile_of_a_missing_page_says_so()
    {
        g_page_focus = PageId::MainWindow;
        w->on_custommode_clicked();
        QCOMPARE(int(g_page_focus), int(PageId::MainWindow));
        bool shown = false;
        for (QLabel* l : w->findChildren<QLabel*>())
            shown = shown || (l->isVisible() && l->text() == "Not available yet");
        QVERIFY(shown);
    }
};

QTEST_MAIN(TestLockWindow)
#include "test_lockwindow.moc"
