// Hostile files and hosts met by the running program's jobs, started from
// the keypad: a USB package whose header claims 65,535 entries ends at once;
// of the scan-parameter files, one asking for a sleep of 49.7 days is
// refused, those that would run for long are played until the job's bound,
// which the test reaches by moving the program's clock on (the faults file's
// "clock ahead"), and one whose waits count to 650 s runs whole in moments;
// a PC polling all the while holds a load but never restarts its sleep.
// Which page takes each key is read from the panel's key traces (zev.ui).
#include <QtTest>

#include <QImage>

#include <cstdlib>
#include <unistd.h>

#include "link/pc_frames.h"
#include "rcv_files.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

class TestE2eHostileJobs : public QObject
{
    Q_OBJECT
    QTemporaryDir root_;
    pid_t program_ = -1;
    bool onSmartMapping_ = false;
    u32 clockAhead_ = 0;

    QString at(const QString& path) const { return root_.filePath(path); }

    // Presses keys; true once trace, the key trace of the page that took
    // the last of them, follows within ms.
    bool pressed(const QByteArray& keys, const QByteArray& trace, int ms = 5000)
    {
        const int mark = readHostFile(at("output")).size();
        QFile f(at("sim/keypad"));
        if (!f.open(QIODevice::Append) || f.write(keys + "\n") != keys.size() + 1)
            return false;
        f.close();
        return QTest::qWaitFor([&] { return readHostFile(at("output")).indexOf(trace, mark) >= 0; }, ms);
    }

    // Smart mapping's "Load" in focus: the page opened from the option page
    // (past its eight numbers and the file row), or back from "Save", where
    // the last case left it.
    bool toLoadRow()
    {
        if (onSmartMapping_)
            return pressed("LEFT", "left-code [SmartMapping][Release] ui_select=0xb");
        onSmartMapping_ = pressed("RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT OK", "OK button(Option)[Release]") &&
                          pressed("RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT",
                                  "right-code [SmartMapping][Release] ui_select=0x9");
        return onSmartMapping_;
    }

