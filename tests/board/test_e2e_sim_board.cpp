// The program on the simulated board as a user meets it: the serial cables
// are there at start with no step by hand, a second instance names each port
// it cannot take, a board it cannot be, an option it does not have or a
// second program on its data root is refused, and a restart request starts
// the program again (same process, same arguments) instead of recording
// "reboot" for ever.
#include <QtTest>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/pc_frames.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
bool serialAnswers(const std::string& root, u8 tag, const std::string& cable = "pc-serial")
{
    int fd = open_pc_serial(root, cable);
    if (fd < 0)
        return false;
    put(fd, tagged(tag));
    std::vector<Bytes> r = replies(fd, 1, 3000);
    close(fd);
    return r.size() == 1 && tag_of(r[0]) == tag;
}

// What the program said when it stopped within 10 s with exit code 1; else
// empty, the program killed.
QString refused(const std::string& root, const ProgramStart& how = {})
{
    QTemporaryDir dir;
    const QString output = dir.filePath("output");
    pid_t pid = start_program(qgetenv("ZEV_PROGRAM").toStdString(), root, output.toStdString(), how);
    int status = 0;
    if (pid <= 0 || !QTest::qWaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000)) {
        stop_program(pid);
        return {};
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 1 ? QString(readHostFile(output)) : QString();
}
} // namespace

class TestE2eSimBoard : public QObject
{
    Q_OBJECT
    QTemporaryDir root;
    std::string rootPath;
    pid_t program = -1;

