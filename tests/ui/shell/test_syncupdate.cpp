// The page refresh and persistence (para_sync) and the main window's tick,
// tool bar and user-mode grid.
#include <QtTest>
#include <QDir>

#include <cstring>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "core/config_engine.h"
#include "core/zevrampara.h"
#include "page_harness.h"
#include "read_faults.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/tip.h"
#include "ui_mainwindow.h"
#include "video/c331_manage.h"

namespace
{
u8* shadow()
{
    return ZevRamPara::p_zevrampara_shadow;
}

class CountingPage : public QWidget, public PageView
{
  public:
    void language_changed() override {}
    void syncUpdate(int code) override
    {
        ++calls;
        last_code = code;
    }
    int calls = 0;
    int last_code = -1;
};

int g_mode_pages_made = 0;
PageView* makeModePage()
{
    ++g_mode_pages_made;
    return new CountingPage;
}

bool recorded(SimFixture& sim, const std::string& command)
{
    for (const std::string& c : sim.board().simShell().recorded())
        if (c == command)
            return true;
    return false;
}
} // namespace

class TestSyncUpdate : public QObject
{
    Q_OBJECT
    PageHarness harness;
    MainWindow* w = nullptr;

    QByteArray device_file() { return readHostFile(harness.sim().hostQ("/data/ram_device_info")); }

    // Runs one refresh of page 1; true when it showed the done tip.
    bool tip_shown_by_refresh()
    {
        g_page_focus = PageId::MainWindow;
        bool shown = false;
        QTimer::singleShot(0, [&] {
            shown = g_tip_flag == 1;
            for (int i = 0; i < 300 && g_tip_flag; ++i)
                w->slot_update_timer_ticks();
        });
        SyncUpdate::pInstance()->para_sync(1);
        // A timer not fired inside a tip's loop must not fire later.
        QCoreApplication::processEvents();
        return shown;
    }

    // The PC's write of a slot's page (its first bytes) under the chip lock.
    static int pcWritesSlot(int s, std::vector<u8> bytes)
    {
        C331Lock lock;
        return ZevRamPara::ZevModeUserRamParaDeal(bytes.data(), int(bytes.size()), u32(s + 1) << 12);
    }
    static QByteArray modeFile() { return QByteArray("\xAA\xAA", 2) + QByteArray(4094, 0x21); }

    static bool same_icon(QPushButton* button, const QString& path)
    {
        return button->icon().pixmap(24, 36).toImage() == QIcon(path).pixmap(24, 36).toImage();
    }

  private slots:
    void initTestCase()
    {
        SyncUpdate::attach(ZevRamPara::p_zevrampara);
        w = harness.main_window();
    }

    void init()
    {
        std::memcpy(shadow(), img(), Img::kSize);
        g_page_focus = PageId::MainWindow;
        c331_manage::para_update_flag = 0;
        g_app_reset_flag = 0;
        harness.sim().board().simShell().clearRecorded();
    }

    void codes105And106OnlyTouchTheLeds()
    {
        CountingPage page;
        PageRegistry::set(PageId::Option, &page);
        g_page_focus = PageId::Option;
        img()[1000] ^= 1;
        SyncUpdate::pInstance()->para_sync(105);
        SyncUpdate::pInstance()->para_sync(106);
        QCOMPARE(page.calls, 0);
        QVERIFY(img()[1000] != shadow()[1000]);
        SyncUpdate::pInstance()->para_sync(7);
        QCOMPARE(page.calls, 1);
        QCOMPARE(page.last_code, 7);
        QCOMPARE(img()[1000], shadow()[1000]);
        PageRegistry::set(PageId::Option, nullptr);
    }

    void signalsArriveQueuedThroughTheStore()
    {
        CountingPage page;
        PageRegistry::set(PageId::Option, &page);
        g_page_focus = PageId::Option;
        ZevRamPara::test_signal(1);
        QCOMPARE(page.calls, 0);
        QCoreApplication::processEvents();
        QCOMPARE(page.calls, 1);
        PageRegistry::set(PageId::Option, nullptr);
    }

