// Network, barcode, language, cloud-settings and update-start commands and
// the 4G group, spoken as the PC tool does, with valid and invalid fields.
#include <QtTest>

#include <cstring>

#include <QDir>
#include <QSignalSpy>

#include "core/config_engine.h"
#include "core/zevrampara.h"
#include "core/net_check.h"
#include "core/utils.h"
#include "lock_wait.h"
#include "pc_frames.h"
#include "remote/message_deal_4g.h"
#include "remote/q64_wifi_config.h"
#include "remote/remote_links.h"
#include "support/sim_fixture.h"

namespace
{
Bytes ip_rest(const Bytes& ip, const Bytes& mask, const Bytes& gw, u16 port)
{
    return cat({{1, 0, 0, 0}, ip, mask, gw, {u8(port), u8(port >> 8)}});
}

// A cloud-settings block masked with key as the PC tool sends it; cut drops
// bytes from its end.
Bytes cloud_rest(const std::string& server, u16 port, const std::string& user, const std::string& ctl, size_t cut = 0)
{
    std::string plain = std::string(2, '\0') + char(server.size()) + server + char(port & 0xFF) + char(port >> 8) +
                        char(user.size()) + user + char(ctl.size()) + ctl;
    plain.resize(plain.size() - cut);
    Bytes rest(2 + 32 + 16 + plain.size(), 0);
    rest[0] = 11;
    for (size_t i = 0; i < 32; ++i)
        rest[2 + i] = u8(0x30 + 7 * i);
    for (size_t i = 0; i < plain.size(); ++i)
        rest[50 + i] = u8(plain[i]) ^ rest[2 + i % 32];
    return rest;
}

// What the settings commands change, in the program and in the settings.
QStringList settings_now()
{
    const Utils::NetIdentity id = Utils::net_identity();
    QStringList s = {id.ip,
                     id.mask,
                     id.gateway,
                     QString::number(g_port),
                     id.barcode,
                     QString::number(g_lcd_lang_valid.load()),
                     QString::number(g_language.load()),
                     g_Nubo_cloudserverip,
                     QString::number(g_Nubo_cloudserverport)};
    for (int i = 0; i < ConfigItem::ItemCount; ++i)
        s << ConfigEngine::pInstance()->read_config_variant(ConfigItem::ConfigName(i)).toString();
    return s;
}
} // namespace