  private slots:
    void initTestCase()
    {
        QByteArray path = qgetenv("ZEV_PROGRAM");
        if (path.isEmpty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        rootPath = root.path().toStdString();
        program = start_serving_program(path.toStdString(), rootPath);
        QVERIFY(program > 0);
    }
    void cleanupTestCase() { stop_program(program); }

    void serialCablesAreThereAtStart()
    {
        QVERIFY(serialAnswers(rootPath, 0x31));
        QVERIFY(serialAnswers(rootPath, 0x33, "modem-4g"));
    }

    void secondInstanceSaysWhatItCannotServe()
    {
        QTemporaryDir secondRoot;
        const QString output = secondRoot.filePath("output");
        pid_t second =
            start_program(qgetenv("ZEV_PROGRAM").toStdString(), secondRoot.path().toStdString(), output.toStdString());
        QVERIFY(second > 0);
        QStringList lines;
        for (int waited = 0; waited < 10000 && !lines.join('\n').contains("port 10005"); waited += 50) {
            usleep(50000);
            lines = QString::fromUtf8(readHostFile(output)).split('\n');
        }
        kill(second, SIGKILL);
        waitpid(second, nullptr, 0);
        QVERIFY(lines.first().startsWith("zevQ64N on the simulated board"));
        QVERIFY(lines.first().contains("serves TCP 5005 and 10002, UDP 5008, 10005 and 13769, RS-485 /dev/ttyS2 at "));
        for (const char* port :
             {"TCP port 5005", "TCP port 10002", "UDP port 5008", "UDP port 10005", "UDP port 13769"})
            QCOMPARE(lines.filter(QString("zevQ64N: cannot serve %1: ").arg(port)).size(), 1);
    }

    // A board this machine cannot be, a name that is no board, an option
    // without its value or one the program does not have stops it at once
    // with one line naming what the user set.
    void refusedAtStart_data()
    {
        // The arguments after the data root's, or ZEV_BOARD=value.
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QString>("refusal");
        const QString absent = "real refused: this machine has no board devices (/dev/spidev32766.0, /dev/msys), and "
                               "the board's commands would change its network and files";
        const QString unknown = "nosuch refused: the board is sim or real";
        const QString noSuch = " refused: no such option; the options are --board sim|real, --sim-root DIR, "
                               "--vnc-listen ADDR and --verbose";
        QTest::newRow("--board=nosuch") << QStringList{"--board=nosuch"} << "--board=" + unknown;
        QTest::newRow("--board nosuch") << QStringList{"--board", "nosuch"} << "--board " + unknown;
        QTest::newRow("ZEV_BOARD=nosuch") << QStringList{"ZEV_BOARD=nosuch"} << "ZEV_BOARD=" + unknown;
        QTest::newRow("--board=real") << QStringList{"--board=real"} << "--board=" + absent;
        QTest::newRow("ZEV_BOARD=real") << QStringList{"ZEV_BOARD=real"} << "ZEV_BOARD=" + absent;
        QTest::newRow("--board") << QStringList{"--board"} << "--board refused: it takes a value, sim or real";
        QTest::newRow("--bord=sim") << QStringList{"--bord=sim"} << "--bord=sim" + noSuch;
        QTest::newRow("--verbos") << QStringList{"--verbos"} << "--verbos" + noSuch;
    }
    void refusedAtStart()
    {
        QFETCH(QStringList, asked);
        QFETCH(QString, refusal);
        if (refusal.contains("real refused") && QFile::exists("/dev/spidev32766.0") && QFile::exists("/dev/msys"))
            QSKIP("this machine has the board's devices");
        const bool variable = asked.first().startsWith("ZEV_BOARD=");
        const std::string value = asked.first().section('=', 1).toStdString();
        ProgramStart how;
        how.board = "";
        for (const QString& a : variable ? QStringList() : asked)
            how.args.push_back(a.toStdString());
        if (variable)
            how.env = {"ZEV_BOARD=" + value};
        QTemporaryDir dir;
        QCOMPARE(refused(dir.path().toStdString(), how), "zevQ64N: " + refusal + "\n");
    }

    // A second program on the data root the first holds stops at once,
    // naming the root and the first's process id, and leaves its files
    // alone; once the first was killed, the next start takes the root. The
    // second has its options as users type them, "--sim-root DIR --board
    // sim": the refusal names DIR and the simulated board's way out.
    void secondProgramOnTheSameRootIsRefused()
    {
        QTemporaryDir dir;
        const std::string home = dir.path().toStdString();
        ProgramStart asTyped;
        asTyped.board = "";
        asTyped.args = {"--board", "sim"};
        asTyped.spacedRoot = true;
        asTyped.env = {"HOME=" + home};
        const QString lock = root.filePath("data/.zevQ64N.lock");
        // The first's files are all written once its access point is up.
        QVERIFY(QTest::qWaitFor(
            [&] { return readHostFile(root.filePath("sim/commands")).contains("\nifconfig wlan0 1"); }, 30000));
        const auto files = [&] {
            auto now = rootFiles(root.path());
            now.erase("sim/fpga_flash.bin");
            return now;
        };
        const auto before = files();
        QCOMPARE(refused(rootPath, asTyped),
                 QString("zevQ64N: data root %1 is in use by zevQ64N process %2; stop it or give "
                         "this one another --sim-root\n")
                     .arg(root.path())
                     .arg(program));
        QVERIFY(files() == before);
        QCOMPARE(readHostFile(lock), QByteArray::number(program) + "\n");

        stop_program(program);
        program = start_serving_program(qgetenv("ZEV_PROGRAM").toStdString(), rootPath);
        QCOMPARE(readHostFile(lock), QByteArray::number(program) + "\n");
    }

    void restartRequestStartsTheProgramAgain()
    {
        int c = tcp_connect(5005);
        QVERIFY(c >= 0);
        // Register 14, bit 1: restart at once.
        put(c, wire(with_bcc(request(kBox, 0xA0, {14, 0x02, 0x00, 0x00}))));
        // The old program is gone once nothing listens on the port; the
        // closing connection alone does not tell, the listener may outlive
        // it for a moment.
        bool gone = false;
        for (int waited = 0; !gone && waited < 5000; waited += 20) {
            int probe = tcp_connect(5005);
            gone = probe < 0;
            if (probe >= 0)
                close(probe);
            usleep(20000);
        }
        close(c);
        QVERIFY(gone);
        int fd = tcp_connect_within(5005, 20000);
        QVERIFY(fd >= 0);
        close(fd);
        // Still the same process, running again.
        QCOMPARE(waitpid(program, nullptr, WNOHANG), 0);
        QFile record(QString::fromStdString(rootPath + "/sim/commands"));
        QVERIFY(record.open(QIODevice::ReadOnly));
        QVERIFY(record.readAll().split('\n').contains("reboot"));
        QVERIFY(serialAnswers(rootPath, 0x32));
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eSimBoard)

#include "test_e2e_sim_board.moc"
