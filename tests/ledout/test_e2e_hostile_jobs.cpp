// Hostile files met by the running program's jobs, started from the keypad:
// a USB package whose header claims 65,535 entries ends at once; a
// scan-parameter file asking for a sleep of 49.7 days is refused, one whose
// sleeps add up to 11 minutes is played until the job's bound, reached by
// moving the program's clock on (the faults file's "clock ahead"). Which
// page takes each key is read from the panel's key traces (zev.ui).
#include <QtTest>

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

    // The FPGA's output is on (register 3, bit 5), as the PC tool reads it:
    // the FPGA worker is free, and jobs for the cards run.
    static bool outputOn()
    {
        const int fd = tcp_connect(10002);
        put(fd, wire(with_bcc(request(kFpga, 0xA1, {3, 0xFF, 0, 0}))));
        const std::vector<Bytes> r = replies(fd, 1, 1000);
        close(fd);
        return r.size() == 1 && r[0].size() > 11 && r[0][10] == 0 && (r[0][11] & 0x20);
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
        ProgramStart how;
        how.prepare = [] { return setenv("QT_LOGGING_RULES", "zev.ui.debug=true", 1) == 0; };
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

    // Smart mapping's "Load", past its eight numbers and the file row (once
    // the cards of its port are counted). A refused file closes the bar with
    // the job's error once the cards settled (2.4 s), before its RAM write
    // reached the cards. One that runs long is played and holds the bar
    // until the clock is moved 10 minutes on, then ends with the error.
    void scanFileLoads_data()
    {
        QTest::addColumn<u32>("sleep");
        QTest::addColumn<int>("sleeps");
        QTest::addColumn<bool>("bounded");
        QTest::newRow("a sleep of 49.7 days") << 0xFFFFFFFFu << 1 << false;
        QTest::newRow("sleeps of 11 minutes in all") << 60000u << 11 << true;
    }
    void scanFileLoads()
    {
        QFETCH(u32, sleep);
        QFETCH(int, sleeps);
        QFETCH(bool, bounded);
        const Bytes ram = {0xA1, 0xB2, 0xC3, 0xD4};
        std::vector<RcvOp> ops = {RcvOp{1, 1, 0x10, 100, ram}};
        ops.insert(ops.end(), size_t(sleeps), RcvOp{6, 1, 0, sleep, {}});
        const FileBytes scan = scanFile(ops);
        QVERIFY(writeHostFile(at("data/smartmapping/hostile.scan"),
                              QByteArray(reinterpret_cast<const char*>(scan.data()), int(scan.size()))));
        if (!onSmartMapping_) {
            QVERIFY(pressed("RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT OK", "OK button(Option)[Release]"));
            QVERIFY(pressed("RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT RIGHT",
                            "right-code [SmartMapping][Release] ui_select=0x9"));
            onSmartMapping_ = true;
        } else {
            // Back from "Save", where the last case left the page.
            QVERIFY(pressed("LEFT", "left-code [SmartMapping][Release] ui_select=0xb"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(portOneCards(), 8, 40000);
        // "Load" until its bar takes the key: the last case's job may still
        // be ending.
        QVERIFY(QTest::qWaitFor([&] { return !pressed("OK", "OK button(SmartMapping)[Release]", 1000); }, 10000));
        if (bounded) {
            QVERIFY(!pressed("RIGHT", "right-code [SmartMapping]", 3000));
            QVERIFY(writeHostFile(at("sim/faults"), "clock ahead 60001\n"));
        }
        QVERIFY(QTest::qWaitFor([&] { return pressed("RIGHT", "right-code [SmartMapping]", 500); }, 10000));
        QCOMPARE(cardRam(), bounded ? ram : Bytes(4, 0));
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eHostileJobs)

#include "test_e2e_hostile_jobs.moc"
