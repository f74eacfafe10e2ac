// The running program on the simulated board: what a user-mode save keeps
// when the PC changes the image right after it, when its file waits for
// room, and what the box answers and shows while its stored image cannot be
// read at start.
#include <QtTest>

#include <chrono>
#include <thread>

#include <QImage>

#include "core/zevrampara.h"
#include "link/pc_frames.h"
#include "support/fs_helpers.h"
#include "support/net_helpers.h"
#include "support/read_faults.h"
#include "support/sim_fixture.h"

namespace
{
constexpr int kFileHead = 2 - Img::kPersistStart;

Bytes write_image(u32 offset, const Bytes& data)
{
    return request(kBox, 0x60, ram_rest(offset, u16(data.size()), data));
}
// Register 11 bit 1: apply the image.
const Bytes kApply = request(kBox, 0xA0, {11, 0x02, 0, 0x02});
Bytes brightness(u8 value)
{
    return write_image(Img::kBrightness, {value, 0});
}
// Slot s (0-based) to save, no current mode; or slot s recalled.
Bytes save_mode(int s)
{
    return write_image(Img::kCurrentMode, {0, 0, u8(s + 1), 0});
}
Bytes recall_mode(int s)
{
    return write_image(Img::kCurrentMode, {u8(s + 1), 0});
}
int word(int pc, u32 at)
{
    const Bytes r = ask(pc, request(kBox, 0x61, ram_rest(at, 2)));
    return r.size() == 3 && r[0] == 0 ? int(r[1] | r[2] << 8) : -1;
}
// The image's mode bytes, or slot s (0-based) with its markers, as the PC
// reads them; empty when the read fails.
Bytes read_bytes(int pc, u32 at, int length)
{
    const Bytes r = ask(pc, request(kBox, 0x61, ram_rest(at, u16(length))));
    return r.size() == size_t(length) + 1 && r[0] == 0 ? Bytes(r.begin() + 1, r.end()) : Bytes();
}
int slot_word(int pc, int s, u32 at)
{
    const Bytes b = read_bytes(pc, u32(s + 1) << 12 | u32(2 + at - Img::kModeStart), 2);
    return b.size() == 2 ? int(b[0] | b[1] << 8) : -1;
}
// Byte at of a stored file, -1 when it does not hold it.
int stored_byte(const QString& file, int at)
{
    const QByteArray b = readHostFile(file);
    return at < b.size() ? u8(b[at]) : -1;
}
} // namespace

class TestE2eSaves : public QObject
{
    Q_OBJECT
    QTemporaryDir root;
    std::string program;
    pid_t pid = -1;
    int pc = -1;
    // The data partition of the test's own, while mounted.
    std::string partition;

    QString host(const QString& boardPath) const { return root.path() + boardPath; }
    QString mode_file(int s) const { return host(QString::fromStdString(ZevRamPara::modeFilePath(s))); }
    int image_byte(int at) const { return stored_byte(host("/data/ram_device_info"), at + kFileHead); }
    int mode_byte(int s, int at) const { return stored_byte(mode_file(s), at - Img::kModeStart + 2); }
    bool eventually(const std::function<bool()>& done) { return QTest::qWaitFor(done, 10000); }

    bool start()
    {
        // Lit again by this start's panel.
        QFile::remove(host("/sim/keypad_leds"));
        pid = start_serving_program(program, root.path().toStdString(), true);
        pc = pid > 0 ? tcp_connect(5005, true) : -1;
        return pc >= 0;
    }
    // Sends the requests one after the other; their statuses.
    Bytes statuses(std::initializer_list<Bytes> requests)
    {
        Bytes out;
        for (const Bytes& r : requests) {
            const Bytes a = ask(pc, r);
            out.push_back(a.empty() ? 0xEE : a[0]);
        }
        return out;
    }

