// The running program on the simulated board, stopped right after the PC's
// requests were answered: by the PC's reboot (register 14 bit 1), by SIGTERM
// and by SIGINT. What was answered 0 is there after the next start, a
// factory reset's image is never overwritten by the settings from before it,
// and the front panel still acts on a key soon after a burst of requests
// whose file writes wait (rewrites of the modes, uploads with rewrites,
// saves while a second client streams image writes).
//
// ZEV_STOP_TRIALS sets the trials of each stop and of the factory reset (a
// longer run, e.g. 20; the suite runs one stop of each kind and two
// resets).
#include <QtTest>

#include <QThread>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

#include "core/zevrampara.h"
#include "support/mode_sequence.h"
#include "support/net_helpers.h"
#include "support/program_stops.h"
#include "support/sim_fixture.h"

using mode_sequence::kApply;
using mode_sequence::kFactoryReset;
using mode_sequence::kRewrite;
using mode_sequence::read_image;
using mode_sequence::write_image;

namespace
{
// Where image byte at lies in the stored image file, behind its markers.
constexpr int kFileHead = 2 - Img::kPersistStart;
// A slot as the PC reads it and its file begins: markers, then the mode.
constexpr int kSlotBytes = 2 + Img::kModeBytes;
// The black flag of window 1, the window the BLACK key acts on.
const int kBlackFlag = ZevRamPara::layerOffset(0) + Img::kLayerFlags;
// The passes of file writes a key may wait for after a burst, each ending
// in one "sync": the pass running at the last answer and the one every
// request since then joined; twice that while a stream goes on until the
// keypad's file is read.
constexpr int kMostWrites = 4;

enum class Stop { Reboot, Term, Int };
// The bursts of requests a key is pressed after.
enum class Burst { Rewrites, UploadsWithRewrites, SavesBesideAStream };

const char* stop_name(Stop stop)
{
    return stop == Stop::Reboot ? "the PC's reboot" : stop == Stop::Term ? "SIGTERM" : "SIGINT";
}

int trials(int inTheSuite)
{
    bool ok = false;
    const int asked = qEnvironmentVariableIntValue("ZEV_STOP_TRIALS", &ok);
    return ok && asked > 0 ? asked : inTheSuite;
}

Bytes brightness(u8 value)
{
    return write_image(Img::kBrightness, {value, 0});
}
// A save of slot s (0-based), word 866 emptied with it.
Bytes save_mode(int s)
{
    return write_image(Img::kCurrentMode, {0, 0, u8(s + 1), 0});
}
// Where image byte at of slot s lies as the PC reads the slot.
u32 slot_address(int s, int at)
{
    return u32(s + 1) << 12 | u32(2 + at - Img::kModeStart);
}

// What the PC reads at at, length bytes; empty when the read fails.
Bytes read_bytes(int pc, u32 at, int length)
{
    const Bytes r = ask(pc, read_image(at, length));
    return r.size() == size_t(length) + 1 && r[0] == 0 ? Bytes(r.begin() + 1, r.end()) : Bytes();
}
int word(int pc, u32 at)
{
    const Bytes b = read_bytes(pc, at, 2);
    return b.size() == 2 ? int(b[0] | b[1] << 8) : -1;
}
// Byte at of a file, -1 when it does not hold it.
int file_byte(const QString& file, int at)
{
    const QByteArray b = readHostFile(file);
    return at >= 0 && at < b.size() ? u8(b[at]) : -1;
}
QString hex(const Bytes& b)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())).toHex(' ');
}

// A second PC client writing the brightness and applying it, over and
// over on a thread of its own, as a PC tool's slider does, until stopped.
class Stream
{
  public:
    ~Stream() { stop(); }
    bool start()
    {
        fd_ = tcp_connect(5005, true);
        if (fd_ < 0)
            return false;
        thread_ = std::thread([this] {
            for (int i = 0; !stop_; ++i) {
                if (ask(fd_, brightness(u8(60 + i % 2))) != Bytes{0} || ask(fd_, kApply) != Bytes{0})
                    refused_ = true;
                ++applies_;
                // About 2,000 a second: far more than the box writes files,
                // and little of a CPU.
                std::this_thread::sleep_for(std::chrono::microseconds(250));
            }
        });
        return true;
    }
    int applies() const { return applies_; }
    // False when a request of the stream was not answered 0.
    bool stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
        return !refused_;
    }

  private:
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false}, refused_{false};
    std::atomic<int> applies_{0};
};
} // namespace

Q_DECLARE_METATYPE(Burst)

