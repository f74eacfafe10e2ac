// The running program on the simulated board, driven by two PC clients over
// TCP and the keypad: random user-mode saves (word 868 alone, with 866
// emptied, or with 866 as read), changes and recalls (register 11, the
// single-setting command, a whole image written back), the second client's
// requests among the first's, uploads into and empties of slots with the
// rewrite of the modes, factory resets and BLACK keys at random gaps of 0 to
// 300 ms, on a data partition of its own that fills and empties, with a
// restart of the box and a kill -9 every 20 steps, and halfway between the
// PC's reboot and a SIGTERM, each right after a PC request. Each answer is
// checked against a plain model: a recall answered 0 shows what its slot
// last saved, a save answered 0 is in its slot at once (as the PC reads it)
// and in its file once room returns, words 866 and 868 are as the rules
// leave them, a factory reset answered 0 leaves no mode file, a restart
// finds each slot as its file may hold it, and a reboot or SIGTERM right
// after a request finds everything answered 0 stored.
//
// ZEV_SEQUENCE_STEPS sets the number of steps (a longer run), and
// ZEV_SEQUENCE_SEED replays the run a failure names.
#include <QtTest>

#include <chrono>
#include <csignal>
#include <thread>

#include "core/zevrampara.h"
#include "support/fs_helpers.h"
#include "support/mode_sequence.h"
#include "support/net_helpers.h"
#include "support/program_stops.h"
#include "support/sim_fixture.h"

using namespace mode_sequence;

class TestE2eUserModeSequence : public QObject, public PcSteps
{
    Q_OBJECT
    QTemporaryDir root;
    std::string program;
    std::string data;
    bool mounted = false;
    bool full = false;
    pid_t pid = -1;
    // The PC's two clients.
    int pc[2] = {-1, -1};

    QString host(const QString& boardPath) const { return root.path() + boardPath; }
    QString filler() const { return QString::fromStdString(data + "/filler"); }

    Bytes ask_box(int c, const Bytes& req) override { return ask(pc[c], req); }
    Mode screen() { return read(0, Img::kModeStart, Img::kModeBytes); }
    FileBytes slot(int s) { return held(read(0, u32(s + 1) << 12, 2 + Img::kModeBytes)); }
    void press(const char* keys)
    {
        QFile file(host("/sim/keypad"));
        if (file.open(QIODevice::Append))
            file.write(keys);
    }
    bool eventually(const std::function<bool()>& done) { return QTest::qWaitFor(done, 10000); }

    // Started as from a shell in the foreground, so that SIGTERM acts as a
    // service manager's stop.
    bool start()
    {
        pid = start_program(program, root.path().toStdString(), "/dev/null", foreground_start());
        return pid > 0;
    }
    // The box up, both clients connected, its keypad taking keys.
    bool connected()
    {
        for (int& c : pc)
            c = answering_link(15000);
        return pc[0] >= 0 && pc[1] >= 0 && eventually([&] { return QFileInfo(host("/sim/keypad_leds")).size() > 0; });
    }
    void disconnect()
    {
        for (int& c : pc) {
            if (c >= 0)
                close(c);
            c = -1;
        }
        QFile::remove(host("/sim/keypad_leds"));
    }

    // Each file the model knows holds what it should.
    bool files_hold()
    {
        for (int s = 0; s < kUserModeCount; ++s) {
            if (!m.files[s].eventual)
                continue;
            const QString file = host(QString::fromStdString(ZevRamPara::modeFilePath(s)));
            const QByteArray b = readHostFile(file);
            const FileBytes on_disk = QFileInfo::exists(file) ? held(Bytes(b.begin(), b.end())) : FileBytes();
            if (on_disk != *m.files[s].eventual || (on_disk && b.size() != kUserModeFileSize))
                return false;
        }
        return true;
    }
    void files_settle()
    {
        QVERIFY2(eventually([&] { return files_hold(); }), qPrintable(where + ": the files once room returned"));
        for (SlotFile& f : m.files)
            f.settled();
    }
    QStringList mode_files() { return QDir(host("/data/modes")).entryList(QDir::Files | QDir::Hidden); }
    // The stored image holds the screen and word 866 as the model has them.
    bool image_stored()
    {
        const QByteArray b = readHostFile(host("/data/ram_device_info"));
        const int head = 2 - Img::kPersistStart;
        if (b.size() < head + Img::kSize)
            return false;
        const u16 mode = u16(u8(b[head + Img::kCurrentMode]) | u8(b[head + Img::kCurrentMode + 1]) << 8);
        return mode == m.mode &&
               first_difference(Mode(b.begin() + head + Img::kModeStart, b.begin() + head + Img::kSize), m.screen) < 0;
    }

