// The user-mode path as one sequence: random saves, changes and recalls by
// the PC (every way it writes the mode words, register 11, the single-setting
// command, a whole image written back, a second PC client's requests among
// the first's) and on the panel, uploads into and empties of slots with the
// rewrite of the modes, factory resets and BLACK keys, with random gaps in
// which the video processor's apply, the page refresh and the retry of
// waiting writes run or do not run yet, on a data partition that fills and
// empties. Every answer is checked against a plain model: a recall answered
// 0 shows what its slot last saved, a save answered 0 is in its slot at once
// and in its file once room returns, words 866 and 868 are as the rules
// leave them, and a factory reset answered 0 leaves no mode file.
//
// ZEV_SEQUENCE_STEPS sets the number of steps (a longer run), and
// ZEV_SEQUENCE_SEED replays the run a failure names.
#include <QtTest>

#include <cstring>

#include <QDir>

#include "core/before_stop.h"
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

class TestUserModeSequence : public QObject, public PcSteps
{
    Q_OBJECT
    PageHarness harness;
    MainWindow* w = nullptr;
    // The PC's two clients.
    message_deal md[2];
    std::string data;
    bool mounted = false;
    bool full = false;

    QString host(const std::string& boardPath) { return harness.sim().hostQ(boardPath); }

    // A partition that fills and empties. Where no private mount can be
    // had, writes of the files the box stores on it meanwhile (the slots'
    // files and menus, the device information) fail as on a full one, while
    // their removals remove them; each room checks that no other file was
    // written while full, which a full partition would have refused too.
    FileStamps before_full;
    std::vector<std::string> stored_files()
    {
        std::vector<std::string> files = {harness.sim().host(ZevRamPara::kDeviceInfoFile)};
        for (int s = 0; s < kUserModeCount; ++s) {
            files.push_back(harness.sim().host(ZevRamPara::modeFilePath(s)));
            files.push_back(harness.sim().host(ZevRamPara::modeMenuPath(s)));
        }
        return files;
    }
    bool fill()
    {
        full = true;
        if (mounted)
            return fill_up(data + "/filler");
        before_full = file_stamps(data);
        return block_writes(stored_files());
    }
    // Empty when done, else what went wrong.
    QString make_room()
    {
        full = false;
        if (mounted)
            return QFile::remove(QString::fromStdString(data + "/filler")) ? QString() : "the filler stays";
        if (!unblock_writes(stored_files()))
            return "a folder in the way of a write was gone";
        QStringList written;
        for (const std::string& file : written_since(before_full, file_stamps(data)))
            written << QString::fromStdString(file);
        return written.isEmpty() ? QString() : "written while full: " + written.join(' ');
    }

