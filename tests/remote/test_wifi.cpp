// The Wi-Fi access point: its start-up and restart steps driven by the tick
// counter, the text commands, and their answers on UDP 13769 while the access
// point runs.
#include <QtTest>

#include <functional>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/config_engine.h"
#include "core/para_apply.h"
#include "core/zevrampara.h"
#include "link/udpnetmanage.h"
#include "remote/q64_wifi_config.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
bool g_own_network = false;
}

class TestWifi : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    Q64_WIFI_CONFIG* wifi = nullptr;

    std::vector<std::string> recorded() { return sim->board().simShell().recorded(); }
    QString hostapd() { return QString::fromUtf8(readHostFile(sim->hostQ(Q64_WIFI_CONFIG::kHostapdConf))); }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
        writeHostFile(sim->hostQ(Q64_WIFI_CONFIG::kHostapdConf),
                      "interface=wlan0\nssid=Box\nchannel=6\nwpa_passphrase=secret99\n");
        G_timeTicks = 0;
        // Without its thread: the test runs the passes.
        wifi = new Q64_WIFI_CONFIG();
        wifi->read_wifi_files();
        Q64_WIFI_CONFIG::p_wifi = wifi;
    }
    void cleanupTestCase() { delete sim; }
    void init()
    {
        sim->board().simShell().clearRecorded();
        ZevRamPara::p_zevrampara_config[Img::kWifiOff] = 0;
    }

    void startUpOneStepAfterAnother()
    {
        Q64_WIFI_CONFIG::wifi_ap_state = 0;
        Q64_WIFI_CONFIG::wifi_ap_timeticks = 0;
        Q64_WIFI_CONFIG::wifi_reset_timeticks = G_timeTicks = 1000;
        for (u32 t = 1000; t <= 1303; t += 101) {
            G_timeTicks = t + 101;
            wifi->wifi_pass();
        }
        QCOMPARE(recorded(), (std::vector<std::string>{"ifconfig wlan0 192.168.100.1", "udhcpd -fS /etc/udhcpd.conf &",
                                                       "/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B"}));
        QCOMPARE(int(Q64_WIFI_CONFIG::wifi_ap_state), 3);
    }

    void resetStopsThenStartsAgain()
    {
        Q64_WIFI_CONFIG::wifi_ap_state = 3;
        wifi->set_wifi_reset_flag();
        QCOMPARE(int(g_wifi_reset_flag), 1);
        wifi->wifi_reset();
        QCOMPARE(recorded().size(), size_t(2));
        QVERIFY(recorded()[0].rfind("kill -9 `pidof /usr/bin/hostapd", 0) == 0);
        QCOMPARE(int(g_wifi_reset_flag), 2);
        wifi->wifi_reset();
        QCOMPARE(int(g_wifi_reset_flag), 0);
        QCOMPARE(int(Q64_WIFI_CONFIG::wifi_ap_state), 0);
    }

    void wifiOffKeepsItDown()
    {
        ZevRamPara::p_zevrampara_config[Img::kWifiOff] = 1;
        Q64_WIFI_CONFIG::wifi_ap_state = 0;
        wifi->wifi_ap_start_up();
        g_wifi_reset_flag = 0;
        wifi->wifi_reset();
        QCOMPARE(int(g_wifi_reset_flag), 2);
        QVERIFY(recorded().empty());
    }

    void threadWakesOnlyForAStepThatWouldAct()
    {
        const u32 idle = Q64_WIFI_CONFIG::kUntilWoken;
        struct Row {
            u8 flag, off, state;
            u32 ticks; // start-up step due in 90 ticks, reset step in 10
        } rows[] = {{0, 0, 0, 90},   {1, 0, 0, 10}, {2, 0, 0, 10}, {3, 0, 0, 10},   {0, 1, 0, 10},
                    {2, 1, 0, idle}, {2, 2, 0, 10}, {0, 0, 2, 90}, {0, 0, 3, idle}, {1, 0, 3, 10}};
        for (const Row& r : rows) {
            G_timeTicks = 5000;
            Q64_WIFI_CONFIG::wifi_ap_timeticks = 5000 - 11;
            Q64_WIFI_CONFIG::wifi_reset_timeticks = 5000 - 291;
            g_wifi_reset_flag = r.flag;
            ZevRamPara::p_zevrampara_config[Img::kWifiOff] = r.off;
            Q64_WIFI_CONFIG::wifi_ap_state = r.state;
            QCOMPARE(wifi->ticks_to_next_step(), r.ticks);
        }
        g_wifi_reset_flag = 0;
    }

    void everyChangeThatLetsAStepActWakesTheThread()
    {
        using std::chrono::milliseconds;
        // As start-up wires it.
        set_image_written_hook(&Q64_WIFI_CONFIG::wake);
        auto address = [this](const char* a) {
            ConfigEngine::pInstance()->write_config_variant(ConfigItem::WifiIPAddress, a);
            wifi->read_wifi_files();
        };
        const u8 off = 1;
        struct Row {
            const char* name;
            u8 off, flag, state; // an idle thread
            std::function<void()> change;
        } rows[] = {
            {"restart request", 0, 0, 3, [this] { wifi->set_wifi_reset_flag(); }},
            {"flag written", 0, 0, 3, [] { g_wifi_reset_flag = 3; }},
            {"PC image write", 0, 0, 3, [&] { ZevRamPara::ZevRamParaDeal(&off, 1, Img::kWifiOff); }},
            {"panel applies Wi-Fi on", 1, 2, 3,
             [] { c331_apply(1, [] { ZevRamPara::p_zevrampara_config[Img::kWifiOff] = 0; }); }},
            {"access point state set back", 0, 0, 3, [] { Q64_WIFI_CONFIG::wifi_ap_state = 0; }},
            {"own address", 0, 0, 0, [&] { address("192.168.100.1"); }},
        };
        for (const Row& r : rows) {
            address(r.state == 0 ? "1.2.3.4;reboot" : "192.168.100.1");
            ZevRamPara::p_zevrampara_config[Img::kWifiOff] = r.off;
            g_wifi_reset_flag = r.flag;
            Q64_WIFI_CONFIG::wifi_ap_state = r.state;
            QVERIFY2(wifi->ticks_to_next_step() == Q64_WIFI_CONFIG::kUntilWoken, r.name);
            Q64_WIFI_CONFIG::wait_for_wake(milliseconds(0));
            r.change();
            QVERIFY2(Q64_WIFI_CONFIG::wait_for_wake(milliseconds(0)), r.name);
            QVERIFY2(wifi->ticks_to_next_step() != Q64_WIFI_CONFIG::kUntilWoken, r.name);
        }
        set_image_written_hook(nullptr);
        g_wifi_reset_flag = 0;
    }

    void aWakeEndsTheIdlePausePromptly()
    {
        Q64_WIFI_CONFIG::wait_for_wake(std::chrono::milliseconds(0));
        QElapsedTimer clock;
        clock.start();
        std::thread request([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            g_wifi_reset_flag = 1;
        });
        QVERIFY(Q64_WIFI_CONFIG::wait_for_wake(Q64_WIFI_CONFIG::kIdleBound));
        request.join();
        QVERIFY(clock.elapsed() < 5000);
        g_wifi_reset_flag = 0;
    }

    void badOwnAddressRunsNothing()
    {
        Q64_WIFI_CONFIG w;
        ConfigEngine::pInstance()->write_config_variant(ConfigItem::WifiIPAddress, "1.2.3.4;reboot");
        w.read_wifi_files();
        sim->board().simShell().clearRecorded();
        Q64_WIFI_CONFIG::wifi_ap_state = 0;
        w.wifi_ap_start_up();
        ConfigEngine::pInstance()->write_config_variant(ConfigItem::WifiIPAddress, "192.168.100.1");
        QVERIFY(recorded().empty());
        QCOMPARE(int(Q64_WIFI_CONFIG::wifi_ap_state), 0);
    }

    void eachStartWritesFilesThatMatchTheAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("range");
        QTest::newRow("factory") << "192.168.100.1"
                                 << "start 192.168.100.100\nend 192.168.100.189\n";
        QTest::newRow("inside the usual range") << "10.0.5.150"
                                                << "start 10.0.5.10\nend 10.0.5.99\n";
    }
    void eachStartWritesFilesThatMatchTheAddress()
    {
        QFETCH(QString, address);
        QFETCH(QString, range);
        ConfigEngine::pInstance()->write_config_variant(ConfigItem::WifiIPAddress, address);
        Q64_WIFI_CONFIG w;
        w.read_wifi_files();
        ConfigEngine::pInstance()->write_config_variant(ConfigItem::WifiIPAddress, "192.168.100.1");
        QFile::remove(sim->hostQ(Q64_WIFI_CONFIG::kUdhcpdConf));
        Q64_WIFI_CONFIG::wifi_ap_state = 0;
        w.wifi_ap_start_up();
        QCOMPARE(int(Q64_WIFI_CONFIG::wifi_ap_state), 1);
        const QString dhcp = QString::fromLatin1(readHostFile(sim->hostQ(Q64_WIFI_CONFIG::kUdhcpdConf)));
        QVERIFY2(dhcp.startsWith(range), qPrintable(dhcp));
        QVERIFY(dhcp.contains("interface wlan0\n"));
        QVERIFY(dhcp.contains("opt router " + address + "\n"));
        QVERIFY(hostapd().contains("channel=6\nssid=Box\nwpa_passphrase=secret99\n"));
        QVERIFY(QDir(sim->hostQ("/etc")).entryList({".*.part"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    void startWaitsWhileTheFilesCannotBeWritten()
    {
        const QString dhcp = sim->hostQ(Q64_WIFI_CONFIG::kUdhcpdConf);
        QFile::remove(dhcp);
        QDir().mkpath(dhcp + "/x");
        Q64_WIFI_CONFIG::wifi_ap_state = 0;
        wifi->wifi_ap_start_up();
        QDir(dhcp).removeRecursively();
        QCOMPARE(int(Q64_WIFI_CONFIG::wifi_ap_state), 0);
        QVERIFY(recorded().empty());
    }

    void onlyOneSwitchesWifiOffForTheRestart()
    {
        // Any byte but 0 holds the start-up; only 1 is "off" to the restart.
        ZevRamPara::p_zevrampara_config[Img::kWifiOff] = 2;
        Q64_WIFI_CONFIG::wifi_ap_state = 1;
        g_wifi_reset_flag = 2;
        wifi->wifi_reset();
        QCOMPARE(int(g_wifi_reset_flag), 0);
        QCOMPARE(int(Q64_WIFI_CONFIG::wifi_ap_state), 0);
        wifi->wifi_ap_start_up();
        QCOMPARE(int(Q64_WIFI_CONFIG::wifi_ap_state), 0);
        QVERIFY(recorded().empty());
    }

    void textCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("ssid");
        QTest::newRow("check") << "AT+CHECKDATA\r\n"
                               << "+CHECKDATA:Box,secret99,192.168.100.1\r\nOK\r\n"
                               << "Box";
        QTest::newRow("version") << "AT+GETVER" << QString("+GETVER:%1\r\nOK\r\n").arg(Q64_WIFI_CONFIG::kVersion)
                                 << "Box";
        QTest::newRow("set") << "AT+SETDATA=Hall 2,longpass1"
                             << "OK\r\n"
                             << "Hall 2";
        QTest::newRow("short passphrase") << "AT+SETDATA=Hall,short"
                                          << "ERROR\r\n"
                                          << "Box";
        QTest::newRow("line in name") << "AT+SETDATA=a\nwpa=0,longpass1"
                                      << "ERROR\r\n"
                                      << "Box";
        QTest::newRow("restart") << "AT+RST"
                                 << "OK\r\n"
                                 << "Box";
        QTest::newRow("unknown") << "AT+FOO"
                                 << "ERROR\r\n"
                                 << "Box";
    }
    void textCommands()
    {
        QFETCH(QString, command);
        QFETCH(QString, answer);
        QFETCH(QString, ssid);
        writeHostFile(sim->hostQ(Q64_WIFI_CONFIG::kHostapdConf),
                      "interface=wlan0\nssid=Box\nchannel=6\nwpa_passphrase=secret99\n");
        wifi->read_wifi_files();
        g_wifi_reset_flag = 0;
        QCOMPARE(QString::fromStdString(wifi->answer(command.toStdString())), answer);
        QVERIFY(hostapd().contains("\nssid=" + ssid + "\n"));
        QVERIFY(hostapd().contains("channel=6\n"));
        QCOMPARE(g_wifi_reset_flag == 1, answer == "OK\r\n" && !command.contains("VER"));
    }

    void answeredOnUdpWhileRunning()
    {
        if (!g_own_network)
            QSKIP("no private network namespace for the fixed port");
        udpnetManage::pInstance();
        Q64_WIFI_CONFIG::attach_udp(udpnetManage::p_udpnetManage);
        int s = udp_socket(0, 0);
        QVERIFY(s >= 0);
        const sockaddr_in to = loopback(udpnetManage::kWifiPort);
        auto ask = [&](const char* text, int waitMs) {
            sendto(s, text, strlen(text), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            pollfd p{s, POLLIN, 0};
            char buf[256];
            if (poll(&p, 1, waitMs) <= 0)
                return QString();
            ssize_t n = recv(s, buf, sizeof buf, 0);
            return n > 0 ? QString::fromLatin1(buf, int(n)) : QString();
        };
        Q64_WIFI_CONFIG::wifi_ap_state = 1;
        QCOMPARE(ask("AT+GETVER", 300), QString());
        Q64_WIFI_CONFIG::wifi_ap_state = 3;
        // The datagram that waited is read now, then the new one.
        QVERIFY(ask("AT+RST", 3000).startsWith("+GETVER:"));
        QCOMPARE(ask("AT+RST", 3000), QString("OK\r\n"));
        close(s);
    }
};

int main(int argc, char** argv)
{
    // Before any thread exists: the namespace belongs to the calling thread.
    g_own_network = own_network();
    QCoreApplication app(argc, argv);
    TestWifi t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_wifi.moc"