class TestMessageNet : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    message_deal md;
    QSignalSpy* spy = nullptr;

    bool ran(const std::string& prefix)
    {
        for (const std::string& c : sim->board().simShell().recorded())
            if (c.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
        static remote_links remote;
        message_remote::install(&remote);
        spy = new QSignalSpy(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
        QDir().mkpath(sim->hostQ("/etc/network"));
    }
    void cleanupTestCase()
    {
        delete spy;
        delete sim;
    }
    void init()
    {
        spy->clear();
        sim->board().simShell().clearRecorded();
        g_app_reset_flag = 0;
        G_reboot_tickTicks = 0;
        g_port = 5005;
        Utils::set_net_address("192.168.0.199", "255.255.255.0", "192.168.0.1");
        Utils::set_net_mac("FF:FF:FF:FF:FF:FF");
    }

    void setMacWritesTheInterfacesFile()
    {
        Reply r = send(md, request(kBox, 0xA4, {0, 0, 0, 0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC}));
        QCOMPARE(r.data(), Bytes{0});
        QCOMPARE(r.status(), u8(0));
        QCOMPARE(Utils::net_identity().mac, QString("00:11:22:aa:bb:cc"));
        const QByteArray f = readHostFile(sim->hostQ("/etc/network/interfaces"));
        QVERIFY(f.startsWith("#start 180503\nauto lo\n"));
        QVERIFY(f.contains("address 192.168.0.199\nnetmask 255.255.255.0\nmetric 1\n"
                           "hwaddress ether 00:11:22:aa:bb:cc\n#\n#end\n"));
        QVERIFY(ran("ifdown eth0 -f;ifup eth0 -f"));
    }
    void setMacThatCannotBeWrittenAnswersFailure()
    {
        const QString file = sim->hostQ("/etc/network/interfaces");
        QFile::remove(file);
        QDir().mkpath(file); // a folder where the file belongs
        Reply r = send(md, request(kBox, 0xA4, {0, 0, 0, 1, 2, 3, 4, 5, 6}));
        QDir(file).removeRecursively();
        QCOMPARE(r.status(), u8(1));
        QCOMPARE(Utils::net_identity().mac, QString("FF:FF:FF:FF:FF:FF"));
        QVERIFY(!ran("ifdown"));
        // A short frame changes nothing either.
        QCOMPARE(send(md, request(kBox, 0xA4, {0, 0, 0, 1, 2})).status(), u8(1));
    }

    void setMacRefusesGroupAndZeroAddresses_data()
    {
        QTest::addColumn<Bytes>("mac");
        QTest::newRow("broadcast") << Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        QTest::newRow("multicast") << Bytes{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01};
        QTest::newRow("all zero") << Bytes{0, 0, 0, 0, 0, 0};
    }
    void setMacRefusesGroupAndZeroAddresses()
    {
        QFETCH(Bytes, mac);
        const QString file = sim->hostQ("/etc/network/interfaces");
        QVERIFY(writeHostFile(file, "old"));
        Reply r = send(md, request(kBox, 0xA4, cat({{0, 0, 0}, mac})));
        QCOMPARE(r.status(), u8(1));
        QCOMPARE(Utils::net_identity().mac, QString("FF:FF:FF:FF:FF:FF"));
        QCOMPARE(readHostFile(file), QByteArray("old"));
        QVERIFY(!ran("ifdown"));
    }

    void setIp_data()
    {
        QTest::addColumn<Bytes>("ip");
        QTest::addColumn<Bytes>("mask");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("restart");
        const Bytes ip = {10, 0, 0, 9}, m24 = {255, 255, 255, 0};
        QTest::newRow("same port") << ip << m24 << 5005 << 0 << false;
        QTest::newRow("new port") << ip << Bytes{255, 255, 0, 0} << 5006 << 0 << true;
        QTest::newRow("two-address subnet") << Bytes{10, 0, 0, 0} << Bytes{255, 255, 255, 254} << 5005 << 0 << false;
        QTest::newRow("holed mask") << ip << Bytes{255, 0, 255, 0} << 5005 << 1 << false;
        QTest::newRow("mask 0.0.0.0") << ip << Bytes{0, 0, 0, 0} << 5005 << 1 << false;
        QTest::newRow("port 0") << ip << m24 << 0 << 1 << false;
        QTest::newRow("second server's port") << ip << m24 << 10002 << 1 << false;
        QTest::newRow("0.0.0.0") << Bytes{0, 0, 0, 0} << m24 << 5005 << 1 << false;
        QTest::newRow("255.255.255.255") << Bytes{255, 255, 255, 255} << m24 << 5005 << 1 << false;
        QTest::newRow("multicast") << Bytes{224, 0, 0, 1} << m24 << 5005 << 1 << false;
        QTest::newRow("loopback") << Bytes{127, 0, 0, 1} << m24 << 5005 << 1 << false;
        QTest::newRow("network address") << Bytes{10, 0, 0, 0} << m24 << 5005 << 1 << false;
        QTest::newRow("subnet broadcast") << Bytes{10, 0, 255, 255} << Bytes{255, 255, 0, 0} << 5005 << 1 << false;
    }
    void setIp()
    {
        QFETCH(Bytes, ip);
        QFETCH(Bytes, mask);
        QFETCH(int, port);
        QFETCH(int, status);
        QFETCH(bool, restart);
        ConfigEngine* c = ConfigEngine::pInstance();
        c->write_config_variant(ConfigItem::TcpPort, 5005);
        c->write_config_variant(ConfigItem::IPAddress, "192.168.0.199");
        G_timeTicks = 777;
        Reply r = send(md, request(kBox, 0xA4, ip_rest(ip, mask, {10, 0, 0, 1}, u16(port))));
        QCOMPARE(r.body.size(), size_t(12));
        QCOMPARE(int(r.status()), status);
        QCOMPARE(g_app_reset_flag.load() == 1, restart);
        const QString stored = c->read_config_variant(ConfigItem::IPAddress).toString();
        if (status) {
            QCOMPARE(stored, QString("192.168.0.199"));
            QCOMPARE(Utils::net_identity().ip, QString("192.168.0.199"));
            return;
        }
        QCOMPARE(stored, net_check::dotted(ip.data()));
        QCOMPARE(g_port.load(), port);
        QCOMPARE(c->read_config_variant(ConfigItem::TcpPort).toInt(), port);
        if (restart)
            QCOMPARE(G_reboot_tickTicks.load(), u32(777));
        else
            QCOMPARE(spy->count(), 1);
    }

    void searchReportsTheWiredSettings()
    {
        sim->board().simShell().setPopenReply("ifconfig eth0", "00:11:22:33:44:5f\n");
        g_port = 0x1389;
        Reply r = send(md, request(kBox, 0xA4, {3}));
        Bytes want = {0, 3,   22,  0,   0,   0x00, 0x11, 0x22, 0x33, 0x44, 0x5F, 192, 168,
                      0, 199, 255, 255, 255, 0,    192,  168,  0,    1,    0x89, 0x13};
        QCOMPARE(r.body.size(), size_t(36));
        QCOMPARE(Bytes(r.body.begin() + 10, r.body.end() - 1), want);
    }

    // The link threads replace the identity texts while the pages and the
    // cloud link copy them: a search and the device information wait for
    // their mutex, and the search changes nothing before it has it.
    void identityWaitsForItsMutex_data()
    {
        QTest::addColumn<int>("sub");
        QTest::newRow("network search") << 3;
        QTest::newRow("device information") << 16;
    }
    void identityWaitsForItsMutex()
    {
        QFETCH(int, sub);
        sim->board().simShell().setPopenReply("ifconfig eth0", "00:11:22:33:44:5f\n");
        bool changed = false;
        QVERIFY(waits_for(
            held(Utils::_net_identity_mutex), [&] { send(md, request(kBox, 0xA4, {u8(sub)})); },
            [&] { changed = g_str_mac != "FF:FF:FF:FF:FF:FF"; }));
        QVERIFY(!changed);
    }

    void deviceInformation()
    {
        Utils::set_net_barcode("AB123");
        std::memset(g_4G_property, 0, 24);
        std::memcpy(g_4G_property, "CLOUD-ID", 8);
        Reply r = send(md, request(kBox, 0xA4, {16}));
        QCOMPARE(r.body.size(), size_t(233 + 11));
        QCOMPARE(r.body[11], u8(16));
        QCOMPARE(Bytes(r.body.begin() + 21, r.body.begin() + 37),
                 (Bytes{'A', 'B', '1', '2', '3', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        QCOMPARE(Bytes(r.body.begin() + 205, r.body.begin() + 209), (Bytes{192, 168, 0, 199}));

        Q64_WIFI_CONFIG wifi;
        Q64_WIFI_CONFIG::p_wifi = &wifi;
        sim->board().simShell().setPopenReply("ifconfig wlan0", "wlan0 Link encap:Ethernet  HWaddr 0c:cf\n");
        wifi.read_wifi_files();
        r = send(md, request(kBox, 0xA4, {16}));
        Q64_WIFI_CONFIG::p_wifi = nullptr;
        QCOMPARE(r.body.size(), size_t(394 + 11));
        QCOMPARE(r.body[217], u8(2));
        QCOMPARE(Bytes(r.body.begin() + 290, r.body.begin() + 294), (Bytes{192, 168, 100, 1}));
        QCOMPARE(r.body[364] | (r.body[365] << 8), 5005);
        QCOMPARE(r.body[378], u8(24));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.body.data() + 379), 8), QByteArray("CLOUD-ID"));
    }

    void barcode()
    {
        std::memset(g_4G_property + 25, 0x77, 12);
        const std::string code = "A1B2C3D4E5F6A7B8C9";
        const Bytes rest = cat({{30, u8(code.size() + 2), 0}, Bytes(code.begin(), code.end())});
        Reply r = send(md, request(kBox, 0xA2, rest));
        QCOMPARE(r.data(), Bytes{30});
        QCOMPARE(r.status(), u8(0));
        QCOMPARE(Bytes(g_4G_property + 25, g_4G_property + 37),
                 (Bytes{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xA7, 0xB8, 0xC9, 0x77, 0x77, 0x77}));
        r = send(md, request(kBox, 0xA2, {31}));
        QCOMPARE(r.data(), cat({{31, 20, 0}, Bytes(code.begin(), code.end())}));

        // No hexadecimal digit: the identity stays.
        send(md, request(kBox, 0xA2, {30, 5, 0, 'x', 'y', 'z'}));
        QCOMPARE(Utils::net_identity().barcode, QString("xyz"));
        QCOMPARE(g_4G_property[25], u8(0xA1));

        // Too short, and a length that runs past the frame.
        QCOMPARE(send(md, request(kBox, 0xA2, {30, 2, 0})).status(), u8(5));
        QCOMPARE(send(md, request(kBox, 0xA2, {30, 40, 0, 'a', 'b'})).status(), u8(5));
        QCOMPARE(Utils::net_identity().barcode, QString("xyz"));

        // The cloud's copy of the identity cannot be written: failure.
        const QString kept = sim->hostQ(message_deal_4g::kBarcodeFile);
        QFile::remove(kept);
        QVERIFY(QDir().mkpath(kept + "/in-the-way"));
        QCOMPARE(send(md, request(kBox, 0xA2, rest)).status(), u8(2));
        QVERIFY(QDir(kept).removeRecursively());
    }

    void languages_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("current");
        QTest::addColumn<uint>("valid");
        QTest::addColumn<int>("language");
        QTest::newRow("english only") << 1 << 0x02 << 0 << 0x10002u << 1;
        QTest::newRow("variant 2") << 2 << 0x1F << 1 << 0x2001Eu << 1;
        QTest::newRow("tw to zh") << 1 << 0x03 << 4 << 0x10003u << 0;
        QTest::newRow("none enabled") << 1 << 0x00 << 3 << 0x10000u << 3;
    }
    void languages()
    {
        QFETCH(int, variant);
        QFETCH(int, bits);
        QFETCH(int, current);
        QFETCH(uint, valid);
        QFETCH(int, language);
        g_lcd_lang_valid = 0x1001F;
        g_language = u8(current);
        Reply r = send(md, request(kBox, 0xA2, {32, 36, 0, 0xAA, 0x55, u8(variant), u8(bits), 0}));
        QCOMPARE(r.data(), Bytes{32});
        QCOMPARE(r.status(), u8(0));
        QCOMPARE(g_lcd_lang_valid.load(), valid);
        QCOMPARE(int(g_language.load()), language);
        QCOMPARE(ConfigEngine::pInstance()->read_config_variant(ConfigItem::ZevLCDLang).toUInt(), valid);
        QCOMPARE(spy->count(), 1);
        // A wrong mark changes nothing.
        QCOMPARE(send(md, request(kBox, 0xA2, {32, 36, 0, 0xAA, 0x56, 1, 0x1F, 0})).status(), u8(5));
        QCOMPARE(g_lcd_lang_valid.load(), valid);
    }

    void cloudSettings()
    {
        Reply r = send(md, request(kBox, 0xC3, cloud_rest("127.0.0.1", 7000, "user-1", "box one")));
        QCOMPARE(r.status(), u8(0));
        QCOMPARE(r.body.size(), size_t(14));
        QCOMPARE(r.body[11], u8(11));
        QCOMPARE(g_Nubo_cloudserverip, QString("127.0.0.1"));
        QCOMPARE(g_Nubo_cloudserverport, 7000);
        QCOMPARE(g_Nubo_clouduserid, QString("user-1"));
        QCOMPARE(g_Nubo_controllername, QString("box one"));
        QCOMPARE(int(g_Nubo_cloud), 1);
        ConfigEngine* c = ConfigEngine::pInstance();
        QCOMPARE(c->read_config_variant(ConfigItem::Nubocloudcontrollername).toString(), QString("box one"));

        // A block that runs past the frame, or a bad address, changes nothing.
        QCOMPARE(send(md, request(kBox, 0xC3, cloud_rest("10.1.1.1", 80, "u", "name", 2))).status(), u8(1));
        QCOMPARE(send(md, request(kBox, 0xC3, cloud_rest("10.1.1.1;reboot", 80, "u", "c"))).status(), u8(1));
        QCOMPARE(send(md, request(kBox, 0xC3, cloud_rest("10.1.1.1", 0, "u", "c"))).status(), u8(1));
        QCOMPARE(g_Nubo_cloudserverip, QString("127.0.0.1"));
        QCOMPARE(g_Nubo_controllername, QString("box one"));

        // Empty texts are stored as such; a block past 32 bytes wraps the key.
        QCOMPARE(send(md, request(kBox, 0xC3, cloud_rest("", 9, "", ""))).status(), u8(0));
        QCOMPARE(g_Nubo_cloudserverip, QString());
        QCOMPARE(g_Nubo_cloudserverport, 9);
        const std::string longName(40, 'n');
        QCOMPARE(send(md, request(kBox, 0xC3, cloud_rest("1.2.3.4", 1, "u", longName))).status(), u8(0));
        QCOMPARE(g_Nubo_controllername, QString::fromStdString(longName));
    }

    // A settings file that cannot be written: each command answers its
    // failure status and the program keeps the old settings.
    void settingsThatCannotBeStoredAnswerFailure_data()
    {
        QTest::addColumn<Bytes>("rest");
        QTest::addColumn<u8>("group");
        QTest::addColumn<int>("status");
        QTest::newRow("set IP") << ip_rest({10, 0, 0, 9}, {255, 255, 255, 0}, {10, 0, 0, 1}, 5005) << u8(0xA4) << 1;
        QTest::newRow("barcode") << Bytes{30, 5, 0, 'N', 'E', 'W'} << u8(0xA2) << 2;
        QTest::newRow("languages") << Bytes{32, 36, 0, 0xAA, 0x55, 1, 0x03, 0} << u8(0xA2) << 2;
        QTest::newRow("cloud") << cloud_rest("10.2.2.2", 7001, "u2", "c2") << u8(0xC3) << 1;
    }
    void settingsThatCannotBeStoredAnswerFailure()
    {
        QFETCH(Bytes, rest);
        QFETCH(u8, group);
        QFETCH(int, status);
        ConfigEngine* c = ConfigEngine::pInstance();
        c->write_config_variant(ConfigItem::IPAddress, "192.168.0.199");
        Utils::getIPAddress();
        g_language = 4;
        const QStringList before = settings_now();
        const QString file = sim->hostQ(ConfigEngine::kFile);
        QFile::remove(file);
        QDir().mkpath(file); // a folder where the file belongs
        Reply r = send(md, request(kBox, group, rest));
        QDir(file).removeRecursively();
        QCOMPARE(int(r.status()), status);
        QCOMPARE(settings_now(), before);
        QCOMPARE(spy->count(), 0);
        QVERIFY(!ran("ifconfig eth0 "));
    }

    void updateStart()
    {
        QCOMPARE(send(md, request(kBox, 0x84, {})).status(), u8(0));
        // An 11-byte body without the start bit answers with its own byte.
        Reply r = send(md, request(kFpga, 0x84, {0x01}));
        QCOMPARE(r.status(), u8(1));
        r = send(md, request(kFpga, 0x84, {0x00}));
        QCOMPARE(r.status(), u8(0));
        // No FPGA to prepare: refused, not reported done.
        QCOMPARE(send(md, request(kFpga, 0x84, {0x02})).status(), u8(1));
    }

    void group4gCarriesCloudCommands()
    {
        std::memcpy(g_4G_property, "ID-4G\0", 6);
        const std::string json = R"({"name":"getproperty"})";
        Reply r = send(md, request(kBox, 0xC4, Bytes(json.begin(), json.end())));
        QCOMPARE(r.status(), u8(0));
        const Bytes d = r.data();
        const QByteArray answer(reinterpret_cast<const char*>(d.data()), int(d.size()));
        QVERIFY(answer.contains("\"cloudid\":\"ID-4G\""));
        QVERIFY(answer.contains("\"result\":0,"));
        // Not JSON: refused; an answer of the module: no reply.
        QCOMPARE(send(md, request(kBox, 0xC4, {'x', '{'})).status(), u8(1));
        const std::string ans = R"({"name":"property","result":0})";
        QVERIFY(!send(md, request(kBox, 0xC4, Bytes(ans.begin(), ans.end()))).sent);
    }

    void withoutTheRemoteSideTheBoxHasNoCloudOrWifi()
    {
        message_remote* remote = message_remote::installed();
        message_remote::install(nullptr);
        Q64_WIFI_CONFIG wifi;
        Q64_WIFI_CONFIG::p_wifi = &wifi;
        const std::string json = R"({"name":"getproperty"})";
        const bool answered = send(md, request(kBox, 0xC4, Bytes(json.begin(), json.end()))).sent;
        const size_t info = send(md, request(kBox, 0xA4, {16})).body.size();
        Q64_WIFI_CONFIG::p_wifi = nullptr;
        message_remote::install(remote);
        QVERIFY(!answered);
        QCOMPARE(info, size_t(233 + 11));
    }
};

QTEST_MAIN(TestMessageNet)
#include "test_message_net.moc"