    Bytes ask_box(int c, const Bytes& req) override
    {
        const Reply r = send(md[c], req);
        if (!r.sent)
            return {};
        Bytes out = {r.status()};
        const Bytes d = r.data();
        out.insert(out.end(), d.begin(), d.end());
        return out;
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
                m.refresh();
                if (code == 2)
                    m.rewrite();
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

    // The slots, the screen and the mode words as the model has them.
    void check()
    {
        const int screen = first_difference(image_mode(), m.screen);
        QVERIFY2(screen < 0, qPrintable(where + QString(": the screen differs at image byte %1").arg(screen)));
        u16 mode, toSave;
        {
            C331Lock lock;
            mode = ZevRamPara::img16(Img::kCurrentMode);
            toSave = ZevRamPara::img16(Img::kModeToSave);
        }
        QVERIFY2(mode == m.mode, qPrintable(where + QString(": word 866 is %1, not %2").arg(mode).arg(m.mode)));
        QVERIFY2(toSave == m.to_save, qPrintable(where + QString(": word 868 is %1").arg(toSave)));
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
    // Every file the model knows, once nothing waits for room.
    void check_files()
    {
        QVERIFY2(SyncUpdate::pInstance()->ticks_to_retry() == SyncUpdate::kNothingWaits,
                 qPrintable(where + ": writes still wait"));
        for (int s = 0; s < kUserModeCount; ++s) {
            if (!m.files[s].eventual)
                continue;
            const QString file = host(ZevRamPara::modeFilePath(s));
            const FileBytes& expected = *m.files[s].eventual;
            if (!expected) {
                QVERIFY2(!QFileInfo::exists(file), qPrintable(where + QString(": slot %1 has a file").arg(s + 1)));
                continue;
            }
            const QByteArray b = readHostFile(file);
            QVERIFY2(b.size() == kUserModeFileSize && held(Bytes(b.begin(), b.end())) == expected,
                     qPrintable(where + QString(": the file of slot %1").arg(s + 1)));
            m.files[s].settled();
        }
    }
    QStringList mode_files() { return QDir(host("/data/modes")).entryList(QDir::Files | QDir::Hidden); }

    // A PC request, and at once, with no refresh between, the PC's reboot or
    // what SIGTERM does; then the box starts again from its files, which
    // hold everything answered 0.
    void stop_after_request(Run& run, bool reboot, int s)
    {
        // Room for what waits: a stop only stores what can be written.
        if (full) {
            const QString room = make_room();
            QVERIFY2(room.isEmpty(), qPrintable(where + ": " + room));
        }
        request_before_stop(run, s);
        if (QTest::currentTestFailed())
            return;
        if (reboot)
            QVERIFY2(ok(0, kReboot), qPrintable(where + ": the reboot"));
        else
            QVERIFY2(before_stop::store_all(), qPrintable(where + ": the writes of the stop"));
        // The start: the image and the slots from their files, nothing
        // waiting for the video processor.
        g_para_update_flag = 0;
        ZevRamPara::p_zevrampara->load_all();
        std::array<FileBytes, kUserModeCount> found;
        for (int k = 0; k < kUserModeCount; ++k) {
            C331Lock lock;
            found[k] = held(Bytes(ZevRamPara::user_mode[k] + 0, ZevRamPara::user_mode[k] + 2 + Img::kModeBytes));
        }
        const QStringList lost = lost_at_start(image_mode(), words(), found);
        QVERIFY2(lost.isEmpty(), qPrintable(where + ": " + lost.join("; ")));
    }

    void step(Run& run, Step step, int s)
    {
        if (pc_step(run, step, s))
            return;
        switch (step) {
        case Rewrite:
            QVERIFY2(ok(0, kRewrite), qPrintable(where + ": the rewrite"));
            // The refresh the apply asks rewrites the modes.
            gap(0, true);
            break;
        case Reset: {
            // A reset that cannot write the factory image (a full partition)
            // answers 1 and changes nothing.
            const Reply r = send(md[0], kFactoryReset);
            QVERIFY2(r.sent && (r.status() == 0 || (r.status() == 1 && full)),
                     qPrintable(where + ": the factory reset's answer"));
            if (r.status() != 0)
                break;
            m.factory_reset();
            QVERIFY2(mode_files().isEmpty(), qPrintable(where + ": files left: " + mode_files().join(' ')));
            break;
        }
        case PanelSave:
            panel(true, s);
            m.save(s);
            break;
        case PanelRecall:
            if (!m.stored[s])
                break;
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
        case RebootAfterRequest:
        case TermAfterRequest:
            stop_after_request(run, step == RebootAfterRequest, s);
            break;
        case Room:
            if (full) {
                const QString room = make_room();
                QVERIFY2(room.isEmpty(), qPrintable(where + ": " + room));
                // Within the second of a retry every write that waited
                // is made.
                gap(int(SyncUpdate::kRetryTicks) * 10 + 10, true);
                check_files();
            }
            break;
        default:
            break;
        }
    }

  private slots:
    void initTestCase()
    {
        w = harness.main_window();
        SyncUpdate::attach(ZevRamPara::p_zevrampara);
        data = harness.sim().root() + "/data";
        mounted = own_partition(data, 1 << 20);
        if (!mounted)
            qInfo("no private mount: a full partition is played by folders in the way of the box's writes");
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
        // The factory image applied, every slot empty and no mode file.
        QVERIFY(ok(0, kFactoryReset));
        QVERIFY(ok(0, kApply));
        gap(0, true);
        m = Model();
        m.screen = image_mode();
        QVERIFY(mode_files().isEmpty());

        // Weighted steps: the PC's most, the panel's a few.
        // clang-format off
        const Step table[] = {Change,     Change,       Change,     SingleChange, Save,   Save,
                              SaveAlone,  SaveAsRead,   SaveAsRead, Recall,       Recall, Recall,
                              Recall,     SingleRecall, SingleRecall, WholeImage, TwoClients, TwoClients,
                              Upload,     Empty,        Rewrite,    Rewrite,      Reset,  PanelSave,
                              PanelRecall, Black,       Fill,       Room,         RebootAfterRequest, TermAfterRequest};
        // clang-format on
        for (int i = 0; i < run.steps; ++i) {
            const auto next = run.next(i, table);
            where = next.where;
            step(run, next.step, next.slot);
            if (QTest::currentTestFailed())
                return;
            check();
            if (QTest::currentTestFailed())
                return;
            gap(run.pick(31) * 10, run.pick(3) != 0);
        }
        where = QString("seed %1, the end").arg(run.seed);
        const QString room = full ? make_room() : QString();
        QVERIFY2(room.isEmpty(), qPrintable(where + ": " + room));
        gap(int(SyncUpdate::kRetryTicks) * 10 + 10, true);
        check();
        check_files();
    }
};

QTEST_MAIN(TestUserModeSequence)
#include "test_usermode_sequence.moc"