class TestE2eStops : public QObject
{
    Q_OBJECT
    std::string program;
    std::unique_ptr<QTemporaryDir> root;
    pid_t pid = -1;
    int pc = -1;
    // The factory image, for the values a reset brings back.
    u8 factory[Img::kSize] = {};

    QString host(const QString& boardPath) const { return root->path() + boardPath; }
    QString image_file() const { return host("/data/ram_device_info"); }
    QString mode_file(int s) const { return host(QString::fromStdString(ZevRamPara::modeFilePath(s))); }
    int factory_brightness() const { return factory[Img::kBrightness]; }
    int syncs() const { return recorded(root->path(), "sync"); }

    // Starts the program on the data root as a shell starts one in the
    // foreground, and waits for its panel.
    bool start()
    {
        QFile::remove(host("/sim/keypad_leds"));
        pid = start_program(program, root->path().toStdString(), host("/output").toStdString(), foreground_start());
        pc = pid > 0 ? answering_link(15000) : -1;
        if (pc >= 0 && panel_up())
            return true;
        // What kept it from serving, with what it printed last, for a
        // failure seen once on a loaded machine.
        int status = 0;
        QString how = "answered on port 5005, but its panel was not up within 30 s";
        if (pid <= 0)
            how = "could not be started";
        else if (ended_within(pid, 0, &status))
            how = ending(status), pid = -1;
        else if (pc < 0)
            how = "did not answer on port 5005 within 15 s";
        const QByteArray printed = readHostFile(host("/output"));
        qWarning("the program %s; the end of what it printed:\n%s", qPrintable(how), printed.right(4000).constData());
        return false;
    }
    // The links answer seconds before the panel's event loop runs, which
    // stores what they were asked: a box in service has lit the keypad's
    // LEDs, which this start's panel does as it takes keys.
    bool panel_up()
    {
        return QTest::qWaitFor([&] { return QFileInfo(host("/sim/keypad_leds")).size() > 0; }, 30000);
    }
    void end_link()
    {
        if (pc >= 0)
            close(pc);
        pc = -1;
    }
    // The statuses of the requests sent one after the other, 0xEE for one
    // left unanswered.
    Bytes statuses(const std::vector<Bytes>& requests)
    {
        Bytes out;
        for (const Bytes& r : requests) {
            const Bytes a = ask(pc, r);
            out.push_back(a.empty() ? 0xEE : a[0]);
        }
        return out;
    }

    // Stops the box as asked, at once, and starts it again on the same data
    // root. How the program ended, when it should not have so, is added to
    // problems; false when the box did not come back.
    bool stop_and_start(Stop stop, QStringList* problems)
    {
        if (stop == Stop::Reboot) {
            const int reboots = recorded(root->path(), "reboot");
            put(pc, wire(with_bcc(kReboot)));
            // The old program is gone once its connections are: the restart
            // closes every descriptor.
            const bool closed = closed_within(pc, 15000);
            end_link();
            if (!closed) {
                problems->append("the connection stayed open 15 s after the reboot");
                return false;
            }
            QFile::remove(host("/sim/keypad_leds"));
            pc = answering_link(15000);
            int status = 0;
            if (pid > 0 && ended_within(pid, 0, &status)) {
                problems->append("at the reboot the program " + ending(status) + ", not restarted");
                pid = -1;
                return false;
            }
            if (recorded(root->path(), "reboot") <= reboots)
                problems->append("no reboot recorded by the board");
            return pc >= 0 && panel_up();
        }
        const int sig = stop == Stop::Term ? SIGTERM : SIGINT;
        kill(pid, sig);
        int status = 0;
        const bool ended = ended_within(pid, 30000, &status);
        end_link();
        if (!ended) {
            problems->append(QString("still running 30 s after %1").arg(stop_name(stop)));
            stop_program(pid);
        } else if (!exited_cleanly(status)) {
            problems->append(
                QString("at %1 the program %2, not exited with status 0").arg(stop_name(stop)).arg(ending(status)));
        }
        pid = -1;
        return start();
    }

    // Every trial runs, however many fail before it: how often a stop loses
    // what was answered is part of what a failure tells. Each failed trial
    // is printed whole (Qt Test cuts a long failure message short).
    void report(const QStringList& failures, int runs, const char* what)
    {
        for (const QString& f : failures)
            qWarning("%s", qPrintable(f));
        QVERIFY2(failures.isEmpty(), qPrintable(QString("%1 of %2 %3 (each above); the first: %4")
                                                    .arg(failures.size())
                                                    .arg(runs)
                                                    .arg(what)
                                                    .arg(failures.value(0))));
    }

