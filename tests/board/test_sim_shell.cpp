// The simulated shell records everything, runs only confined file commands
// and never a board command.
#include <QtTest>

#include <unistd.h>

#include "core/utils.h"
#include "sim_fixture.h"

class TestSimShell : public QObject
{
    Q_OBJECT
    SimFixture sim_;

    board::sim::SimShell& shell() { return sim_.board().simShell(); }

  private slots:
    void init() { shell().clearRecorded(); }

    void boardCommandsAreRecordedNeverRun()
    {
        // Each of these would change the host if it ran; a marker file shows
        // that none did.
        QString marker = sim_.hostQ("/data/marker");
        QVERIFY(writeHostFile(marker, "x"));
        const char* commands[] = {"reboot",
                                  "ifconfig eth0 10.0.0.1 netmask 255.0.0.0 up",
                                  "route del default wlan0",
                                  "ip route add default via 10.0.0.1 dev eth0",
                                  "date -s \"2020-01-01 00:00:00\"",
                                  "hwclock -w",
                                  "/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B",
                                  "udhcpd -fS /etc/udhcpd.conf &",
                                  "kill -9 1",
                                  "dos2unix /data/marker",
                                  "chattr +i /data/marker",
                                  "touch /tmp/zev-should-not-exist"};
        for (const char* c : commands)
            QCOMPARE(Utils::system_mutex(c), 0);
        QVERIFY(!QFile::exists("/tmp/zev-should-not-exist"));
        QCOMPARE(readHostFile(marker), QByteArray("x"));
        auto rec = shell().recorded();
        QCOMPARE(int(rec.size()), int(sizeof commands / sizeof *commands));
        QCOMPARE(QString::fromStdString(rec[0]), QString("reboot"));
    }

    void pipelinesAndSubstitutionsAreNotRun()
    {
        QString victim = sim_.hostQ("/data/victim");
        QVERIFY(writeHostFile(victim, "keep"));
        Utils::system_mutex("kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`");
        Utils::system_mutex("rm -rf /data/victim | cat");
        Utils::system_mutex("rm -rf $(echo /data/victim)");
        QVERIFY(QFile::exists(victim));
        std::string out = Utils::shell_exec("ifconfig wlan0 | grep HWaddr", 128);
        QVERIFY(out.empty());
        shell().setPopenReply("ifconfig wlan0", "wlan0 HWaddr 00:11:22:33:44:55\n");
        QCOMPARE(QString::fromStdString(Utils::shell_exec("ifconfig wlan0 | grep HWaddr", 128)),
                 QString("wlan0 HWaddr 00:11:22:33:44:55\n"));
    }

    void fileCommandsStayInsideTheRoot()
    {
        QVERIFY(writeHostFile(sim_.hostQ("/data/app/zevQ64N2"), "new"));
        QCOMPARE(Utils::system_mutex("mv /data/app/zevQ64N2 /data/app/zevQ64N"), 0);
        QCOMPARE(readHostFile(sim_.hostQ("/data/app/zevQ64N")), QByteArray("new"));
        QCOMPARE(Utils::system_mutex("chmod 777 /data/app/zevQ64N"), 0);
        QVERIFY(QFileInfo(sim_.hostQ("/data/app/zevQ64N")).isExecutable());
        QCOMPARE(Utils::system_mutex("cp /data/app/zevQ64N /mnt/usb1/copy"), 0);
        QCOMPARE(readHostFile(sim_.hostQ("/mnt/usb1/copy")), QByteArray("new"));
        QCOMPARE(Utils::system_mutex("mkdir -p /data/a/b"), 0);
        QVERIFY(QFileInfo(sim_.hostQ("/data/a/b")).isDir());
        QVERIFY(writeHostFile(sim_.hostQ("/data/rcvrecovery/r1"), "1"));
        QVERIFY(writeHostFile(sim_.hostQ("/data/rcvrecovery/r2"), "2"));
        QCOMPARE(Utils::system_mutex("rm -rf /data/rcvrecovery/*"), 0);
        QVERIFY(QDir(sim_.hostQ("/data/rcvrecovery")).isEmpty());
        QCOMPARE(Utils::system_mutex("sync"), 0);

        // Paths that climb out of the root, or relative ones, are refused.
        QVERIFY(writeHostFile(sim_.hostQ("/../outside"), "o"));
        QCOMPARE(Utils::system_mutex("rm -rf /../outside"), 255);
        QVERIFY(QFile::exists(sim_.hostQ("/../outside")));
        QCOMPARE(Utils::system_mutex("rm -rf outside"), 255);
        QCOMPARE(Utils::system_mutex("cp /data/app/zevQ64N /../../etc/passwd-copy"), 255);
        QFile::remove(sim_.hostQ("/../outside"));

        int status = 0;
        QCOMPARE(Utils::system_mutex("mv /data/none /data/other", &status), 255);
        QVERIFY(status != 0);
    }
};

QTEST_GUILESS_MAIN(TestSimShell)
#include "test_sim_shell.moc"
