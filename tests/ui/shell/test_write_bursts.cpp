// A burst of PC requests costs one pass of writes: refreshes queued behind
// one another leave the files to the last, a file that already holds its
// slot is not written again, and a key pressed after the burst acts after at
// most one pass. The passes are counted by the "sync" each one runs after
// its writes, as the board's shell records it.
#include <QtTest>

#include <functional>

#include "core/zevrampara.h"
#include "page_harness.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"

namespace
{
constexpr int kBlackKey = 80;
constexpr u32 kSlotBrightness = 2 + Img::kBrightness - Img::kModeStart;

void ask_rewrite()
{
    c331_apply(2, [] { ZevRamPara::ask_modes_rewrite(); });
    ZevRamPara::test_signal(2);
}
void change_brightness(u8 value)
{
    c331_apply(1, [value] { ZevRamPara::put16(img(), Img::kBrightness, value); });
    ZevRamPara::test_signal(1);
}
u8 window_flags()
{
    C331Lock lock;
    return img()[ZevRamPara::layerOffset(0) + Img::kLayerFlags];
}

// Notes the passes made by the time the BLACK key reaches the main window.
class KeyWatch : public QObject
{
  public:
    explicit KeyWatch(std::function<int()> passes) : passes_(std::move(passes)) {}
    int at_key = -1;

  protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::KeyRelease && static_cast<QKeyEvent*>(e)->key() == kBlackKey)
            at_key = passes_();
        return false;
    }

  private:
    std::function<int()> passes_;
};
} // namespace

class TestWriteBursts : public QObject
{
    Q_OBJECT
    PageHarness harness;
    MainWindow* w = nullptr;

    int passes()
    {
        int n = 0;
        for (const std::string& c : harness.sim().board().simShell().recorded())
            n += c == "sync";
        return n;
    }
    QByteArray slot_file(int s) { return readHostFile(harness.sim().hostQ(ZevRamPara::modeFilePath(s))); }

  private slots:
    void initTestCase()
    {
        w = harness.main_window();
        SyncUpdate::attach(ZevRamPara::p_zevrampara);
        g_page_focus = PageId::MainWindow;
    }

    // Every slot saved and on its file, nothing waiting.
    void init()
    {
        g_image_current = 0;
        for (int s = 0; s < kUserModeCount; ++s) {
            C331Lock lock;
            ZevRamPara::save_mode(s);
        }
        SyncUpdate::pInstance()->retry_writes();
        QCoreApplication::processEvents();
        QCOMPARE(ZevRamPara::mode_saves_asked(), u32(0));
        harness.sim().board().simShell().clearRecorded();
    }

    void aKeyAfterABurstWaitsForOnePass_data()
    {
        QTest::addColumn<QString>("burst");
        QTest::newRow("600 rewrites of 16 saved modes") << "rewrites";
        QTest::newRow("16 uploads, each with a rewrite") << "uploads";
        QTest::newRow("16 saves among image changes") << "saves";
    }
    void aKeyAfterABurstWaitsForOnePass()
    {
        QFETCH(QString, burst);
        // What each slot's file is to hold afterwards: its brightness byte.
        u8 expected[kUserModeCount];
        for (int s = 0; s < kUserModeCount; ++s)
            expected[s] = ZevRamPara::user_mode[s][kSlotBrightness];
        u8 brightness = 0;
        if (burst == "rewrites") {
            for (int i = 0; i < 600; ++i)
                ask_rewrite();
        } else if (burst == "uploads") {
            for (int s = 0; s < kUserModeCount; ++s) {
                expected[s] = u8(50 + s);
                {
                    C331Lock lock;
                    QCOMPARE(ZevRamPara::ZevModeUserRamParaDeal(&expected[s], 1, u32(s + 1) << 12 | kSlotBrightness),
                             0);
                }
                ask_rewrite();
            }
        } else {
            for (int s = 0; s < kUserModeCount; ++s) {
                for (int i = 0; i < 10; ++i)
                    change_brightness(++brightness);
                expected[s] = brightness;
                c331_apply(1, [s] { ZevRamPara::save_mode(s); });
                ZevRamPara::test_signal(1);
            }
        }
        const u8 flags = window_flags();
        KeyWatch watch([this] { return passes(); });
        w->installEventFilter(&watch);
        QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyRelease, kBlackKey, Qt::NoModifier));
        for (int i = 0; i < 100 && watch.at_key < 0; ++i)
            QCoreApplication::processEvents();
        w->removeEventFilter(&watch);
        QVERIFY2(watch.at_key >= 0, "the key never reached the panel");
        QVERIFY2(watch.at_key <= 1, qPrintable(QString("%1 passes of writes before the key").arg(watch.at_key)));
        QCOMPARE(window_flags(), u8(flags ^ 0x01));
        // The key's own change is stored too: undone for the next row.
        ZevRamPara::ZevSetImageBlack();
        QCoreApplication::processEvents();
        SyncUpdate::pInstance()->retry_writes();
        QCOMPARE(SyncUpdate::pInstance()->ticks_to_retry(), SyncUpdate::kNothingWaits);
        for (int s = 0; s < kUserModeCount; ++s) {
            const QByteArray f = slot_file(s);
            QVERIFY2(f.size() == kUserModeFileSize && u8(f[int(kSlotBrightness)]) == expected[s],
                     qPrintable(QString("slot %1's file").arg(s + 1)));
        }
        if (burst == "saves")
            QCOMPARE(u8(readHostFile(
                         harness.sim().hostQ(ZevRamPara::kDeviceInfoFile))[2 + Img::kBrightness - Img::kPersistStart]),
                     brightness);
    }

    // Refreshes that follow one another write nothing until the last; a pass
    // that finds every file holding what it should writes nothing at all.
    void aRewriteOfFilesThatHoldTheirSlotsWritesNothing()
    {
        for (int i = 0; i < 5; ++i)
            ask_rewrite();
        QCoreApplication::processEvents();
        QCOMPARE(passes(), 0);
        QCOMPARE(ZevRamPara::files_wanted(), u32(0));
    }
};

QTEST_MAIN(TestWriteBursts)
#include "test_write_bursts.moc"
