// Settings: factory defaults, round trip through the INI file, globals.
#include <QSettings>
#include <QtTest>

#include <algorithm>

#include "core/config_engine.h"
#include "core/ini_file.h"
#include "core/utils.h"
#include "read_faults.h"
#include "sim_fixture.h"

namespace
{
// A user's settings, as a hand might have left them.
const QByteArray kUserFile = "[config]\nIPAddress=10.1.1.5\nTcpPort=6000\nMAC=02:11:22:33:44:55\nBarcode=SN-0042\n";
} // namespace

class TestConfigEngine : public QObject
{
    Q_OBJECT
    SimFixture sim_;

  private slots:
    void defaultsOnFirstStart()
    {
        ConfigEngine* c = ConfigEngine::pInstance();
        QCOMPARE(c->read_config_variant(ConfigItem::TcpPort).toInt(), 5005);
        QCOMPARE(c->read_config_variant(ConfigItem::UdpPort).toInt(), 5008);
        QCOMPARE(c->read_config_variant(ConfigItem::IPAddress).toString(), QString("192.168.0.199"));
        QCOMPARE(c->read_config_variant(ConfigItem::SubNetMask).toString(), QString("255.255.255.0"));
        QCOMPARE(c->read_config_variant(ConfigItem::GateWay).toString(), QString("192.168.0.1"));
        QCOMPARE(c->read_config_variant(ConfigItem::Barcode).toString(), QString(" "));
        QCOMPARE(c->read_config_variant(ConfigItem::ZevLCDLang).toUInt(), 0x1001Fu);
        QCOMPARE(c->read_config_variant(ConfigItem::usbupgradedir).toString(), QString("ZEV-Q48 Rev.c"));
        QVERIFY(QFile::exists(sim_.hostQ("/data/configs/tcpip.ini")));
        QCOMPARE(int(ConfigItem::ZevLCDLang), 17);
        QCOMPARE(QString(ConfigEngine::keyName(ConfigItem::Nubocloudcontrollername)),
                 QString("Nubocloudcontrollername"));
        // The device id is 32 characters.
        QCOMPARE(int(qstrlen(g_pid)), 32);
    }

    void startUpAppliesTheWiredSettings()
    {
        auto rec = sim_.board().simShell().recorded();
        QVERIFY(std::find(rec.begin(), rec.end(), "ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up") != rec.end());
        QVERIFY(std::find(rec.begin(), rec.end(), "route add default gw 192.168.0.1 metric 100") != rec.end());
        QCOMPARE(Utils::net_identity().ip, QString("192.168.0.199"));
        QCOMPARE(g_port.load(), 5005);
    }

    void writeRoundTripsThroughTheFile()
    {
        ConfigEngine* c = ConfigEngine::pInstance();
        c->write_config_variant(ConfigItem::IPAddress, QString("10.1.2.3"));
        c->write_config_variant(ConfigItem::TcpPort, 6000);
        QSettings s(sim_.hostQ("/data/configs/tcpip.ini"), QSettings::IniFormat);
        QCOMPARE(s.value("config/IPAddress").toString(), QString("10.1.2.3"));
        QCOMPARE(s.value("config/TcpPort").toInt(), 6000);
        // A restart reads back what was written, with numbers kept as numbers.
        c->load();
        QCOMPARE(c->read_config_variant(ConfigItem::IPAddress).toString(), QString("10.1.2.3"));
        QCOMPARE(c->read_config_variant(ConfigItem::TcpPort).type(), QVariant::LongLong);
        QCOMPARE(c->read_config_variant(ConfigItem::TcpPort).toInt(), 6000);
        Utils::getIPAddress();
        QCOMPARE(g_port.load(), 6000);
        QCOMPARE(g_int_tcp_port.load(), 6000);
    }

