// The running program on the simulated board, driven by a PC over TCP and
// the keypad: random user-mode saves, changes and recalls (register 11 and
// the single-setting command) and BLACK keys at random gaps of 0 to 300 ms,
// on a data partition of its own that fills and empties. Each answer is
// checked against a plain model: a recall answered 0 shows what its slot
// last saved, a save answered 0 is in its slot at once (as the PC reads it)
// and in its file once room returns.
//
// ZEV_SEQUENCE_STEPS sets the number of steps (a longer run), and
// ZEV_SEQUENCE_SEED replays the run a failure names.
#include <QtTest>

#include <chrono>
#include <thread>

#include "core/zevrampara.h"
#include "support/fs_helpers.h"
#include "support/mode_sequence.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

using namespace mode_sequence;

class TestE2eUserModeSequence : public QObject
{
    Q_OBJECT
    QTemporaryDir root;
    std::string program;
    std::string data;
    bool mounted = false;
    pid_t pid = -1;
    int pc = -1;

    QString host(const QString& boardPath) const { return root.path() + boardPath; }

    // The PC's read of length bytes at at; empty when it fails.
    Bytes read(u32 at, int length)
    {
        const Bytes r = ask(pc, request(kBox, 0x61, ram_rest(at, u16(length))));
        return r.size() == size_t(length) + 1 && r[0] == 0 ? Bytes(r.begin() + 1, r.end()) : Bytes();
    }
    Mode screen() { return read(Img::kModeStart, Img::kModeBytes); }
    Mode slot(int s) { return read(u32(s + 1) << 12, 2 + Img::kModeBytes); }
    u8 status(const Bytes& req)
    {
        const Bytes a = ask(pc, req);
        return a.empty() ? 0xEE : a[0];
    }
    void press(const char* keys)
    {
        QFile file(host("/sim/keypad"));
        if (file.open(QIODevice::Append))
            file.write(keys);
    }
    bool files_hold(const Model& m)
    {
        for (int s = 0; s < kUserModeCount; ++s) {
            if (!m.stored[s])
                continue;
            const QByteArray file = readHostFile(host(QString::fromStdString(ZevRamPara::modeFilePath(s))));
            if (file.size() != kUserModeFileSize || !file.startsWith("\xAA\xAA") ||
                first_difference(Mode(file.begin() + 2, file.begin() + 2 + Img::kModeBytes), *m.stored[s]) >= 0)
                return false;
        }
        return true;
    }

  private slots:
    void initTestCase()
    {
        program = qgetenv("ZEV_PROGRAM").toStdString();
        if (program.empty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        data = root.path().toStdString() + "/data";
        mounted = own_partition(data, 16 << 20);
        pid = start_serving_program(program, root.path().toStdString(), true);
        pc = pid > 0 ? tcp_connect(5005, true) : -1;
        QVERIFY(pc >= 0);
    }
    void cleanupTestCase()
    {
        if (pc >= 0)
            close(pc);
        stop_program(pid);
        if (mounted)
            drop_partition(data);
    }

    void randomStepsKeepWhatEachAnswerPromised()
    {
        Run run(60);
        const QString filler = QString::fromStdString(data + "/filler");
        bool full = false;

        // The keypad's keys are taken once the panel lit its LEDs.
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(host("/sim/keypad_leds")).size() > 0; }, 10000));
        QCOMPARE(status(kApply), u8(0));
        Model m;
        m.screen = screen();
        QCOMPARE(int(m.screen.size()), Img::kModeBytes);

        const Step table[] = {Change, Change, SingleChange, Save,         Save,  Save, Recall, Recall,
                              Recall, Recall, SingleRecall, SingleRecall, Black, Fill, Room};
        for (int i = 0; i < run.steps; ++i) {
            const auto [step, s, where] = run.next(i, table);
            switch (step) {
            case Change: {
                const u8 v = u8(run.pick(101));
                QVERIFY2(status(write_image(Img::kBrightness, {v, 0})) == 0 && status(kApply) == 0, qPrintable(where));
                m.brightness(v);
                break;
            }
            case SingleChange: {
                const u8 v = u8(run.pick(101));
                QVERIFY2(status(single(6, v)) == 0, qPrintable(where));
                m.brightness(v);
                break;
            }
            case Save: {
                QVERIFY2(status(save_request(s)) == 0 && status(kApply) == 0, qPrintable(where));
                m.save(s);
                // In its slot when answered, whatever its file does.
                const Mode read = slot(s);
                QVERIFY2(read.size() == size_t(2 + Img::kModeBytes) && read[0] == 0xAA && read[1] == 0xAA &&
                             first_difference(Mode(read.begin() + 2, read.end()), m.screen) < 0,
                         qPrintable(where + ": the slot as the PC reads it"));
                break;
            }
            case Recall:
                QVERIFY2(status(recall_request(s)) == 0 && status(kApply) == 0, qPrintable(where));
                m.recall(s);
                break;
            case SingleRecall:
                QVERIFY2(status(single_recall(s)) == 0, qPrintable(where));
                m.recall(s);
                break;
            case Black: {
                // Window 1 is the current window the key blacks out.
                const u8 black = m.black(0) ^= 0x01;
                const int flag = ZevRamPara::layerOffset(0) + Img::kLayerFlags - Img::kModeStart;
                press("BLACK\n");
                QVERIFY2(QTest::qWaitFor([&] { return screen().at(flag) == black; }, 10000), qPrintable(where));
                break;
            }
            case Fill:
                if (mounted && !full)
                    QVERIFY2(fill_up(filler.toStdString()), qPrintable(where));
                full = mounted;
                break;
            case Room:
                if (full) {
                    QVERIFY2(QFile::remove(filler), qPrintable(where));
                    full = false;
                    QVERIFY2(QTest::qWaitFor([&] { return files_hold(m); }, 10000),
                             qPrintable(where + ": the files once room returned"));
                }
                break;
            default:
                // The panel's save and call tools are driven by the
                // in-process run.
                break;
            }
            const int differs = first_difference(screen(), m.screen);
            QVERIFY2(differs < 0, qPrintable(where + QString(": the screen differs at image byte %1").arg(differs)));
            std::this_thread::sleep_for(std::chrono::milliseconds(run.pick(301)));
        }
        if (full)
            QVERIFY(QFile::remove(filler));
        QVERIFY2(QTest::qWaitFor([&] { return files_hold(m); }, 10000), qPrintable(QString("seed %1").arg(run.seed)));
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eUserModeSequence)

#include "test_e2e_usermode_sequence.moc"