    // After the start: the brightness as the PC reads it and as the image
    // file holds it.
    void check_brightness(int expected, QStringList* problems, const char* why = "answered")
    {
        const int read = word(pc, Img::kBrightness);
        const int stored = file_byte(image_file(), Img::kBrightness + kFileHead);
        if (read != expected || stored != expected)
            problems->append(
                QString("brightness %1, %2 in the image file (%3 %4)").arg(read).arg(stored).arg(why).arg(expected));
    }
    // After the start: slot s saved with the brightness, as the PC reads it
    // and as its file holds it.
    void check_saved(int s, int expected, QStringList* problems)
    {
        const Bytes markers = read_bytes(pc, u32(s + 1) << 12, 2);
        const int read = word(pc, slot_address(s, Img::kBrightness));
        const int stored = file_byte(mode_file(s), 2 + Img::kBrightness - Img::kModeStart);
        if (markers != Bytes{0xAA, 0xAA} || read != expected || stored != expected)
            problems->append(QString("slot %1 %2 with brightness %3, its file %4 (saved with %5)")
                                 .arg(s + 1)
                                 .arg(markers == Bytes{0xAA, 0xAA} ? "saved" : "empty")
                                 .arg(read)
                                 .arg(QFileInfo::exists(mode_file(s)) ? QString::number(stored) : "missing")
                                 .arg(expected));
    }

    // BLACK pressed on the keypad: how long until window 1's black flag
    // turned, or 60 s passed, and how many passes of file writes the
    // program made (each ends in one "sync") by then since the record held
    // writesBefore.
    struct KeyTaken {
        bool acted = false;
        qint64 ms = 0;
        int writes = 0;
    };
    KeyTaken press_black(int writesBefore)
    {
        const int shown = word(pc, kBlackFlag);
        KeyTaken k;
        QFile keys(host("/sim/keypad"));
        if (shown < 0 || !keys.open(QIODevice::Append) || keys.write("BLACK\n") != 6)
            return k;
        keys.close();
        QElapsedTimer since;
        since.start();
        while (!(k.acted = ((word(pc, kBlackFlag) ^ shown) & 0x01) != 0) && since.elapsed() < 60000)
            QThread::msleep(5);
        k.ms = since.elapsed();
        k.writes = syncs() - writesBefore;
        return k;
    }

    // Every slot's file holds the slot as the PC reads it.
    bool files_hold_slots(QString* differs)
    {
        for (int s = 0; s < kUserModeCount; ++s) {
            const Bytes slot = read_bytes(pc, u32(s + 1) << 12, kSlotBytes);
            const QByteArray file = readHostFile(mode_file(s));
            if (slot.size() != size_t(kSlotBytes) || file.size() != kUserModeFileSize ||
                QByteArray(reinterpret_cast<const char*>(slot.data()), kSlotBytes) != file.left(kSlotBytes)) {
                *differs = QString("slot %1's file (%2 bytes)").arg(s + 1).arg(file.size());
                return false;
            }
        }
        return true;
    }

    // The bursts of requests whose file writes wait, each on a box holding
    // 16 saved modes; all answered 0.
    void rewrites(int count)
    {
        for (int i = 0; i < count; ++i)
            QVERIFY2(statuses({kRewrite}) == Bytes{0},
                     qPrintable(QString("rewrite %1 of %2 not answered 0").arg(i + 1).arg(count)));
    }
    void uploads_each_with_a_rewrite()
    {
        const Bytes screen = read_bytes(pc, Img::kModeStart, Img::kModeBytes);
        QVERIFY(screen.size() == size_t(Img::kModeBytes));
        for (int s = 0; s < kUserModeCount; ++s) {
            mode_sequence::Mode mode = screen;
            mode[Img::kBrightness - Img::kModeStart] = u8(40 + s);
            QVERIFY2(statuses({mode_sequence::upload(s, mode), kRewrite}) == (Bytes{0, 0}),
                     qPrintable(QString("the upload into slot %1 and its rewrite").arg(s + 1)));
        }
    }
    // The 16 slots saved while the stream goes on, each save after at least
    // 5 of the stream's applies.
    void saves_beside(Stream& stream)
    {
        QVERIFY2(stream.start(), "no second client");
        for (int s = 0; s < kUserModeCount; ++s) {
            const int before = stream.applies();
            QVERIFY2(QTest::qWaitFor([&] { return stream.applies() >= before + 5; }, 10000),
                     "the other client's stream stalled");
            QVERIFY2(statuses({save_mode(s), kApply}) == (Bytes{0, 0}),
                     qPrintable(QString("the save of slot %1").arg(s + 1)));
        }
    }