    // A stored value the set-IP command would refuse takes its factory
    // default, which the file then keeps, with a warning.
    void unusableStoredValuesTakeTheirDefaults_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("taken");
        const int ip = ConfigItem::IPAddress, mask = ConfigItem::SubNetMask, gw = ConfigItem::GateWay;
        QTest::newRow("broadcast of its subnet") << ip << "10.0.0.255"
                                                 << "192.168.0.199";
        QTest::newRow("octal-looking address") << ip << "010.0.0.5"
                                               << "192.168.0.199";
        QTest::newRow("mask with a gap") << mask << "255.0.255.0"
                                         << "255.255.255.0";
        QTest::newRow("gateway of three fields") << gw << "10.0.0"
                                                 << "192.168.0.1";
    }
    void unusableStoredValuesTakeTheirDefaults()
    {
        QFETCH(int, item);
        QFETCH(QString, stored);
        QFETCH(QString, taken);
        ConfigEngine* c = ConfigEngine::pInstance();
        QVERIFY(
            c->write_config_variants({{ConfigItem::IPAddress, "10.0.0.9"}, {ConfigItem::SubNetMask, "255.255.255.0"}}));
        const QString key = QString("config/") + ConfigEngine::keyName(ConfigItem::ConfigName(item));
        QSettings(sim_.hostQ(ConfigEngine::kFile), QSettings::IniFormat).setValue(key, stored);
        // The warning names the file as the user finds it, under the data root.
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QRegularExpression::escape(sim_.hostQ(ConfigEngine::kFile))));
        c->load();
        QCOMPARE(c->read_config_variant(ConfigItem::ConfigName(item)).toString(), taken);
        QCOMPARE(QSettings(sim_.hostQ(ConfigEngine::kFile), QSettings::IniFormat).value(key).toString(), taken);
    }

    // What the box keeps of a settings file damaged in each way, what
    // becomes of the file, and the one line that says so.
    void damagedFileKeepsWhatReads_data()
    {
        QTest::addColumn<QByteArray>("file");
        // "reads fail", "link out" (the file as it was, factory values), or
        // none (the user's values, the file written again).
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("warning");
        const QByteArray items = kUserFile.mid(kUserFile.indexOf('\n') + 1);
        const QString mended = "has a group line without a bracket, taken as that group: 4 of the 18 settings kept, "
                               "the others at factory values; the file is written again";
        const QString moved = "holds the settings outside group \\[config\\]: 4 of the 18 settings kept and moved into "
                              "\\[config\\]";
        QTest::newRow("group line without its closing bracket") << "[config\n" + items << "" << mended;
        QTest::newRow("group line without its opening bracket") << "config]\n" + items << "" << mended;
        QTest::newRow("no group line") << items << "" << moved;
        QTest::newRow("group line without its bracket among the settings")
            << "[config]\nIPAddress=10.1.1.5\n[hall B\n" + items.mid(items.indexOf('\n') + 1) << ""
            << "taken as that group, " + moved;
        QTest::newRow("a line that is no setting") << kUserFile + "\x01\x02 noise\n"
                                                   << QString() << "has a line that does not read: 4 of";
        QTest::newRow("a 70,000-byte line first") << "[config]\nBarcode=" + QByteArray(70000, 'x') + "\n" + items << ""
                                                  << "has a line that does not read";
        QTest::newRow("more than is ever read") << kUserFile + QByteArray(ini_file::kMaxBytes, ';') << ""
                                                << "is over 1024 KiB";
        QTest::newRow("reads fail") << kUserFile << "reads fail"
                                    << "cannot be read: factory settings for this start, the file is kept as it is";
        QTest::newRow("link out of the data root")
            << kUserFile << "link out"
            << "leads out of the data root: factory settings for this start, the file is kept as it is";
    }
    void damagedFileKeepsWhatReads()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, fault);
        QFETCH(QString, warning);
        const bool kept = fault.isEmpty();
        const QString path = sim_.hostQ(ConfigEngine::kFile);
        ConfigEngine* c = ConfigEngine::pInstance();
        QTemporaryDir outside;
        QFile::remove(path);
        QVERIFY(writeHostFile(fault == "link out" ? outside.filePath("tcpip.ini") : path, file));
        QVERIFY(fault != "link out" || QFile::link(outside.filePath("tcpip.ini"), path));
        fail_reads_of(fault == "reads fail" ? sim_.host(ConfigEngine::kFile) : "");
        // Named once, under the data root, with what the box did.
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^" + QRegularExpression::escape(path) + " .*" + warning));
        c->load();
        const bool stored = c->write_config_variant(ConfigItem::Nubocloudcontrollername, QString("hall B"));
        fail_reads_of("");
        QCOMPARE(c->read_config_variant(ConfigItem::IPAddress).toString(),
                 QString(kept ? "10.1.1.5" : "192.168.0.199"));
        QCOMPARE(c->read_config_variant(ConfigItem::TcpPort).toInt(), kept ? 6000 : 5005);
        QCOMPARE(c->read_config_variant(ConfigItem::MAC).toString(),
                 QString(kept ? "02:11:22:33:44:55" : "00:0E:C6:5A:45:56"));
        QCOMPARE(readHostFile(path) == file, !kept);
        // A store while the file cannot be read would put the factory values
        // over the user's: it is refused.
        QCOMPARE(stored, kept);
        if (kept) {
            QSettings s(path, QSettings::IniFormat);
            QCOMPARE(s.status(), QSettings::NoError);
            QCOMPARE(s.value("config/MAC").toString(), QString("02:11:22:33:44:55"));
            QCOMPARE(s.value("config/Nubocloudcontrollername").toString(), QString("hall B"));
        }
        QFile::remove(path);
        c->load();
    }

    // A value the file could not give back within what is read of it is
    // refused, and the file stays as it was.
    void valueTooLongToReadBackIsRefused()
    {
        ConfigEngine* c = ConfigEngine::pInstance();
        QVERIFY(c->write_config_variant(ConfigItem::Barcode, QString("SN-1")));
        const QByteArray file = readHostFile(sim_.hostQ(ConfigEngine::kFile));
        QVERIFY(!c->write_config_variant(ConfigItem::Barcode, QString(20000, QChar(0xFF))));
        QCOMPARE(readHostFile(sim_.hostQ(ConfigEngine::kFile)), file);
        QCOMPARE(c->read_config_variant(ConfigItem::Barcode).toString(), QString("SN-1"));
        QVERIFY(c->write_config_variant(ConfigItem::Barcode, QString(" ")));
    }

    void outOfRangeItemsAreRefused()
    {
        ConfigEngine* c = ConfigEngine::pInstance();
        QVERIFY(!c->read_config_variant(ConfigItem::ConfigName(18)).isValid());
        const QByteArray file = readHostFile(sim_.hostQ("/data/configs/tcpip.ini"));
        QVariantList items;
        for (int i = 0; i < 18; ++i)
            items << c->read_config_variant(ConfigItem::ConfigName(i));
        c->write_config_variant(ConfigItem::ConfigName(-1), 1);
        c->write_config_variant(ConfigItem::ConfigName(18), 1);
        // Neither the file nor any item changed.
        QCOMPARE(readHostFile(sim_.hostQ("/data/configs/tcpip.ini")), file);
        for (int i = 0; i < 18; ++i)
            QCOMPARE(c->read_config_variant(ConfigItem::ConfigName(i)), items[i]);
    }
};

QTEST_GUILESS_MAIN(TestConfigEngine)
#include "test_config_engine.moc"