    void onlyBytesFrom768ArePersisted()
    {
        QByteArray before = device_file();
        img()[300] ^= 0x5A;
        SyncUpdate::pInstance()->para_sync(1);
        QCOMPARE(device_file(), before);
        QVERIFY(shadow()[300] != img()[300]);
        img()[768 + 200] ^= 0x01;
        SyncUpdate::pInstance()->para_sync(1);
        QCOMPARE(std::memcmp(shadow(), img(), Img::kSize), 0);
        QByteArray file = device_file();
        QCOMPARE(file.size(), 2 + Img::kSize - Img::kPersistStart);
        QCOMPARE(u8(file[0]), u8(0xAA));
        QCOMPARE(std::memcmp(file.constData() + 2, img() + 768, size_t(Img::kSize - 768)), 0);
    }

    void persistedImageSurvivesARestart()
    {
        ZevRamPara::put16(img(), Img::kBrightness, 77);
        SyncUpdate::pInstance()->para_sync(1);
        ZevRamPara::put16(img(), Img::kBrightness, 12);
        ZevRamPara::p_zevrampara->load_all();
        QCOMPARE(ZevRamPara::img16(Img::kBrightness), u16(77));
    }

    void aFailedWriteIsRetriedOnTheNextRefresh()
    {
        // Something in the way of the file: the rename of the new file fails.
        QVERIFY(QFile::remove(harness.sim().hostQ("/data/ram_device_info")));
        QVERIFY(QDir().mkpath(harness.sim().hostQ("/data/ram_device_info/blocker")));
        ZevRamPara::put16(img(), Img::kContrast, 33);
        SyncUpdate::pInstance()->para_sync(1);
        QVERIFY(device_file().isEmpty());
        // Nothing changes in the image before the next refresh, yet the
        // change that was not saved reaches the file then.
        QVERIFY(QDir(harness.sim().hostQ("/data/ram_device_info")).removeRecursively());
        SyncUpdate::pInstance()->para_sync(1);
        QByteArray f = device_file();
        QCOMPARE(f.size(), 2 + 4096 - 768);
        QCOMPARE(u8(f[2 + Img::kContrast - 768]), u8(33));
    }

    void aChangeMadeAfterTheSnapshotIsNotLost()
    {
        // A page refresh stands for the time a worker may write meanwhile.
        class Writer : public CountingPage
        {
          public:
            void syncUpdate(int) override {}
        } page;
        PageRegistry::set(PageId::Option, &page);
        g_page_focus = PageId::Option;
        img()[2000] ^= 1;
        SyncUpdate::pInstance()->para_sync(1);
        img()[2001] ^= 1;
        QVERIFY(img()[2001] != shadow()[2001]);
        SyncUpdate::pInstance()->para_sync(1);
        QCOMPARE(u8(device_file()[2 + 2001 - 768]), img()[2001]);
        PageRegistry::set(PageId::Option, nullptr);
    }