    static QByteArray bytes(const FileBytes& f)
    {
        return QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size()));
    }

    // FPGA register 3 as the PC tool reads it on a port (10002 notes no host
    // traffic, 5005 does): the answer, empty without one.
    static Bytes registerThree(int port)
    {
        const int fd = tcp_connect(port);
        put(fd, wire(with_bcc(request(kFpga, 0xA1, {3, 0xFF, 0, 0}))));
        const std::vector<Bytes> r = replies(fd, 1, 1000);
        close(fd);
        return r.size() == 1 && r[0].size() > 11 && r[0][10] == 0 ? r[0] : Bytes();
    }

    // The FPGA's output is on (register 3, bit 5): the FPGA worker is free,
    // and jobs for the cards run.
    static bool outputOn()
    {
        const Bytes r = registerThree(10002);
        return !r.empty() && (r[11] & 0x20);
    }

    // The cards the box counted on output port 1 (the FPGA's RAM at 100), as
    // the PC tool reads them: the load plays its file to them.
    static int portOneCards()
    {
        const int fd = tcp_connect(10002);
        put(fd, wire(with_bcc(request(kFpga, 0x61, ram_rest(100, 2)))));
        const std::vector<Bytes> r = replies(fd, 1, 1000);
        close(fd);
        return r.size() == 1 && r[0].size() == 14 && r[0][10] == 0 ? r[0][11] | r[0][12] << 8 : -1;
    }

    // The panel as the PC's screen capture shows it (asked on port 10002,
    // which holds no job): whether the note that a job did not finish
    // stands over the smart-mapping page, its orange frame at x 30.
    bool jobEndNoteShown() const
    {
        const int fd = tcp_connect(10002);
        put(fd, wire(with_bcc(request(kBox, 0x61, ram_rest(0x800000, 16)))));
        const std::vector<Bytes> r = replies(fd, 1, 3000);
        close(fd);
        const QImage screen(at("123.png"));
        return r.size() == 1 && !screen.isNull() && screen.pixel(30, 120) == qRgb(255, 171, 84);
    }

    // Four bytes at 0x10 of card 1's RAM on port 1, as the PC tool reads them.
    static Bytes cardRam()
    {
        const int fd = tcp_connect(5005);
        put(fd, wire(with_bcc(request(0x0001, 0x61, cat({le32(0x10), {4, 0, 0, 0}}), 1, 1))));
        const std::vector<Bytes> r = replies(fd, 1, 3000);
        close(fd);
        return r.size() == 1 && r[0].size() == 16 ? Bytes(r[0].begin() + 11, r[0].begin() + 15) : Bytes();
    }

  private slots:
    void initTestCase()
    {
        const QByteArray program = qgetenv("ZEV_PROGRAM");
        if (program.isEmpty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        // The stick is in from the start, so no tip takes the keys.
        QVERIFY(writeHostFile(at("sim/usb"), "in\n"));
        QVERIFY(
            writeHostFile(at("mnt/usb1/ZEV-Q48 Rev.c/box.ZEV"),
                          QByteArray::fromHex("000080" + QByteArray(30, '0') + "528b" + QByteArray(54, '0') + "ffff")));
        // The page lists the scan file it finds; each case writes its bytes.
        QVERIFY(writeHostFile(at("data/smartmapping/hostile.scan"), "none yet"));
        QVERIFY(writeHostFile(at("sim/cards"), "port 1 cards 32\n"));
        ProgramStart how;
        how.env = {"QT_LOGGING_RULES=zev.ui.debug=true"};
        program_ = start_program(program.toStdString(), root_.path().toStdString(), at("output").toStdString(), how);
        QVERIFY(program_ > 0);
        // The panel lights the keypad's LEDs once it shows; then the main
        // window, the settings page with its first tile in focus.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(at("sim/keypad_leds")).size() > 0, 20000);
        QVERIFY(pressed("OK RIGHT RIGHT RIGHT OK RIGHT LEFT", "left-code [Option][Release] ui_select=0x1"));
    }
    void cleanupTestCase() { stop_program(program_); }

    // Connections, its USB tile: the upgrade ends after the package's header
    // was read (one "sync"), and the worker goes on to bring the FPGA up.
    void usbPackageClaiming65535Entries()
    {
        QVERIFY(pressed("RIGHT RIGHT RIGHT OK RIGHT RIGHT OK", "OK button(LinkOption)[Release]"));
        const int syncs = readHostFile(at("sim/commands")).count("\nsync\n");
        QVERIFY(pressed("OK", "OK button(firmware_usbgrade)[Release]"));
        QTRY_VERIFY_WITH_TIMEOUT(outputOn(), 40000);
        QCOMPARE(readHostFile(at("sim/commands")).count("\nsync\n"), syncs + 1);
        QVERIFY(pressed("BACK BACK LEFT LEFT LEFT", "left-code [Option][Release] ui_select=0x1"));
    }

    // Smart mapping's "Load" (once the cards of its port are counted). A
    // refused file closes the bar with the job's error once the cards
    // settled (2.4 s), before its RAM write reached the cards. A file that
    // runs long is played (its RAM write reaches the cards) and holds the
    // bar until the clock is moved 10 minutes on, then its job ends with the
    // error and the page takes keys again. Counted waits of 650 s on 32
    // answering cards end by themselves. A job refused, cut at its bound or
    // whose cards went silent says so over the page (the PC's screen
    // capture shows the note) until the next key, which only takes it away.
    void scanFileLoads_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("end");    // whole, error, cut (at the bound) or silent (cards)
        QTest::addColumn<QByteArray>("ram"); // at 0x10 of the cards after the job
        // A RAM write of 4 bytes, then the rest.
        auto scan = [&](const QByteArray& mark, std::vector<RcvOp> rest) {
            rest.insert(rest.begin(), RcvOp{1, 1, 0x10, 100, FileBytes(mark.begin(), mark.end())});
            return bytes(scanFile(rest));
        };
        FileBytes block(1000000);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = u8(0x21 + i * 3);
        QTest::newRow("a sleep of 49.7 days")
            << scan("\x01\x02\x03\x04", {RcvOp{6, 1, 0, 0xFFFFFFFFu, {}}}) << "error" << QByteArray(4, 0);
        QTest::newRow("200 RAM writes of one 1,000,000-byte block")
            << bytes(sameBlockScanFile(200, 0x10, block)) << "cut" << QByteArray("\x21\x24\x27\x2A");
        QTest::newRow("sleeps of 11 minutes in all")
            << scan("ABCD", std::vector<RcvOp>(11, RcvOp{6, 1, 0, 60000, {}})) << "cut" << QByteArray("ABCD");
        QTest::newRow("waits counted to 650 s on 32 cards")
            << scan("WXYZ", {RcvOp{3, 1, 0, 2000, {1}}, RcvOp{5, 1, 0, 2000, {1}}, RcvOp{2, 3, 0, 2000, {}}}) << "whole"
            << QByteArray("WXYZ");
        // The cards keep what the row before wrote.
        QTest::newRow("cards gone silent") << scan("NOTE", {}) << "silent" << QByteArray("WXYZ");
    }
    void scanFileLoads()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, end);
        QFETCH(QByteArray, ram);
        const QByteArray clock = "clock ahead " + QByteArray::number(clockAhead_) + "\n";
        QVERIFY(writeHostFile(at("data/smartmapping/hostile.scan"), file));
        QVERIFY(toLoadRow());
        QTRY_COMPARE_WITH_TIMEOUT(portOneCards(), 32, 40000);
        if (end == "silent")
            QVERIFY(writeHostFile(at("sim/faults"), clock + "cards 1 silent\n"));
        // "Load" until its bar takes the key: the last case's job may still
        // be ending.
        QVERIFY(QTest::qWaitFor([&] { return !pressed("OK", "OK button(SmartMapping)[Release]", 1000); }, 10000));
        if (end == "cut") {
            QVERIFY(!pressed("RIGHT", "right-code [SmartMapping]", 3000));
            clockAhead_ += 60001;
            QVERIFY(writeHostFile(at("sim/faults"), "clock ahead " + QByteArray::number(clockAhead_) + "\n"));
        }
        // A job that did not finish says so over the page until a key.
        if (end != "whole")
            QVERIFY(QTest::qWaitFor([&] { return jobEndNoteShown(); }, 60000));
        QVERIFY(writeHostFile(at("sim/faults"), "clock ahead " + QByteArray::number(clockAhead_) + "\n"));
        QVERIFY(QTest::qWaitFor([&] { return pressed("RIGHT", "right-code [SmartMapping]", 500); }, 10000));
        QVERIFY(!jobEndNoteShown());
        QCOMPARE(cardRam(), Bytes(ram.begin(), ram.end()));
    }

    // A PC reading one FPGA register on port 5005 every 10 s of the
    // program's time (its clock moved on after each read) while a file of
    // one 30-s sleep and a RAM write loads: each read holds the job 0.8 s
    // and lengthens the sleep by that much, so the load ends within about a
    // minute of its own time, its write on the cards.
    void loadWhileAPcPolls()
    {
        const Bytes mark = {'P', 'O', 'L', 'L'};
        QVERIFY(writeHostFile(at("data/smartmapping/hostile.scan"),
                              bytes(scanFile({RcvOp{6, 1, 0, 30000, {}}, RcvOp{1, 1, 0x10, 100, mark}}))));
        QVERIFY(toLoadRow());
        QTRY_COMPARE_WITH_TIMEOUT(portOneCards(), 32, 40000);
        QVERIFY(QTest::qWaitFor([&] { return !pressed("OK", "OK button(SmartMapping)[Release]", 1000); }, 10000));
        int polls = 0;
        bool ended = false;
        while (!ended && polls < 12) {
            QVERIFY(!registerThree(5005).empty());
            ++polls;
            clockAhead_ += 1000;
            QVERIFY(writeHostFile(at("sim/faults"), "clock ahead " + QByteArray::number(clockAhead_) + "\n"));
            // Keys the bar still holds are ignored: one of these is taken
            // once the job has ended.
            ended = QTest::qWaitFor([&] { return pressed("RIGHT", "right-code [SmartMapping]", 200); }, 1000);
        }
        QVERIFY(ended);
        QVERIFY2(polls <= 6, qPrintable(QString("%1 polls").arg(polls)));
        QCOMPARE(cardRam(), mark);
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eHostileJobs)

#include "test_e2e_hostile_jobs.moc"
