// The wired set-up builds root shell commands from the settings: only
// checked addresses may reach them.
#include <QtTest>

#include <algorithm>

#include "core/config_engine.h"
#include "core/net_check.h"
#include "core/utils.h"
#include "sim_fixture.h"

class TestUtils : public QObject
{
    Q_OBJECT
    SimFixture sim_;

    bool ranAnythingWith(const char* part)
    {
        for (const std::string& c : sim_.board().simShell().recorded())
            if (c.find(part) != std::string::npos)
                return true;
        return false;
    }
    bool ran(const char* command)
    {
        auto rec = sim_.board().simShell().recorded();
        return std::find(rec.begin(), rec.end(), command) != rec.end();
    }

  private slots:
    void initTestCase() { ConfigEngine::pInstance(); }

    void dottedQuads_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical");
        QTest::addColumn<bool>("mask");
        QTest::newRow("address") << "192.168.0.199"
                                 << "192.168.0.199" << false;
        QTest::newRow("zeros") << "0.0.0.0"
                               << "0.0.0.0" << true;
        QTest::newRow("mask") << "255.255.254.0"
                              << "255.255.254.0" << true;
        QTest::newRow("all ones") << "255.255.255.255"
                                  << "255.255.255.255" << true;
        QTest::newRow("gap in mask") << "255.0.255.0"
                                     << "255.0.255.0" << false;
        QTest::newRow("low bit mask") << "255.255.255.1"
                                      << "255.255.255.1" << false;
        QTest::newRow("field above 255") << "192.168.0.256"
                                         << "" << false;
        QTest::newRow("three fields") << "192.168.0"
                                      << "" << false;
        QTest::newRow("five fields") << "1.2.3.4.5"
                                     << "" << false;
        QTest::newRow("command") << "1.2.3.4;reboot"
                                 << "" << false;
        QTest::newRow("substitution") << "1.2.$(id).4"
                                      << "" << false;
        QTest::newRow("blank") << " 1.2.3.4"
                               << "" << false;
        QTest::newRow("sign") << "1.2.3.+4"
                              << "" << false;
        QTest::newRow("octal") << "010.2.3.4"
                               << "" << false;
        QTest::newRow("empty") << ""
                               << "" << false;
    }
    void dottedQuads()
    {
        QFETCH(QString, text);
        QFETCH(QString, canonical);
        QFETCH(bool, mask);
        QCOMPARE(net_check::canonical(text), !canonical.isEmpty());
        QCOMPARE(net_check::mask(text), mask);
    }

    void invalidStoredValuesAreReplacedByTheDefaults()
    {
        ConfigEngine* c = ConfigEngine::pInstance();
        c->write_config_variant(ConfigItem::IPAddress, "10.0.0.5;reboot");
        c->write_config_variant(ConfigItem::SubNetMask, "255.0.255.0");
        c->write_config_variant(ConfigItem::GateWay, "10.0.0.1 && rm -rf /");
        sim_.board().simShell().clearRecorded();
        QCOMPARE(Utils::initIPAddress(), 0);
        QVERIFY(!ranAnythingWith("reboot"));
        QVERIFY(!ranAnythingWith("rm "));
        QVERIFY(!ranAnythingWith("255.0.255.0"));
        QVERIFY(ran("ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up"));
        QVERIFY(ran("route add default gw 192.168.0.1 metric 100"));
        QCOMPARE(Utils::net_identity().ip, QString("192.168.0.199"));
        QCOMPARE(c->read_config_variant(ConfigItem::SubNetMask).toString(), QString("255.255.255.0"));
        QCOMPARE(c->read_config_variant(ConfigItem::GateWay).toString(), QString("192.168.0.1"));
    }

    void validStoredValuesAreApplied()
    {
        ConfigEngine* c = ConfigEngine::pInstance();
        c->write_config_variant(ConfigItem::IPAddress, "10.1.2.3");
        c->write_config_variant(ConfigItem::SubNetMask, "255.255.0.0");
        c->write_config_variant(ConfigItem::GateWay, "10.1.0.1");
        sim_.board().simShell().clearRecorded();
        QCOMPARE(Utils::initIPAddress(), 0);
        QVERIFY(ran("ifconfig eth0 10.1.2.3 netmask 255.255.0.0 up"));
        QVERIFY(ran("ip route add default via 10.1.0.1 dev eth0"));
        QCOMPARE(c->read_config_variant(ConfigItem::IPAddress).toString(), QString("10.1.2.3"));
    }

    void resetWithInvalidArgumentsRunsNothing()
    {
        sim_.board().simShell().clearRecorded();
        QCOMPARE(Utils::init_resteth("1.2.3.4`reboot`", "1.2.3.1", "255.255.255.0"), 255);
        QCOMPARE(Utils::init_resteth("1.2.3.4", "1.2.3.1", "255.255.0.255"), 255);
        QVERIFY(sim_.board().simShell().recorded().empty());
        QCOMPARE(Utils::init_resteth("1.2.3.4", "1.2.3.1", "255.255.255.0"), 0);
        QVERIFY(ran("ifconfig eth0 1.2.3.4 netmask 255.255.255.0 up"));
    }
};

QTEST_MAIN(TestUtils)
#include "test_utils.moc"
