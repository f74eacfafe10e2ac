// The user-mode path as one sequence: random saves, changes and recalls by
// the PC (register 11, the single-setting command) and on the panel, and
// BLACK keys, with random gaps in which the video processor's apply, the
// page refresh and the retry of waiting writes run or do not run yet, on a
// data partition that fills and empties. Every answer is checked against a
// plain model: a recall answered 0 shows what its slot last saved, a save
// answered 0 is in its slot at once and in its file once room returns.
//
// ZEV_SEQUENCE_STEPS sets the number of steps (a longer run), and
// ZEV_SEQUENCE_SEED replays the run a failure names.
#include <QtTest>

#include <cstring>

#include <QDir>

#include "core/zevrampara.h"
#include "page_harness.h"
#include "support/fs_helpers.h"
#include "support/mode_sequence.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui_mainwindow.h"

using namespace mode_sequence;

namespace
{
Mode image_mode()
{
    C331Lock lock;
    const u8* image = ZevRamPara::p_zevrampara_config;
    return Mode(image + Img::kModeStart, image + Img::kSize);
}
} // namespace

class TestUserModeSequence : public QObject
{
    Q_OBJECT
    PageHarness harness;
    MainWindow* w = nullptr;
    message_deal md;
    std::string data;
    bool mounted = false;
    bool full = false;

    QString host(const std::string& boardPath) { return harness.sim().hostQ(boardPath); }

    // A partition that fills and empties; where no private mount can be
    // had, the modes' folder out of reach plays the full partition.
    bool fill()
    {
        full = true;
        if (mounted)
            return fill_up(data + "/filler");
        const QString modes = host("/data/modes");
        return QDir().rename(modes, modes + ".away") && writeHostFile(modes, "in the way");
    }
    bool make_room()
    {
        full = false;
        if (mounted)
            return QFile::remove(QString::fromStdString(data + "/filler"));
        const QString modes = host("/data/modes");
        return QFile::remove(modes) && QDir().rename(modes + ".away", modes);
    }

    u8 status(const Bytes& req)
    {
        const Reply r = send(md, req);
        return r.sent ? r.status() : 0xEE;
    }

    // The video processor's turn and the refreshes it asks for, then the
    // ticks of the gap, each running what is due.
    void gap(int ms, bool applied)
    {
        if (applied) {
            const u8 code = g_para_update_flag.load();
            if (code) {
                g_para_update_flag = 0;
                ZevRamPara::test_signal(code);
            }
            QCoreApplication::processEvents();
        }
        for (int t = 0; t < ms / 10; ++t)
            w->slot_update_timer_ticks();
    }

