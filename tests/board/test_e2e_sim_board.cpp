// The program on the simulated board as a user meets it: the serial cables
// are there at start with no step by hand, a second instance names each port
// it cannot take, a restart request starts the program again (same process,
// same arguments) instead of recording "reboot" for ever, and a board it
// cannot be is refused.
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

    // A board this machine cannot be, or a name that is no board, stops the
    // program at once with one line naming what the user set.
    void unknownOrAbsentBoardIsRefused_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("refusal");
        const QString absent = "real refused: this machine has no board devices (/dev/spidev32766.0, /dev/msys), and "
                               "the board's commands would change its network and files";
        const QString unknown = "nosuch refused: the board is sim or real";
        QTest::newRow("--board=nosuch") << "--board=nosuch"
                                        << "--board=" + unknown;
        QTest::newRow("ZEV_BOARD=nosuch") << "ZEV_BOARD=nosuch"
                                          << "ZEV_BOARD=" + unknown;
        QTest::newRow("--board=real") << "--board=real"
                                      << "--board=" + absent;
        QTest::newRow("ZEV_BOARD=real") << "ZEV_BOARD=real"
                                        << "ZEV_BOARD=" + absent;
    }
    void unknownOrAbsentBoardIsRefused()
    {
        QFETCH(QString, asked);
        QFETCH(QString, refusal);
        if (asked.endsWith("real") && QFile::exists("/dev/spidev32766.0") && QFile::exists("/dev/msys"))
            QSKIP("this machine has the board's devices");
        QTemporaryDir dir;
        const std::string value = asked.section('=', 1).toStdString();
        ProgramStart how;
        how.board = asked.startsWith("--") ? asked.toStdString() : "";
        how.prepare = [&] { return how.board.empty() ? setenv("ZEV_BOARD", value.c_str(), 1) == 0 : true; };
        pid_t pid = start_program(qgetenv("ZEV_PROGRAM").toStdString(), dir.path().toStdString(),
                                  dir.filePath("output").toStdString(), how);
        QVERIFY(pid > 0);
        int status = 0;
        const bool ended = QTest::qWaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000);
        if (!ended)
            stop_program(pid);
        QVERIFY(ended && WIFEXITED(status) && WEXITSTATUS(status) == 1);
        QCOMPARE(QString(readHostFile(dir.filePath("output"))), "zevQ64N: " + refusal + "\n");
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eSimBoard)

#include "test_e2e_sim_board.moc"