    // Modes 1 and 2 saved; a recall of mode 1 at every gap after a change,
    // another recall or a save.
    void recallsAtEveryGap()
    {
        QCOMPARE(statuses({brightness(41), kApply, save_mode(0), kApply, brightness(42), kApply, save_mode(1), kApply}),
                 Bytes(8, 0));
        const struct {
            const char* name;
            std::vector<Bytes> before;
            int saved;
        } rows[] = {
            {"a change", {brightness(77), kApply}, 41},
            {"another recall", {recall_mode(1), kApply}, 41},
            {"a save", {brightness(43), kApply, save_mode(0), kApply, brightness(78), kApply}, 43},
        };
        for (const auto& row : rows) {
            for (int gap : {0, 50, 100, 150, 300}) {
                const QString where = QString("%1, %2 ms").arg(row.name).arg(gap);
                QCOMPARE(statuses({recall_mode(0), kApply}), (Bytes{0, 0}));
                for (const Bytes& r : row.before)
                    QCOMPARE(statuses({r}), Bytes{0});
                std::this_thread::sleep_for(std::chrono::milliseconds(gap));
                QCOMPARE(statuses({recall_mode(0), kApply}), (Bytes{0, 0}));
                QVERIFY2(word(pc, Img::kBrightness) == row.saved, qPrintable(where));
                QVERIFY2(word(pc, Img::kCurrentMode) == 1, qPrintable(where));
                // Mode 1 as it was, for the next gap.
                QCOMPARE(statuses({brightness(41), kApply, save_mode(0), kApply}), Bytes(4, 0));
            }
        }
    }

    // Mode 3 saved and still named by word 866 after the BLACK key and
    // after a single-setting change.
    void recallsAfterBlackOrASingleSetting()
    {
        const int flags = ZevRamPara::layerOffset(0) + Img::kLayerFlags;
        QCOMPARE(statuses({brightness(50), kApply, save_mode(2), kApply}), Bytes(4, 0));
        const int shown = word(pc, flags) & 0xFF;
        QVERIFY(eventually([&] { return word(pc, Img::kCurrentMode) == 3; }));
        QVERIFY(eventually([&] { return QFileInfo(host("/sim/keypad_leds")).size() > 0; }));
        QFile keys(host("/sim/keypad"));
        QVERIFY(keys.open(QIODevice::Append));
        keys.write("BLACK\n");
        keys.close();
        QVERIFY(eventually([&] { return (word(pc, flags) & 0xFF) == (shown ^ 1); }));
        QCOMPARE(word(pc, Img::kCurrentMode), 3);
        QCOMPARE(statuses({recall_mode(2), kApply}), (Bytes{0, 0}));
        QCOMPARE(word(pc, flags) & 0xFF, shown);
        QCOMPARE(statuses({request(kBox, 0xB0, {0x31, 0, 6, 70, 0})}), Bytes{0});
        QCOMPARE(word(pc, Img::kBrightness), 70);
        QCOMPARE(statuses({recall_mode(2), kApply}), (Bytes{0, 0}));
        QCOMPARE(word(pc, Img::kBrightness), 50);
    }

    // Modes 4 to 7 each recalled at once after their save, and read by the
    // PC, before their files are written.
    void recallsRightAfterASave()
    {
        for (int row = 0; row < 4; ++row) {
            const int s = 3 + row;
            const u8 value = u8(20 + row);
            QCOMPARE(statuses({brightness(value), kApply, save_mode(s), kApply}), Bytes(4, 0));
            QCOMPARE(slot_word(pc, s, Img::kBrightness), int(value));
            QCOMPARE(statuses({brightness(90), kApply, recall_mode(s), kApply}), Bytes(4, 0));
            QVERIFY2(word(pc, Img::kBrightness) == value, qPrintable(QString("row %1").arg(row)));
            QVERIFY(eventually([&] { return mode_byte(s, Img::kBrightness) == value; }));
        }
    }