    void modeToSaveStoresTheSlot()
    {
        ZevRamPara::put16(img(), Img::kModeToSave, 3);
        SyncUpdate::pInstance()->para_sync(1);
        QCOMPARE(ZevRamPara::user_mode[2][0], u8(0xAA));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(3));
        QCOMPARE(ZevRamPara::img16(Img::kModeToSave), u16(0));
        QCOMPARE(std::memcmp(ZevRamPara::user_mode[2] + 2, img() + Img::kModeStart, Img::kModeBytes), 0);
        QVERIFY(QFile::exists(harness.sim().hostQ("/data/modes/custom_mode3")));
        QCOMPARE(ZevRamPara::shadow16(Img::kCurrentMode), u16(3));
    }

    void aSaveAskedWhileARefreshRunsIsStoredByTheNext()
    {
        // The PC's write of word 868 lands while a refresh runs, after its
        // save step: that refresh saves the image with the word.
        class Asking : public CountingPage
        {
          public:
            void syncUpdate(int) override { ZevRamPara::put16(img(), Img::kModeToSave, 7); }
        } page;
        QFile::remove(harness.sim().hostQ("/data/modes/custom_mode7"));
        PageRegistry::set(PageId::Option, &page);
        g_page_focus = PageId::Option;
        img()[2000] ^= 1;
        SyncUpdate::pInstance()->para_sync(1);
        PageRegistry::set(PageId::Option, nullptr);
        g_page_focus = PageId::Count;
        SyncUpdate::pInstance()->para_sync(1);
        QVERIFY(QFile::exists(harness.sim().hostQ("/data/modes/custom_mode7")));
        QCOMPARE(ZevRamPara::img16(Img::kModeToSave), u16(0));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(7));
    }

    void modeToSaveOutsideTheSlotsIsNotStored()
    {
        u8 saved[kUserModeCount][2];
        for (int s = 0; s < kUserModeCount; ++s)
            std::memcpy(saved[s], ZevRamPara::user_mode[s], 2);
        ZevRamPara::put16(img(), Img::kModeToSave, 17);
        SyncUpdate::pInstance()->para_sync(1);
        ZevRamPara::put16(img(), Img::kModeToSave, 0xFFFF);
        SyncUpdate::pInstance()->para_sync(1);
        for (int s = 0; s < kUserModeCount; ++s)
            QCOMPARE(std::memcmp(saved[s], ZevRamPara::user_mode[s], 2), 0);
        ZevRamPara::put16(img(), Img::kModeToSave, 0);
    }

    // Code 2 deletes a mode's file only where the PC emptied the slot: one
    // merely showing empty, one unreadable, one cut short yet holding the
    // whole mode, one saved while the menu cannot be written, are kept.
    void code2DeletesOnlyEmptiedModes_data()
    {
        QTest::addColumn<QString>("how");
        for (const char* how : {"emptied", "half marked", "unreadable", "cut to 3,300 bytes", "menu in the way"})
            QTest::newRow(how) << QString(how);
    }
    void code2DeletesOnlyEmptiedModes()
    {
        QFETCH(QString, how);
        const int s = 5;
        const QString file = harness.sim().hostQ(ZevRamPara::modeFilePath(s));
        const QString menu = harness.sim().hostQ(ZevRamPara::kMenuFile);
        QVERIFY(writeHostFile(file, how.startsWith("cut") ? modeFile().left(3300) : modeFile()));
        fail_reads_of(how == "unreadable" ? file.toStdString() : "");
        ZevRamPara::mode_file_deal(s, 0);
        fail_reads_of("");
        if (how == "emptied") {
            QCOMPARE(pcWritesSlot(s, {0xFF, 0xFF}), 0);
        } else if (how == "half marked") {
            QCOMPARE(pcWritesSlot(s, {0xAA, 0x00}), 0);
        } else if (how.startsWith("menu")) {
            QVERIFY(QFile::remove(file) && QDir().mkpath(menu + "/in-the-way"));
            ZevRamPara::mode_file_deal(s, 0);
            ZevRamPara::put16(img(), Img::kModeToSave, s + 1);
            SyncUpdate::pInstance()->para_sync(1);
            QVERIFY(QDir(menu).removeRecursively());
        }
        SyncUpdate::pInstance()->para_sync(2);
        const bool kept = how != "emptied", saved = kept && how != "unreadable";
        QCOMPARE(QFileInfo::exists(file), kept);
        if (saved)
            QCOMPARE(readHostFile(file).size(), kUserModeFileSize);
        QCOMPARE(ZevRamPara::ZevUserModeSaved(s), int(saved));
    }

    // A write that fails (no room, something in the way) or a delete that
    // fails (the folder out of reach) waits: the tick makes it a second
    // later, with no other refresh. A rewrite of the modes meanwhile neither
    // deletes nor forgets a mode saved or uploaded that waits.
    void aWriteThatWaitsIsMadeByTheTick_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* change : {"parameter", "mode save", "upload", "save, then upload", "delete"})
            QTest::newRow(change) << QString(change);
    }
    void aWriteThatWaitsIsMadeByTheTick()
    {
        QFETCH(QString, change);
        const int s = 10;
        const bool mode = change != "parameter", del = change == "delete";
        const QString file = harness.sim().hostQ(mode ? ZevRamPara::modeFilePath(s) : "/data/ram_device_info");
        const QString dir = QFileInfo(file).absolutePath();
        const QString away = QString::fromStdString(harness.sim().root()) + "-modes";
        QVERIFY(del ? writeHostFile(file, modeFile()) : !QFileInfo::exists(file) || QFile::remove(file));
        ZevRamPara::mode_file_deal(s, 0);
        if (del) {
            QCOMPARE(pcWritesSlot(s, {0xFF, 0xFF}), 0);
            QVERIFY(QDir().rename(dir, away) && QFile::link(away, dir));
        } else {
            QVERIFY(QDir().mkpath(file + "/blocker"));
        }
        const QString named = QRegularExpression::escape(file);
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(named + (del ? " cannot be deleted: " : " cannot be written: .* waits")));
        if (change == "upload")
            QCOMPARE(pcWritesSlot(s, {0xAA, 0xAA, 0x5C}), 0);
        else if (change.contains("save"))
            ZevRamPara::put16(img(), Img::kModeToSave, s + 1);
        else if (!mode)
            ZevRamPara::put16(img(), Img::kContrast, 61);
        G_timeTicks = 7000;
        SyncUpdate::pInstance()->para_sync(1);
        // A part of the saved slot uploaded while its file waits: the file
        // gets the saved mode with the upload.
        if (change == "save, then upload")
            QCOMPARE(pcWritesSlot(s, {0xAA, 0xAA, u8(img()[Img::kModeStart] ^ 0xFF)}), 0);
        if (mode)
            SyncUpdate::pInstance()->para_sync(2);
        QVERIFY(del ? QFile::remove(dir) && QDir().rename(away, dir) : QDir(file).removeRecursively());
        QCOMPARE(SyncUpdate::pInstance()->ticks_to_retry(), SyncUpdate::kRetryTicks);
        G_timeTicks = 7000 + SyncUpdate::kRetryTicks - 2;
        w->slot_update_timer_ticks();
        QCOMPARE(QFileInfo::exists(file), del);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(named + (del ? " deleted: " : " written: ")));
        w->slot_update_timer_ticks();
        QCOMPARE(SyncUpdate::pInstance()->ticks_to_retry(), SyncUpdate::kNothingWaits);
        QCOMPARE(ZevRamPara::ZevUserModeSaved(s), int(mode && !del));
        if (del)
            QVERIFY(!QFileInfo::exists(file));
        else
            QCOMPARE(readHostFile(file).size(), mode ? kUserModeFileSize : 2 + Img::kSize - Img::kPersistStart);
        if (change == "upload") {
            QCOMPARE(u8(readHostFile(file)[2]), u8(0x5C));
        } else if (change == "save, then upload") {
            const QByteArray stored = readHostFile(file);
            QCOMPARE(u8(stored[2]), u8(img()[Img::kModeStart] ^ 0xFF));
            QCOMPARE(std::memcmp(stored.constData() + 3, img() + Img::kModeStart + 1, Img::kModeBytes - 1), 0);
        } else if (change == "mode save") {
            QCOMPARE(ZevRamPara::img16(Img::kModeToSave), u16(0));
            // The mode in use went to the image's file in the same pass.
            QCOMPARE(u8(device_file()[2 + Img::kCurrentMode - Img::kPersistStart]), u8(s + 1));
        } else if (!mode) {
            QCOMPARE(u8(device_file()[2 + Img::kContrast - Img::kPersistStart]), u8(61));
        }
        QCoreApplication::processEvents();
    }

    // A done tip waits for the image's file: a refresh whose image cannot
    // be written shows none, the refresh after the tick wrote it shows it,
    // once. With the image's file unread at start nothing is stored: the
    // tip says so instead.
    void doneTipsWaitForTheImage_data()
    {
        QTest::addColumn<bool>("linkMenu");
        QTest::addColumn<bool>("unread");
        QTest::newRow("link menu, full partition") << true << false;
        QTest::newRow("page's change, full partition") << false << false;
        QTest::newRow("link menu, image unread") << true << true;
        QTest::newRow("page's change, image unread") << false << true;
    }
    void doneTipsWaitForTheImage()
    {
        QFETCH(bool, linkMenu);
        QFETCH(bool, unread);
        const QString file = harness.sim().hostQ("/data/ram_device_info");
        if (!unread)
            QVERIFY(QFile::remove(file) && QDir().mkpath(file + "/blocker"));
        ZevRamPara::image_file_unread = unread;
        QStringList shown;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            if (!g_tip_flag)
                return;
            const QLabel* label = g_tip->content()->findChild<QLabel*>();
            shown << (label->text().isEmpty() ? QString("done") : label->text());
            for (int i = 0; i < 300 && g_tip_flag; ++i)
                w->slot_update_timer_ticks();
        });
        ticker.start(0);
        g_page_focus = linkMenu ? PageId::LinkOption : PageId::Count;
        if (!linkMenu)
            SyncUpdate::pInstance()->ask_done_tip();
        // A change in every row.
        ZevRamPara::put16(img(), Img::kContrast, u16(ZevRamPara::img16(Img::kContrast) + 1));
        if (!unread)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(" cannot be written: the parameter change waits"));
        G_timeTicks = 11000;
        SyncUpdate::pInstance()->para_sync(1);
        QCOMPARE(shown, unread ? QStringList{"Not saved"} : QStringList{});
        if (!unread) {
            QVERIFY(QDir(file).removeRecursively());
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(" written: the parameter change that waited"));
            G_timeTicks = 11000 + SyncUpdate::kRetryTicks;
            w->slot_update_timer_ticks();
            QCoreApplication::processEvents();
            QCOMPARE(shown, QStringList{"done"});
        }
        ZevRamPara::image_file_unread = false;
        g_page_focus = PageId::MainWindow;
    }

    void code3ResetsTheNetworkWithoutReboot()
    {
        g_port = 5005;
        SyncUpdate::pInstance()->para_sync(3);
        QCOMPARE(ConfigEngine::pInstance()->read_config_variant(ConfigItem::IPAddress).toString(),
                 QString("192.168.0.199"));
        QCOMPARE(g_app_reset_flag.load(), u8(0));
        ConfigEngine::pInstance()->write_config_variant(ConfigItem::TcpPort, 6000);
        g_port = 6000;
        SyncUpdate::pInstance()->para_sync(3);
        QCOMPARE(g_port.load(), 5005);
        QCOMPARE(g_app_reset_flag.load(), u8(1));
        QCOMPARE(ConfigEngine::pInstance()->read_config_variant(ConfigItem::TcpPort).toInt(), 5005);
        g_app_reset_flag = 0;

        // Settings that cannot be written: nothing applied, no restart.
        ConfigEngine::pInstance()->write_config_variant(ConfigItem::TcpPort, 6000);
        g_port = 6000;
        const QString file = harness.sim().hostQ(ConfigEngine::kFile);
        QVERIFY(QFile::remove(file) && QDir().mkpath(file + "/in-the-way"));
        SyncUpdate::pInstance()->para_sync(3);
        QVERIFY(QDir(file).removeRecursively());
        QCOMPARE(g_port.load(), 6000);
        QCOMPARE(g_app_reset_flag.load(), u8(0));
        QVERIFY(ConfigEngine::pInstance()->write_config_variant(ConfigItem::TcpPort, 5005));
        g_port = 5005;
    }

    void disabledWindowFallsBackExceptOnTheLayoutPage()
    {
        int o = ZevRamPara::layerOffset(3);
        ZevRamPara::put16(img(), o, 0);
        g_image_current = 3;
        g_page_focus = PageId::ImageLayout;
        SyncUpdate::pInstance()->para_sync(1);
        QCOMPARE(g_image_current.load(), u8(3));
        g_page_focus = PageId::MainWindow;
        SyncUpdate::pInstance()->para_sync(1);
        QCOMPARE(g_image_current.load(), u8(0));
    }

    void mainWindowRefreshShowsTheDoneTip()
    {
        w->tip_on_sync = 1;
        bool shown = false;
        QTimer::singleShot(0, [&] {
            shown = g_tip_flag == 1;
            for (int i = 0; i < 300; ++i)
                w->slot_update_timer_ticks();
        });
        SyncUpdate::pInstance()->para_sync(1);
        QVERIFY(shown);
        QCOMPARE(w->tip_on_sync, u8(0));
    }

    void rebootRuns300TicksAfterTheStamp()
    {
        G_timeTicks = 5000;
        G_reboot_tickTicks = 5000;
        g_app_reset_flag = 1;
        for (int i = 0; i < 299; ++i)
            w->slot_update_timer_ticks();
        QVERIFY(!recorded(harness.sim(), "reboot"));
        w->slot_update_timer_ticks();
        QVERIFY(recorded(harness.sim(), "reboot"));
        g_app_reset_flag = 0;
    }

    void usbGateOpensAtTick1000AndStays()
    {
        g_delay_usbserver = 0;
        G_timeTicks = 998;
        w->slot_update_timer_ticks();
        QCOMPARE(g_delay_usbserver.load(), u32(0));
        w->slot_update_timer_ticks();
        QCOMPARE(g_delay_usbserver.load(), u32(1));
        G_timeTicks = 5;
        w->slot_update_timer_ticks();
        QCOMPARE(g_delay_usbserver.load(), u32(1));
    }

    void ageingCounts()
    {
        factoryage_log.clear();
        factoryage_log_diff10 = 0;
        MainWindow::agelog_add("01-01 00:00", 250, 1, 2);
        MainWindow::agelog_add("01-01 00:03", 3, 1, 2);
        QCOMPARE(factoryage_log_diff10, u32(1));
        MainWindow::agelog_add("01-01 00:06", 3, 1, 2);
        QCOMPARE(factoryage_log_diff10 + factoryage_log_diff3 + factoryage_log_diff5, u32(1));
        factoryage_log.clear();
        for (int i = 0; i < 3361; ++i)
            MainWindow::agelog_add(QString("t%1").arg(i), 1, 1, 1);
        QCOMPARE(factoryage_log.size(), 3360);
        QCOMPARE(factoryage_log.first(), QString("t1 1 1 1"));
    }

    void menuFocusWalksAndToolBarOpens()
    {
        w->menulist_init();
        for (int i = 0; i < 3; ++i)
            release_key(w, 'R');
        QCOMPARE(w->select(), u8(3));
        release_key(w, 'R');
        QCOMPARE(w->focused_widget(), static_cast<QWidget*>(w->form()->Button_lock));
        QVERIFY(w->form()->option->styleSheet().startsWith("background-color: rgb(33, 36, 53);border:2px;"));
        release_key(w, 'S');
        release_key(w, 'S');
        release_key(w, 'S');
        release_key(w, 'S');
        release_key(w, Qt::Key_F4);
        QCOMPARE(w->select(), u8(5));
        release_key(w, 'Q');
        QVERIFY(!w->form()->widget->isHidden());
        QCOMPARE(w->focused_widget(), static_cast<QWidget*>(w->form()->toolButton1));
        release_key(w, 'O');
        QVERIFY(w->form()->widget->isHidden());
        QCOMPARE(w->select(), u8(5));
    }

    void blackoutToolAsksForTheApply()
    {
        ZevRamPara::put16(img(), Img::kBlackout, 0);
        w->on_toolButton1_clicked();
        QCOMPARE(ZevRamPara::img16(Img::kBlackout), u16(1));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        w->on_toolButton1_clicked();
        QCOMPARE(ZevRamPara::img16(Img::kBlackout), u16(0));
    }

    void muteWithAnAudioIndexAboveFiveUsesWindowZero()
    {
        ZevRamPara::put16(img(), Img::kAudioLayer, 9);
        int o = ZevRamPara::layerOffset(0) + Img::kLayerAudio;
        img()[o] = 0;
        img()[o + 1] = 0;
        w->para_init();
        w->on_toolButton2_clicked();
        QCOMPARE(ZevRamPara::img16(Img::kAudioLayer), u16(0));
        QCOMPARE(img()[o], u8(255));
        QCOMPARE(img()[o + 1], u8(0x80));
    }

    void callCopiesTheModeAndClearsAPendingSave()
    {
        u8* slot = ZevRamPara::user_mode[9];
        slot[0] = slot[1] = 0xAA;
        std::memset(slot + 2, 0x3C, Img::kModeBytes);
        ZevRamPara::put16(img(), Img::kModeToSave, 4);
        if (w->form()->widget->isHidden())
            w->on_tools_clicked();
        w->on_toolButton3_clicked();
        QCOMPARE(w->call_state(), u8(1));
        while (w->mode_cursor() != 9)
            release_key(w, 'R');
        release_key(w, 'Q');
        QCOMPARE(img()[Img::kModeStart], u8(0x3C));
        QCOMPARE(img()[Img::kSize - 1], u8(0x3C));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(10));
        QCOMPARE(ZevRamPara::img16(Img::kModeToSave), u16(0));
        QCOMPARE(w->tip_on_sync, u8(1));
        QCOMPARE(w->call_state(), u8(1));
        w->tip_on_sync = 0;
        release_key(w, 'O');
        QCOMPARE(w->call_state(), u8(0));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void saveRequestsTheSlotOnce()
    {
        // Slot 12 already holds a mode: the save tool comes back to it.
        ZevRamPara::user_mode[12][0] = ZevRamPara::user_mode[12][1] = 0xAA;
        if (w->form()->widget->isHidden())
            w->on_tools_clicked();
        w->on_toolButton4_clicked();
        while (w->mode_cursor() != 12)
            release_key(w, 'R');
        c331_manage::para_update_flag = 0;
        // The slot takes the image at the key: a save is in its slot when
        // it is answered, only its file waits for the refresh.
        img()[Img::kModeStart + 7] = 0x51;
        release_key(w, 'Q');
        QCOMPARE(ZevRamPara::user_mode[12][2 + 7], u8(0x51));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(13));
        QCOMPARE(ZevRamPara::mode_saves_asked(), u32(1) << 12);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        QCOMPARE(w->mode_cursor(), u8(12));
        // Saved again before its file was written: the later save replaces
        // it.
        c331_manage::para_update_flag = 0;
        img()[Img::kModeStart + 7] = 0x52;
        release_key(w, 'Q');
        QCOMPARE(ZevRamPara::user_mode[12][2 + 7], u8(0x52));
        QCOMPARE(ZevRamPara::mode_saves_asked(), u32(1) << 12);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        QCOMPARE(w->save_state(), u8(1));
        w->tip_on_sync = 0;
        {
            C331Lock lock;
            ZevRamPara::empty_mode_slot(12);
        }
        release_key(w, 'O');
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void saveToolMovesToASavedSlotLikeCall()
    {
        if (w->form()->widget->isHidden())
            w->on_tools_clicked();
        for (int s = 0; s < kUserModeCount; ++s)
            ZevRamPara::user_mode[s][0] = ZevRamPara::user_mode[s][1] = 0xFF;
        w->on_toolButton4_clicked();
        QCOMPARE(w->mode_cursor(), u8(0));
        QVERIFY(same_icon(w->form()->toolButton4, lang_icon("unsave.png")));
        release_key(w, 'O');
        ZevRamPara::user_mode[6][0] = ZevRamPara::user_mode[6][1] = 0xAA;
        w->on_toolButton4_clicked();
        QCOMPARE(w->mode_cursor(), u8(6));
        QVERIFY(same_icon(w->form()->toolButton4, lang_icon("save.png")));
        release_key(w, 'O');
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void aSavedModeIsWrittenBeforeTheTipAndRetried()
    {
        u8* slot = ZevRamPara::user_mode[4];
        slot[0] = slot[1] = 0xFF;
        ZevRamPara::put16(img(), Img::kCurrentMode, 0);
        std::memcpy(shadow(), img(), Img::kSize);
        // Something in the way of the slot's file: its write fails.
        QVERIFY(QDir().mkpath(harness.sim().hostQ("/data/modes/custom_mode5/blocker")));
        ZevRamPara::put16(img(), Img::kModeToSave, 5);
        w->tip_on_sync = 1;
        QCOMPARE(tip_shown_by_refresh(), false);
        // The slot holds the mode while only its file waits.
        QCOMPARE(slot[0], u8(0xAA));
        QCOMPARE(std::memcmp(slot + 2, img() + Img::kModeStart, Img::kModeBytes), 0);
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(5));
        QCOMPARE(w->tip_on_sync, u8(1));
        // A save whose file was never written does not outlive a restart.
        QCOMPARE(ZevRamPara::mode_saves_asked(), u32(1) << 4);
        ZevRamPara::p_zevrampara->load_all();
        QCOMPARE(ZevRamPara::mode_saves_asked(), u32(0));
        QCOMPARE(slot[0], u8(0xFF));
        ZevRamPara::put16(img(), Img::kModeToSave, 5);
        // The next refresh, whatever its cause, writes it and only then
        // shows the done tip.
        QVERIFY(QDir(harness.sim().hostQ("/data/modes/custom_mode5")).removeRecursively());
        QCOMPARE(tip_shown_by_refresh(), true);
        QCOMPARE(slot[0], u8(0xAA));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(5));
        QCOMPARE(ZevRamPara::img16(Img::kModeToSave), u16(0));
        QCOMPARE(readHostFile(harness.sim().hostQ("/data/modes/custom_mode5")).size(), kUserModeFileSize);
        // And it is there after a restart.
        ZevRamPara::p_zevrampara->load_all();
        QCOMPARE(ZevRamPara::ZevUserModeSaved(4), 1);
    }

    void theGridShowsASavedModeAtOnce()
    {
        ZevRamPara::user_mode[9][0] = ZevRamPara::user_mode[9][1] = 0xAA;
        ZevRamPara::user_mode[3][0] = ZevRamPara::user_mode[3][1] = 0xFF;
        if (w->form()->widget->isHidden())
            w->on_tools_clicked();
        w->on_toolButton4_clicked();
        while (w->mode_cursor() != 3)
            release_key(w, 'R');
        release_key(w, 'Q');
        w->tip_on_sync = 0;
        SyncUpdate::pInstance()->para_sync(1);
        QVERIFY(g_mode[3]);
        QCOMPARE(g_mode[3]->styleSheet(), QString("background-color: #212435;border-radius:5px;"));
        QLabel* in_use = nullptr;
        for (QLabel* l : g_mode[3]->findChildren<QLabel*>())
            if (!l->text().isEmpty())
                in_use = l;
        QVERIFY(in_use && !in_use->isHidden());
        release_key(w, 'O');
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void theKeyLockIsPersisted()
    {
        ZevRamPara::put16(img(), Img::kKeyLock, 0);
        w->para_init();
        w->on_Button_lock_clicked();
        QCoreApplication::processEvents();
        QCOMPARE(u8(device_file()[2 + Img::kKeyLock - Img::kPersistStart]), u8(1));
        w->on_Button_lock_clicked();
        QCoreApplication::processEvents();
        QCOMPARE(u8(device_file()[2 + Img::kKeyLock - Img::kPersistStart]), u8(0));
    }

    void aToolBarClickLeavesTheTileRounded()
    {
        if (!w->form()->widget->isHidden())
            w->on_tools_clicked();
        w->show();
        w->menulist_init();
        w->on_tools_clicked();
        QCOMPARE(w->form()->machinestate->styleSheet(),
                 QString("background-color: rgb(33, 36, 53);border:2px;border-radius:10px;padding:2px 4px"));
        w->on_tools_clicked();
        w->hide();
    }

    void modeKeyUnderLockDoesNothing()
    {
        // With a user-mode page to open, MODE opens it unless the keys are
        // locked.
        PageRegistry::set_user_mode_factory(makeModePage);
        g_mode_pages_made = 0;
        ZevRamPara::put16(img(), Img::kKeyLock, 1);
        g_mode_shortcut_key = 0;
        release_key(w, 'M');
        QCOMPARE(g_mode_shortcut_key.load(), u8(0));
        QCOMPARE(g_mode_pages_made, 0);

        ZevRamPara::put16(img(), Img::kKeyLock, 0);
        const u8 focus = g_page_focus;
        release_key(w, 'M');
        QCOMPARE(g_mode_shortcut_key.load(), u8(1));
        QCOMPARE(g_mode_pages_made, 1);
        delete dynamic_cast<QWidget*>(PageRegistry::at(PageId::CustomMode));
        PageRegistry::set(PageId::CustomMode, nullptr);
        PageRegistry::set_user_mode_factory(nullptr);
        g_page_focus = focus;
        g_mode_shortcut_key = 0;
    }
};

QTEST_MAIN(TestSyncUpdate)
#include "test_syncupdate.moc"