    // A restart: by the box's own restart once everything is stored, or
    // by a kill -9 at once. Each slot is then one of what its file may hold;
    // after the box's restart the screen and word 866 are as stored.
    void restart(bool clean)
    {
        if (clean) {
            if (full) {
                QVERIFY2(QFile::remove(filler()), qPrintable(where));
                full = false;
            }
            files_settle();
            QVERIFY2(eventually([&] { return image_stored(); }), qPrintable(where + ": the stored image"));
            const u16 mode = m.mode;
            const Mode shown = m.screen;
            put(pc[0], wire(with_bcc(request(kBox, 0xA0, {14, 0x02, 0, 0x02}))));
            // The old program is gone once nothing listens on the port.
            bool gone = false;
            for (int waited = 0; !gone && waited < 10000; waited += 20) {
                const int probe = tcp_connect(5005);
                gone = probe < 0;
                if (probe >= 0)
                    close(probe);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            QVERIFY2(gone, qPrintable(where + ": the box going down"));
            disconnect();
            QVERIFY2(connected(), qPrintable(where + ": the box back after its restart"));
            const Mode after = screen();
            const int differs = first_difference(after, shown);
            QVERIFY2(
                differs < 0,
                qPrintable(where + QString(": the screen after the restart differs at image byte %1").arg(differs)));
            m.restarted(mode);
        } else {
            disconnect();
            stop_program(pid);
            QVERIFY2(start() && connected(), qPrintable(where + ": the box back after a kill -9"));
            m.screen = screen();
            const Bytes w = words();
            QVERIFY2(w.size() == 4, qPrintable(where + ": the mode words"));
            m.restarted(u16(w[0] | w[1] << 8));
        }
        for (int s = 0; s < kUserModeCount; ++s) {
            const FileBytes found = slot(s);
            const auto& possible = m.files[s].possible;
            QVERIFY2(std::find(possible.begin(), possible.end(), found) != possible.end(),
                     qPrintable(where + QString(": slot %1 after the restart").arg(s + 1)));
            m.stored[s] = found;
            m.files[s].found(found);
        }
    }

    // A PC request, and at once the PC's reboot or SIGTERM; the box then
    // holds everything answered 0: the screen and word 866 as they were and
    // every slot's file as its slot was answered. An upload or empty of a
    // slot with no rewrite of the modes after it is in its slot only, so
    // such a slot is what its file may hold.
    void stop_after_request(Run& run, bool reboot, int s)
    {
        // Room for what waits: the stop may only store what can be written.
        if (full) {
            QVERIFY2(QFile::remove(filler()), qPrintable(where));
            full = false;
        }
        request_before_stop(run, s);
        if (QTest::currentTestFailed())
            return;
        QString ended;
        if (reboot) {
            put(pc[0], wire(with_bcc(kReboot)));
            QVERIFY2(closed_within(pc[0], 15000), qPrintable(where + ": the box going down"));
        } else {
            kill(pid, SIGTERM);
            int status = 0;
            if (!ended_within(pid, 30000, &status)) {
                ended = "the program still ran 30 s after SIGTERM";
                stop_program(pid);
            } else if (!exited_cleanly(status)) {
                ended = "at SIGTERM the program " + ending(status) + ", not exited with status 0";
            }
            pid = -1;
        }
        disconnect();
        QVERIFY2((reboot || start()) && connected(), qPrintable(where + ": the box back after the stop"));

        std::array<FileBytes, kUserModeCount> found;
        for (int k = 0; k < kUserModeCount; ++k)
            found[k] = slot(k);
        QStringList lost = lost_at_start(screen(), words(), found);
        if (!ended.isEmpty())
            lost.append(ended);
        QVERIFY2(lost.isEmpty(), qPrintable(where + ": " + lost.join("; ")));
    }

    void step(Run& run, Step step, int s)
    {
        if (pc_step(run, step, s))
            return;
        switch (step) {
        case Rewrite:
            // The rewrite runs after the answer: it is waited for where
            // there is room to make it.
            if (full)
                break;
            QVERIFY2(ok(0, kRewrite), qPrintable(where + ": the rewrite"));
            m.rewrite();
            files_settle();
            break;
        case Reset: {
            const Bytes r = ask_box(0, kFactoryReset);
            const u8 answer = r.empty() ? 0xEE : r[0];
            QVERIFY2(answer == 0 || (answer == 1 && full), qPrintable(where + ": the factory reset's answer"));
            if (answer != 0)
                break;
            m.factory_reset();
            QVERIFY2(mode_files().isEmpty(), qPrintable(where + ": files left: " + mode_files().join(' ')));
            break;
        }
        case Black: {
            // Window 1 is the current window the key blacks out.
            const u8 black = m.black(0) ^= 0x01;
            const int flag = ZevRamPara::layerOffset(0) + Img::kLayerFlags - Img::kModeStart;
            press("BLACK\n");
            QVERIFY2(eventually([&] { return screen().at(flag) == black; }), qPrintable(where));
            break;
        }
        case Fill:
            if (mounted && !full)
                QVERIFY2(fill_up(filler().toStdString()), qPrintable(where));
            full = mounted;
            break;
        case Room:
            if (full) {
                QVERIFY2(QFile::remove(filler()), qPrintable(where));
                full = false;
                files_settle();
            }
            break;
        case CleanRestart:
        case KillRestart:
            restart(step == CleanRestart);
            break;
        case RebootAfterRequest:
        case TermAfterRequest:
            stop_after_request(run, step == RebootAfterRequest, s);
            break;
        default:
            // The panel's save and call tools are driven by the
            // in-process run.
            break;
        }
    }

    // The screen, the mode words and every slot as the model has them.
    void check()
    {
        const int differs = first_difference(screen(), m.screen);
        QVERIFY2(differs < 0, qPrintable(where + QString(": the screen differs at image byte %1").arg(differs)));
        const Bytes w = words();
        QVERIFY2(w.size() == 4 && u16(w[0] | w[1] << 8) == m.mode && u16(w[2] | w[3] << 8) == m.to_save,
                 qPrintable(where + QString(": the mode words, %1 and %2 in the model").arg(m.mode).arg(m.to_save)));
        for (int s = 0; s < kUserModeCount; ++s)
            QVERIFY2(slot(s) == m.stored[s], qPrintable(where + QString(": slot %1").arg(s + 1)));
    }

  private slots:
    void initTestCase()
    {
        program = qgetenv("ZEV_PROGRAM").toStdString();
        if (program.empty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        data = root.path().toStdString() + "/data";
        mounted = own_partition(data, 16 << 20);
        QVERIFY(start() && connected());
    }
    void cleanupTestCase()
    {
        disconnect();
        stop_program(pid);
        if (mounted)
            drop_partition(data);
    }

    void randomStepsKeepWhatEachAnswerPromised()
    {
        Run run(60);
        // The factory image applied, every slot empty and no mode file.
        QVERIFY(ok(0, kFactoryReset));
        QVERIFY(ok(0, kApply));
        m = Model();
        QVERIFY(eventually([&] {
            m.screen = screen();
            const Bytes w = words();
            m.mode = w.size() == 4 ? u16(w[0] | w[1] << 8) : 0xFFFF;
            return image_stored();
        }));
        QVERIFY(mode_files().isEmpty());

        const Step table[] = {Change,       Change,     SingleChange, Save,       SaveAlone, SaveAsRead,
                              SaveAsRead,   Recall,     Recall,       Recall,     Recall,    SingleRecall,
                              SingleRecall, WholeImage, TwoClients,   TwoClients, Upload,    Empty,
                              Rewrite,      Reset,      Black,        Fill,       Room};
        for (int i = 0; i < run.steps; ++i) {
            auto next = run.next(i, table);
            // The box's restart and a kill -9 in turn, every 20 steps, and
            // halfway between the PC's reboot and SIGTERM in turn.
            if (i % 20 == 19)
                next.step = (i / 20) % 2 ? KillRestart : CleanRestart;
            else if (i % 20 == 9)
                next.step = (i / 20) % 2 ? TermAfterRequest : RebootAfterRequest;
            where = run.label(i, next.step, next.slot);
            step(run, next.step, next.slot);
            if (QTest::currentTestFailed())
                return;
            check();
            if (QTest::currentTestFailed())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(run.pick(301)));
        }
        where = QString("seed %1, the end").arg(run.seed);
        if (full)
            QVERIFY(QFile::remove(filler()));
        files_settle();
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eUserModeSequence)

#include "test_e2e_usermode_sequence.moc"