  private slots:
    void initTestCase()
    {
        program = qgetenv("ZEV_PROGRAM").toStdString();
        if (program.empty())
            QSKIP("ZEV_PROGRAM does not name the built program");
    }
    void cleanup()
    {
        if (pc >= 0)
            close(pc);
        pc = -1;
        stop_program(pid);
        if (!partition.empty())
            drop_partition(partition);
        partition.clear();
    }

    // A save and, 0 to 300 ms later, a change of the image: the change stays
    // in the box and reaches the file; the mode holds what was saved.
    void aChangeRightAfterASaveIsKept()
    {
        QVERIFY(start());
        const int gaps[] = {0, 120, 150, 200, 300};
        int before = word(pc, Img::kBrightness);
        for (int row = 0; row < 5; ++row) {
            const u8 value = u8(30 + row);
            QCOMPARE(statuses({save_mode(row), kApply}), (Bytes{0, 0}));
            std::this_thread::sleep_for(std::chrono::milliseconds(gaps[row]));
            QCOMPARE(statuses({brightness(value), kApply}), (Bytes{0, 0}));
            QCOMPARE(word(pc, Img::kBrightness), int(value));
            QVERIFY2(eventually([&] {
                         return image_byte(Img::kBrightness) == value && mode_byte(row, Img::kBrightness) == before;
                     }),
                     qPrintable(QString("gap %1 ms").arg(gaps[row])));
            QCOMPARE(word(pc, Img::kBrightness), int(value));
            before = value;
        }
    }

    // On a full partition a save waits with the bytes it was asked with: a
    // change and a recall after it reach neither the slot nor its file.
    void aSaveThatWaitsStoresItsRequest()
    {
        const std::string data = root.path().toStdString() + "/data";
        if (!own_partition(data, 16 << 20))
            QSKIP("no private mount can be had here");
        partition = data;
        QVERIFY(start());
        QCOMPARE(statuses({brightness(33), kApply, save_mode(0), kApply}), (Bytes{0, 0, 0, 0}));
        QVERIFY(eventually([&] { return mode_byte(0, Img::kBrightness) == 33; }));
        QCOMPARE(statuses({brightness(44), kApply}), (Bytes{0, 0}));
        QVERIFY(eventually([&] { return image_byte(Img::kBrightness) == 44; }));
        QFile::remove(mode_file(2));
        QVERIFY(fill_up(data + "/filler"));
        QCOMPARE(statuses({save_mode(2), kApply, brightness(60), kApply, recall_mode(0), kApply}), Bytes(6, 0));
        QCOMPARE(word(pc, Img::kBrightness), 33);
        // The save is in its slot while its file waits: the PC reads it,
        // and its recall, by register 11 or the single-setting command,
        // brings it back.
        QCOMPARE(slot_word(pc, 2, Img::kBrightness), 44);
        QCOMPARE(statuses({recall_mode(2), kApply}), (Bytes{0, 0}));
        QCOMPARE(word(pc, Img::kBrightness), 44);
        QCOMPARE(statuses({brightness(61), kApply, request(kBox, 0xB0, {0x31, 0, 54, 2, 0})}), (Bytes{0, 0, 0}));
        QCOMPARE(word(pc, Img::kBrightness), 44);
        QCOMPARE(statuses({recall_mode(0), kApply}), (Bytes{0, 0}));
        QTest::qWait(500);
        QVERIFY(!QFileInfo::exists(mode_file(2)));
        QVERIFY(QFile::remove(host("/data/filler")));
        QVERIFY(eventually([&] { return mode_byte(2, Img::kBrightness) == 44; }));
        // The slot as the PC reads it: slot 3 at 0x3000, markers first.
        QVERIFY(eventually([&] { return word(pc, 0x3002 + Img::kBrightness - Img::kModeStart) == 44; }));
    }

