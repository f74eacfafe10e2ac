// The simulated shell records everything, runs only confined file commands
// and never a board command; nothing outside the data root is reached, also
// not through links.
#include <QtTest>

#include <unistd.h>

#include "board/board.h"

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

    void linksLeadingOutAreNeverFollowed_data()
    {
        QTest::addColumn<QString>("linkAt");  // board path of the link
        QTest::addColumn<QString>("command"); // what the program runs
        QTest::addColumn<bool>("refused");
        QTest::newRow("factory reset of a linked folder") << "/data/modes"
                                                          << "rm -rf /data/modes/*" << true;
        QTest::newRow("the link itself removed") << "/data/modes"
                                                 << "rm -rf /data/modes" << false;
        QTest::newRow("copy read through a link") << "/data/configs/omenu.json"
                                                  << "cp /data/configs/omenu.json /data/x" << true;
        QTest::newRow("copy into a linked folder") << "/mnt/usb1"
                                                   << "cp /data/app/zevQ64N /mnt/usb1/" << true;
        QTest::newRow("move into a linked folder") << "/data/app"
                                                   << "mv /data/ram_device_info /data/app/x" << true;
        QTest::newRow("chmod through a link") << "/data/app"
                                              << "chmod 777 -R /data/app" << true;
        QTest::newRow("chmod of a tree holding a link") << "/data/app/lib"
                                                        << "chmod 777 -R /data/app" << false;
        QTest::newRow("dot-dot through a link") << "/data/modes"
                                                << "rm -rf /data/modes/../ram_device_info" << false;
    }

    void linksLeadingOutAreNeverFollowed()
    {
        QFETCH(QString, linkAt);
        QFETCH(QString, command);
        QFETCH(bool, refused);
        QTemporaryDir outside;
        const QString victim = outside.path() + "/victim";
        QVERIFY(writeHostFile(victim, "keep"));
        QFile::setPermissions(victim, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(writeHostFile(sim_.hostQ("/data/ram_device_info"), "image"));
        QVERIFY(writeHostFile(sim_.hostQ("/data/app/zevQ64N"), "app"));
        const QString link = sim_.hostQ(linkAt.toStdString());
        QDir(link).removeRecursively();
        QFile::remove(link);
        QVERIFY(QFile::link(linkAt.endsWith(".json") ? victim : outside.path(), link));

        QCOMPARE(Utils::system_mutex(command) == 255, refused);
        // Nothing outside was deleted, written, moved in or changed.
        QCOMPARE(readHostFile(victim), QByteArray("keep"));
        QCOMPARE(QDir(outside.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"victim"});
        QCOMPARE(QFileInfo(victim).permissions() & QFileDevice::ExeOwner, QFileDevice::Permissions{});
        QFile::remove(link);
    }

    void keptPathsLeadingOutResolveToNowhere_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("inside");
        QTest::newRow("plain") << "/data/modes/custom_mode1" << true;
        QTest::newRow("new folder") << "/data/newdir/file" << true;
        QTest::newRow("through the link") << "/data/out/file" << false;
        QTest::newRow("dangling link") << "/etc/dangling" << false;
        QTest::newRow("dot-dot past the root") << "/data/../../x" << false;
        // Read as text, so it stays in the root whatever the link is.
        QTest::newRow("dot-dot after the link") << "/data/out/../../x" << true;
        QTest::newRow("usb stick") << "/mnt/usb1/ZEV/a.ZEV" << true;
    }

    void keptPathsLeadingOutResolveToNowhere()
    {
        QFETCH(QString, path);
        QFETCH(bool, inside);
        QTemporaryDir outside;
        QFile::remove(sim_.hostQ("/data/out"));
        QFile::remove(sim_.hostQ("/etc/dangling"));
        QVERIFY(QFile::link(outside.path(), sim_.hostQ("/data/out")));
        QVERIFY(QFile::link(outside.path() + "/made", sim_.hostQ("/etc/dangling")));

        const QString host = board::path(path);
        QCOMPARE(host.startsWith(QString::fromStdString(sim_.root()) + "/"), inside);
        // What the program does with a path: make its folder and write it.
        QDir().mkpath(QFileInfo(host).absolutePath());
        QFile f(host);
        QCOMPARE(f.open(QIODevice::WriteOnly), inside);
        f.close();
        QVERIFY(QDir(outside.path()).isEmpty());
        QFile::remove(sim_.hostQ("/data/out"));
        QFile::remove(sim_.hostQ("/etc/dangling"));
    }

    void recordIsBoundedAndKeptOnDisk()
    {
        using board::sim::SimShell;
        const QString file = QString::fromStdString(shell().recordPath());
        QFile::remove(file);
        QFile::remove(file + ".old");
        const std::string pad(200, 'x');
        const int n = int(SimShell::kRecordFileLimit / 200) + 100;
        for (int i = 0; i < n; ++i)
            Utils::system_mutex(QString::fromStdString("date -s " + std::to_string(i) + " " + pad));
        auto rec = shell().recorded();
        QCOMPARE(rec.size(), SimShell::kRecordKeep);
        QCOMPARE(rec.back(), "date -s " + std::to_string(n - 1) + " " + pad);
        QVERIFY(QFileInfo(file).size() <= SimShell::kRecordFileLimit);
        QVERIFY(QFileInfo(file + ".old").size() <= SimShell::kRecordFileLimit);
        QVERIFY(readHostFile(file).endsWith(QByteArray::fromStdString(rec.back() + "\n")));
    }
};

QTEST_GUILESS_MAIN(TestSimShell)
#include "test_sim_shell.moc"