    // The panel's save or call tool on slot s, as its keys do.
    void panel(bool save, int s)
    {
        if (w->form()->widget->isHidden())
            w->on_tools_clicked();
        if (save)
            w->on_toolButton4_clicked();
        else
            w->on_toolButton3_clicked();
        for (int i = 0; i < 2 * kUserModeCount && w->mode_cursor() != s; ++i)
            release_key(w, kRight);
        QCOMPARE(int(w->mode_cursor()), s);
        release_key(w, kOk);
        // The done tip is the refresh's: the sequence does not wait on it.
        w->tip_on_sync = 0;
        release_key(w, kBack);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The slots and the screen as the model has them; the files too once
    // nothing waits for room.
    void check(const Model& m, const QString& where)
    {
        const int screen = first_difference(image_mode(), m.screen);
        QVERIFY2(screen < 0, qPrintable(where + QString(": the screen differs at image byte %1").arg(screen)));
        for (int s = 0; s < kUserModeCount; ++s) {
            Mode slot;
            bool saved;
            {
                C331Lock lock;
                saved = ZevRamPara::ZevUserModeSaved(s);
                slot.assign(ZevRamPara::user_mode[s] + 2, ZevRamPara::user_mode[s] + 2 + Img::kModeBytes);
            }
            QVERIFY2(saved == m.stored[s].has_value(), qPrintable(where + QString(": slot %1 saved").arg(s + 1)));
            if (saved)
                QVERIFY2(first_difference(slot, *m.stored[s]) < 0, qPrintable(where + QString(": slot %1").arg(s + 1)));
        }
    }
    void check_files(const Model& m, const QString& where)
    {
        QCOMPARE(SyncUpdate::pInstance()->ticks_to_retry(), SyncUpdate::kNothingWaits);
        for (int s = 0; s < kUserModeCount; ++s) {
            if (!m.stored[s])
                continue;
            const QByteArray file = readHostFile(host(ZevRamPara::modeFilePath(s)));
            QVERIFY2(file.size() == kUserModeFileSize && file.startsWith("\xAA\xAA") &&
                         std::memcmp(file.constData() + 2, m.stored[s]->data(), Img::kModeBytes) == 0,
                     qPrintable(where + QString(": the file of slot %1").arg(s + 1)));
        }
    }

  private slots:
    void initTestCase()
    {
        w = harness.main_window();
        SyncUpdate::attach(ZevRamPara::p_zevrampara);
        data = harness.sim().root() + "/data";
        mounted = own_partition(data, 1 << 20);
        QVERIFY(QDir().mkpath(host("/data/modes")));
        g_page_focus = PageId::MainWindow;
        w->para_init();
    }
    void cleanupTestCase()
    {
        if (mounted)
            drop_partition(data);
    }

    void randomStepsKeepWhatEachAnswerPromised()
    {
        Run run(300);
        // Every slot empty, the screen applied as register 11 leaves it.
        for (int s = 0; s < kUserModeCount; ++s) {
            C331Lock lock;
            ZevRamPara::empty_mode_slot(s);
        }
        SyncUpdate::pInstance()->para_sync(2);
        QCOMPARE(status(kApply), u8(0));
        gap(0, true);
        Model m;
        m.screen = image_mode();

        // Weighted steps: the PC's most, the panel's a few.
        const Step table[] = {Change, Change, Change,       SingleChange, Save,      Save,        Save,  Recall, Recall,
                              Recall, Recall, SingleRecall, SingleRecall, PanelSave, PanelRecall, Black, Fill,   Room};
        for (int i = 0; i < run.steps; ++i) {
            const auto [step, s, where] = run.next(i, table);
            switch (step) {
            case Change: {
                const u8 v = u8(run.pick(101));
                QCOMPARE(status(write_image(Img::kBrightness, {v, 0})), u8(0));
                QCOMPARE(status(kApply), u8(0));
                m.brightness(v);
                break;
            }
            case SingleChange: {
                const u8 v = u8(run.pick(101));
                QCOMPARE(status(single(6, v)), u8(0));
                m.brightness(v);
                break;
            }
            case Save:
                QCOMPARE(status(save_request(s)), u8(0));
                QCOMPARE(status(kApply), u8(0));
                m.save(s);
                break;
            case Recall:
                QCOMPARE(status(recall_request(s)), u8(0));
                QCOMPARE(status(kApply), u8(0));
                m.recall(s);
                break;
            case SingleRecall:
                QCOMPARE(status(single_recall(s)), u8(0));
                m.recall(s);
                break;
            case PanelSave:
                panel(true, s);
                m.save(s);
                break;
            case PanelRecall:
                if (!m.stored[s])
                    continue;
                panel(false, s);
                m.recall(s);
                break;
            case Black: {
                const int window = run.pick(kSourceCount);
                g_image_current = u8(window);
                ZevRamPara::ZevSetImageBlack();
                m.black(window) ^= 0x01;
                break;
            }
            case Fill:
                if (!full)
                    QVERIFY2(fill(), qPrintable(where));
                break;
            case Room:
                if (full) {
                    QVERIFY2(make_room(), qPrintable(where));
                    // Within the second of a retry every write that waited
                    // is made.
                    gap(int(SyncUpdate::kRetryTicks) * 10 + 10, true);
                    check_files(m, where);
                }
                break;
            }
            check(m, where);
            if (QTest::currentTestFailed())
                return;
            gap(run.pick(31) * 10, run.pick(3) != 0);
        }
        if (full)
            QVERIFY(make_room());
        gap(int(SyncUpdate::kRetryTicks) * 10 + 10, true);
        check(m, "the end");
        check_files(m, QString("seed %1, the end").arg(run.seed));
    }
};

QTEST_MAIN(TestUserModeSequence)
#include "test_usermode_sequence.moc"