  private slots:
    void initTestCase()
    {
        program = qgetenv("ZEV_PROGRAM").toStdString();
        if (program.empty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        ZevRamPara::factory_reset_into(factory);
    }
    // Each case on a data root of its own.
    void init() { root = std::make_unique<QTemporaryDir>(); }
    void cleanup()
    {
        end_link();
        stop_program(pid);
    }

    // A change, a save of it and a second change, then the stop at once
    // (the PC's reboot, SIGTERM, SIGINT in turn, on one data root): the save
    // and the second change are there after the start. SIGTERM and SIGINT
    // end the program with exit status 0.
    void whatWasAnsweredOutlivesTheStop()
    {
        QVERIFY(start());
        // Each change a brightness neither the screen nor the slot it is
        // saved into holds yet.
        int counter = 0;
        auto next_value = [&] {
            for (;;) {
                const u8 v = u8(11 + counter++ % 80);
                if (v != factory_brightness())
                    return v;
            }
        };
        const int runs = trials(1);
        QStringList failures;
        int stops = 0;
        for (int trial = 0; trial < runs; ++trial)
            for (Stop stop : {Stop::Reboot, Stop::Term, Stop::Int}) {
                // One stop a trial of each kind: each costs a start.
                const int s = stops++ % kUserModeCount;
                u8 saved = next_value();
                while (word(pc, slot_address(s, Img::kBrightness)) == saved)
                    saved = next_value();
                const u8 second = next_value();
                const std::vector<Bytes> requests = {brightness(saved),  kApply, save_mode(s), kApply,
                                                     brightness(second), kApply};
                const QString where = QString("trial %1, brightness %2, a save of slot %3, then brightness %4, then %5")
                                          .arg(trial)
                                          .arg(saved)
                                          .arg(s + 1)
                                          .arg(second)
                                          .arg(stop_name(stop));
                const Bytes answers = statuses(requests);
                QVERIFY2(answers == Bytes(requests.size(), 0), qPrintable(where + ": answered " + hex(answers)));
                QStringList problems;
                QVERIFY2(stop_and_start(stop, &problems),
                         qPrintable(where + ": the box did not come back. " + problems.join("; ")));
                check_brightness(second, &problems);
                check_saved(s, saved, &problems);
                if (!problems.isEmpty())
                    failures.append(where + ": " + problems.join("; "));
            }
        report(failures, stops, "stops lost what was answered or ended badly");
    }

    // Rounds of a change, a save and a factory reset, each sent back to
    // back, the PC's reboot at once after the last: the box comes back with
    // factory settings and no saved mode, and from each reset's answer on the
    // image file never holds a change made before it. The rounds before the
    // last are 150 ms apart, so that each reset meets its own round's writes
    // under way.
    void aFactoryResetIsWhatTheRebootFinds()
    {
        QVERIFY(start());
        constexpr int kRounds = 6;
        const int runs = trials(2);
        const int at = Img::kBrightness + kFileHead;
        QStringList failures;
        for (int trial = 0; trial < runs; ++trial) {
            u8 changed[kRounds];
            QStringList values;
            for (int r = 0; r < kRounds; ++r) {
                changed[r] = u8(11 + (trial * kRounds + r) % 80);
                if (changed[r] == factory_brightness())
                    changed[r] = 91;
                values.append(QString::number(changed[r]));
            }
            const QString where = QString("trial %1 (rounds r = 1 to %2 of brightness %3, a save of slot r, a factory "
                                          "reset; then the PC's reboot)")
                                      .arg(trial)
                                      .arg(kRounds)
                                      .arg(values.join('/'));
            // Reads the image file every 2 ms; a change is stale from its
            // reset's answer on.
            std::atomic<int> stale[kRounds];
            for (auto& v : stale)
                v.store(-1);
            std::atomic<bool> done{false};
            std::atomic<int> reads{0}, staleReads{0}, firstStale{-1};
            std::thread reader([&] {
                while (!done) {
                    const QByteArray b = readHostFile(image_file());
                    if (b.size() > at) {
                        ++reads;
                        for (const auto& v : stale)
                            if (v >= 0 && u8(b[at]) == v && staleReads++ == 0)
                                firstStale = v.load();
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
            Bytes answers;
            for (int r = 0; r < kRounds && answers == Bytes(size_t(5 * r), 0); ++r) {
                const Bytes a = statuses({brightness(changed[r]), kApply, save_mode(r), kApply, kFactoryReset});
                answers.insert(answers.end(), a.begin(), a.end());
                if (a.back() == 0)
                    stale[r] = changed[r];
                if (r + 1 < kRounds)
                    QThread::msleep(150);
            }
            QStringList problems;
            const bool back = answers == Bytes(5 * kRounds, 0) && stop_and_start(Stop::Reboot, &problems);
            if (back) {
                check_brightness(factory_brightness(), &problems, "the factory's");
                for (int r = 0; r < kRounds; ++r) {
                    const Bytes markers = read_bytes(pc, u32(r + 1) << 12, 2);
                    if (markers != Bytes{0xFF, 0xFF})
                        problems.append(QString("slot %1 reads %2, not empty").arg(r + 1).arg(hex(markers)));
                }
                const QStringList files = QDir(host("/data/modes")).entryList(QDir::Files | QDir::Hidden);
                if (!files.isEmpty())
                    problems.append("mode files left: " + files.join(' '));
            }
            done = true;
            reader.join();
            QVERIFY2(answers == Bytes(5 * kRounds, 0), qPrintable(where + ": answered " + hex(answers)));
            QVERIFY2(back, qPrintable(where + ": the box did not come back. " + problems.join("; ")));
            QVERIFY2(reads > 0, qPrintable(where + ": the image file was never read"));
            if (staleReads > 0)
                problems.append(QString("the image file held a change from before a reset answered (first brightness "
                                        "%1) in %2 of %3 reads")
                                    .arg(int(firstStale))
                                    .arg(int(staleReads))
                                    .arg(int(reads)));
            if (!problems.isEmpty())
                failures.append(where + ": " + problems.join("; "));
        }
        report(failures, runs, "trials found more than the factory reset");
    }

    void aKeyIsTakenSoonAfterABurst_data()
    {
        QTest::addColumn<Burst>("burst");
        QTest::newRow("600 rewrites of the modes") << Burst::Rewrites;
        QTest::newRow("16 uploads each with a rewrite") << Burst::UploadsWithRewrites;
        QTest::newRow("16 saves beside a stream of image writes") << Burst::SavesBesideAStream;
    }
    // With 16 saved modes, a burst of requests whose file writes wait, all
    // answered 0; then BLACK on the keypad. The panel acts on it having
    // waited for no more passes of file writes, from the burst's last answer
    // on, than the one in flight and the one the requests joined; every
    // slot's file then holds its slot. What the key
    // waited for is counted in the program's own work, not in time; the
    // time is printed, to compare with the 2 s a user may wait.
    void aKeyIsTakenSoonAfterABurst()
    {
        QFETCH(Burst, burst);
        // The modes stored as the box keeps them, before its start.
        for (int s = 0; s < kUserModeCount; ++s) {
            QByteArray file(kUserModeFileSize, 0);
            file[0] = file[1] = char(0xAA);
            std::copy(factory + Img::kModeStart, factory + Img::kSize, file.begin() + 2);
            file[2 + Img::kBrightness - Img::kModeStart] = char(10 + s);
            QVERIFY(writeHostFile(mode_file(s), file));
        }
        QVERIFY(start());
        for (int s = 0; s < kUserModeCount; ++s)
            QCOMPARE(word(pc, slot_address(s, Img::kBrightness)), 10 + s);
        // A first BLACK acted on: the start's work is done.
        QVERIFY2(press_black(syncs()).acted, "the panel never acted on a first BLACK");

        // The stream goes on until the key was acted on, as a PC tool's
        // does while a user is at the panel: the image writes its changes
        // ask keep coming, and each may join the one that waits.
        Stream stream;
        if (burst == Burst::Rewrites)
            rewrites(600);
        else if (burst == Burst::UploadsWithRewrites)
            uploads_each_with_a_rewrite();
        else
            saves_beside(stream);
        if (QTest::currentTestFailed())
            return;
        const KeyTaken k = press_black(syncs());
        QVERIFY2(stream.stop(), "the other client's image write or apply was not answered 0");
        qInfo("BLACK %s after %lld ms, %d passes of file writes after the burst's last answer",
              k.acted ? "acted on" : "NOT acted on, given up", k.ms, k.writes);
        QVERIFY2(
            k.acted,
            qPrintable(QString("BLACK not acted on within 60 s; %1 passes of file writes meanwhile").arg(k.writes)));
        QVERIFY2(k.writes <= kMostWrites,
                 qPrintable(QString("BLACK waited for %1 passes of file writes (%2 ms), more than %3")
                                .arg(k.writes)
                                .arg(k.ms)
                                .arg(kMostWrites)));
        QString differs;
        QVERIFY2(QTest::qWaitFor([&] { return files_hold_slots(&differs); }, 60000),
                 qPrintable(differs + " does not hold its slot"));
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eStops)

#include "test_e2e_stops.moc"
