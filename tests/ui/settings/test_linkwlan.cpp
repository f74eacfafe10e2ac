// The wired-network page: what reaches the settings file and the shell.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>

#include "core/config_engine.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ui/settings/linkwlan.h"
#include "page_harness.h"
#include "ui/shell/pages.h"

class TestLinkwlan : public QObject
{
    Q_OBJECT
    PageHarness harness;

    size_t commands() { return harness.sim().board().simShell().recorded().size(); }
    QString stored(ConfigItem::ConfigName item) { return ConfigEngine::p_config->read_config_variant(item).toString(); }

  private slots:
    void init()
    {
        PageHarness::reset();
        Utils::set_net_address("192.168.0.199", "255.255.255.0", "192.168.0.1");
    }

    void octets_data()
    {
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<bool>("mask");
        QTest::addColumn<QString>("want"); // empty: refused
        QTest::newRow("plain") << QStringList{"10", "0", "0", "7"} << false << "10.0.0.7";
        QTest::newRow("leading zeros") << QStringList{"010", "00", "0", "7"} << false << "10.0.0.7";
        QTest::newRow("above 255") << QStringList{"300", "0", "0", "7"} << false << "";
        QTest::newRow("empty part") << QStringList{"10", "", "0", "7"} << false << "";
        QTest::newRow("star") << QStringList{"10", "*", "0", "7"} << false << "";
        QTest::newRow("sign") << QStringList{"+1", "0", "0", "7"} << false << "";
        QTest::newRow("mask") << QStringList{"255", "255", "240", "0"} << true << "255.255.240.0";
        QTest::newRow("mask with a hole") << QStringList{"255", "0", "255", "0"} << true << "";
    }
    void octets()
    {
        QFETCH(QStringList, parts);
        QFETCH(bool, mask);
        QFETCH(QString, want);
        QString out;
        QCOMPARE(linkwlan_octets(parts, mask, &out), !want.isEmpty());
        QCOMPARE(out, want);
    }

    void unchangedWritesNothing()
    {
        linkwlan p(nullptr);
        const size_t before = commands();
        p.on_Button_net_apply_clicked();
        QCOMPARE(commands(), before);
    }

    void gatewayChangeStoresAllThreeAndSetsUp()
    {
        linkwlan p(nullptr);
        p.findChild<QLineEdit*>("lineEditGate4")->setText("254");
        const size_t before = commands();
        p.on_Button_net_apply_clicked();
        QCOMPARE(stored(ConfigItem::GateWay), QString("192.168.0.254"));
        QCOMPARE(stored(ConfigItem::IPAddress), QString("192.168.0.199"));
        const auto run = harness.sim().board().simShell().recorded();
        QVERIFY(run.size() > before + 1);
        QCOMPARE(QString::fromStdString(run[before]), QString("sync"));
    }

    void invalidEntryIsRefusedAndSaid_data()
    {
        QTest::addColumn<QString>("first");
        QTest::newRow("above 255") << "300";
        QTest::newRow("in 0.0.0.0/8") << "0";
        QTest::newRow("multicast") << "224";
    }
    void invalidEntryIsRefusedAndSaid()
    {
        QFETCH(QString, first);
        linkwlan p(nullptr);
        p.findChild<QLineEdit*>("lineEditIp1")->setText(first);
        const size_t before = commands();
        p.on_Button_net_apply_clicked();
        QCOMPARE(commands(), before);
        QCOMPARE(stored(ConfigItem::IPAddress), QString("192.168.0.199"));
        QVERIFY(!p.findChild<QLabel*>("label_invalid")->text().isEmpty());
    }

    void focusWrapsAroundTheButtons()
    {
        linkwlan p(nullptr);
        release_key(&p, 'S');
        QVERIFY(p.findChild<QWidget*>("Button_cancle")->styleSheet().contains("255,171,84"));
        release_key(&p, 'R');
        QVERIFY(p.findChild<QWidget*>("lineEditIp1")->styleSheet().contains("255,171,84"));
    }
};

QTEST_MAIN(TestLinkwlan)
#include "test_linkwlan.moc"
