// "reboot" on the simulated board starts the program again: the command is
// recorded first, then the restart runs; the real restart replaces the
// process image with every descriptor closed.
#include <QtTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "board/sim/restart.h"
#include "core/utils.h"
#include "sim_fixture.h"

class TestSimRestart : public QObject
{
    Q_OBJECT
    SimFixture sim_;

  private slots:
    void rebootRestartsAfterTheRecord()
    {
        auto& shell = sim_.board().simShell();
        const QString file = QString::fromStdString(shell.recordPath());
        QByteArray recordAtRestart;
        int restarts = 0;
        shell.setRestart([&] {
            ++restarts;
            recordAtRestart = readHostFile(file);
            return 1 << 8;
        });
        // A failed restart is a failed command.
        QCOMPARE(Utils::system_mutex("sync; reboot"), 255);
        QCOMPARE(restarts, 1);
        QVERIFY(recordAtRestart.endsWith("sync; reboot\n"));
        // Other board commands never restart.
        QCOMPARE(Utils::system_mutex("hwclock -w"), 0);
        QCOMPARE(restarts, 1);
        shell.setRestart(nullptr);
        QCOMPARE(Utils::system_mutex("reboot"), 0);
    }

    void restartReplacesTheProcessWithNoDescriptorLeft()
    {
        pid_t child = fork();
        if (child == 0) {
            // Neither is close-on-exec: the restart must close them.
            int listener = socket(AF_INET, SOCK_STREAM, 0);
            int file = open("/dev/null", O_RDONLY);
            std::string check = "test -e /proc/self/fd/" + std::to_string(listener) +
                                " && exit 3; test -e /proc/self/fd/" + std::to_string(file) + " && exit 4; exit 42";
            board::sim::execRestart("/bin/sh", {"sh", "-c", check})();
            _exit(1);
        }
        QVERIFY(child > 0);
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 42);
    }

    void failedExecIsReported() { QCOMPARE(board::sim::execRestart("/nonexistent/zevQ64N", {"zevQ64N"})(), 1 << 8); }
};

QTEST_GUILESS_MAIN(TestSimRestart)
#include "test_sim_restart.moc"