    // A PC recall brings back the slot's last save at once after a
    // register 11 (a change, another recall, a save) at every gap, after
    // the keypad's BLACK key or a single-setting change left word 866
    // naming the mode, and right after the save itself: one start serves
    // them all.
    void aPcRecallBringsBackTheLastSave()
    {
        QVERIFY(start());
        for (void (TestE2eSaves::*part)() :
             {&TestE2eSaves::recallsAtEveryGap, &TestE2eSaves::recallsAfterBlackOrASingleSetting,
              &TestE2eSaves::recallsRightAfterASave}) {
            (this->*part)();
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Mode 3 saved with brightness 33 and shown, then the brightness made
    // 66 by the single-setting command, which leaves word 866 at 3; the PC
    // then asks a save of slot s the ways a PC tool writes the mode words.
    // The save is made of the screen as it stood, and a recall asked beside
    // it is carried out after it.
    void aSaveBesideTheModeWordIsMade()
    {
        QVERIFY(start());
        QCOMPARE(statuses({brightness(33), kApply, save_mode(2), kApply}), Bytes(4, 0));
        auto show_mode3_at_66 = [&] {
            QCOMPARE(statuses({recall_mode(2), kApply, request(kBox, 0xB0, {0x31, 0, 6, 66, 0})}), Bytes(3, 0));
            QCOMPARE(word(pc, Img::kBrightness), 66);
            QCOMPARE(word(pc, Img::kCurrentMode), 3);
        };

        // One write of the two words as read, with 868 = 6.
        show_mode3_at_66();
        const Bytes words = read_bytes(pc, Img::kCurrentMode, 4);
        QCOMPARE(words, (Bytes{3, 0, 0, 0}));
        QCOMPARE(statuses({write_image(Img::kCurrentMode, {words[0], words[1], 6, 0}), kApply}), (Bytes{0, 0}));
        QCOMPARE(slot_word(pc, 5, Img::kBrightness), 66);
        QCOMPARE(word(pc, Img::kBrightness), 66);
        QCOMPARE(word(pc, Img::kCurrentMode), 6);

        // 866 := 3 and 868 := 8 as two writes: the save of the screen as it
        // stood, then the recall of mode 3.
        show_mode3_at_66();
        QCOMPARE(statuses({write_image(Img::kCurrentMode, {3, 0}), write_image(Img::kModeToSave, {8, 0}), kApply}),
                 Bytes(3, 0));
        QCOMPARE(slot_word(pc, 7, Img::kBrightness), 66);
        QCOMPARE(word(pc, Img::kBrightness), 33);
        QCOMPARE(word(pc, Img::kCurrentMode), 3);

        // Two PC clients: A writes 866 = 3 and has not sent its register 11
        // when B saves mode 9.
        show_mode3_at_66();
        const int b = tcp_connect(5005, true);
        QVERIFY(b >= 0);
        QCOMPARE(statuses({write_image(Img::kCurrentMode, {3, 0})}), Bytes{0});
        const Bytes fromB[] = {ask(b, write_image(Img::kModeToSave, {9, 0})), ask(b, kApply)};
        close(b);
        QCOMPARE(fromB[0], Bytes{0});
        QCOMPARE(fromB[1], Bytes{0});
        QCOMPARE(slot_word(pc, 8, Img::kBrightness), 66);
        QCOMPARE(word(pc, Img::kBrightness), 33);
        QCOMPARE(statuses({kApply}), Bytes{0});
        QCOMPARE(word(pc, Img::kBrightness), 33);
        QCOMPARE(slot_word(pc, 8, Img::kBrightness), 66);
    }

    // A change, a save of mode 7 and a factory reset sent back to back: the
    // reset answered 0 leaves no mode file, whatever write of the save was
    // in flight, and the slot stays empty after a restart.
    void aFactoryResetLeavesNoModeFile()
    {
        QVERIFY(start());
        const Bytes reset = request(kBox, 0xA0, {16, 0x01, 0, 0x01});
        const QDir modes(host("/data/modes"));
        for (int trial = 0; trial < 40; ++trial) {
            const QString where = QString("trial %1").arg(trial);
            const Bytes answers = statuses({brightness(u8(10 + trial)), kApply, save_mode(6), kApply, reset});
            QVERIFY2(
                answers == Bytes(5, 0),
                qPrintable(where + ": answers " +
                           QByteArray(reinterpret_cast<const char*>(answers.data()), int(answers.size())).toHex()));
            // What the save's refresh does after the answer comes within
            // a moment; nothing of it may bring a file back.
            QTest::qWait(150);
            QVERIFY2(modes.entryList(QDir::Files | QDir::Hidden).isEmpty(),
                     qPrintable(where + ": " + modes.entryList(QDir::Files | QDir::Hidden).join(' ')));
            QVERIFY2(read_bytes(pc, 7u << 12, 2) == (Bytes{0xFF, 0xFF}), qPrintable(where + ": slot 7"));
        }
        close(pc);
        pc = -1;
        stop_program(pid);
        QVERIFY(start());
        QCOMPARE(read_bytes(pc, 7u << 12, 2), (Bytes{0xFF, 0xFF}));
        QVERIFY(modes.entryList(QDir::Files).isEmpty());
    }

    // With the stored image unreadable at start, a change is refused, the
    // panel's tip says it is not saved, and a factory reset writes the
    // factory image in its place before the modes go.
    void anUnreadImageStoresNothingAndResetsWhole()
    {
        QVERIFY(writeHostFile(host("/data/modes/custom_mode2"), QByteArray("\xAA\xAA", 2) + QByteArray(4094, 0x21)));
        const QString image = host("/data/ram_device_info");
        QVERIFY(QFileInfo::exists(image) || writeHostFile(image, QByteArray(3330, 0x11)));
        const QByteArray kept = readHostFile(image);
        const QByteArray environment[] = {qgetenv("LD_PRELOAD"), qgetenv("ASAN_OPTIONS")};
        if (!with_failing_reads(image.toStdString()))
            QSKIP("this build has no library for failing reads");
        const bool started = start();
        qputenv("LD_PRELOAD", environment[0]);
        qputenv("ASAN_OPTIONS", environment[1]);
        qunsetenv("ZEV_FAIL_READS");
        QVERIFY(started);
        const int factory = word(pc, Img::kBrightness);
        QCOMPARE(statuses({brightness(u8(factory + 1)), kApply}), (Bytes{1, 1}));
        QCOMPARE(word(pc, Img::kBrightness), factory);

        // Once the panel is up (it lights the keypad's LEDs): home, main
        // window, source choice, window 1, its first source.
        QVERIFY(eventually([&] { return QFileInfo(host("/sim/keypad_leds")).size() > 0; }));
        QFile keys(host("/sim/keypad"));
        QVERIFY(keys.open(QIODevice::Append));
        keys.write("OK RIGHT OK OK OK OK\n");
        keys.close();
        // The tip over the page: the wide "not saved" box, never the narrow
        // check mark of a done change.
        const QRgb grey = qRgb(136, 138, 133);
        QImage screen;
        QVERIFY(eventually([&] {
            ask(pc, request(kBox, 0x61, ram_rest(0x800000, 16)));
            screen = QImage(host("/123.png"));
            return !screen.isNull() && screen.pixel(160, 65) == grey;
        }));
        QCOMPARE(screen.pixel(60, 65), grey);
        QCOMPARE(readHostFile(image), kept);

        // The reset discards the file it could not read: whole.
        QCOMPARE(statuses({request(kBox, 0xA0, {16, 0x01, 0, 0x01})}), Bytes{0});
        const QByteArray reset = readHostFile(image);
        QCOMPARE(reset.left(2), QByteArray("\xAA\xAA", 2));
        QCOMPARE(int(u8(reset[Img::kBrightness + kFileHead])), factory);
        QVERIFY(!QFileInfo::exists(host("/data/modes/custom_mode2")));
        QCOMPARE(statuses({brightness(u8(factory + 2)), kApply}), (Bytes{0, 0}));
        QVERIFY(eventually([&] { return image_byte(Img::kBrightness) == factory + 2; }));
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eSaves)

#include "test_e2e_saves.moc"
