// A user's box on the fixed ports of a machine that allows no namespaces:
// every test that uses those ports or starts the program stops at once with
// one line, or runs without touching that box's data root. The box here runs
// in a network namespace of this test's own, which the tests inherit.
#include <QtTest>

#include <QProcess>
#include <QRegularExpression>

#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
bool g_own = false;
}

class TestPortGuard : public QObject
{
    Q_OBJECT
    QTemporaryDir root_;
    pid_t program_ = -1;

    // Its files, but the FPGA's flash: the running-time record goes there
    // every minute.
    std::map<QString, QByteArray> files() const
    {
        auto now = rootFiles(root_.path());
        now.erase("sim/fpga_flash.bin");
        return now;
    }

  private slots:
    void initTestCase()
    {
        const QByteArray program = qgetenv("ZEV_PROGRAM");
        if (program.isEmpty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        if (!g_own)
            QSKIP("no network namespace: the box would be on the machine's ports");
        program_ = start_serving_program(program.toStdString(), root_.path().toStdString());
        QVERIFY(program_ > 0);
        // Its files are all written once the access point is up, after the
        // panel showed.
        QTRY_VERIFY_WITH_TIMEOUT(readHostFile(root_.filePath("sim/commands")).contains("\nifconfig wlan0 1"), 30000);
    }
    void cleanupTestCase() { stop_program(program_); }

    void stopsOrLeavesTheBoxAlone_data()
    {
        QTest::addColumn<QString>("test");
        for (const QString& test : qEnvironmentVariable("ZEV_PORT_TESTS").split(':', Qt::SkipEmptyParts))
            QTest::newRow(qPrintable(QFileInfo(test).fileName())) << test;
    }
    void stopsOrLeavesTheBoxAlone()
    {
        QFETCH(QString, test);
        const auto before = files();
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZEV_TEST_NO_NAMESPACES", "1");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(test, QStringList());
        QVERIFY(p.waitForFinished(240000));
        const QString out = QString::fromLocal8Bit(p.readAll());
        static const QRegularExpression stop(
            "^port \\d+ is in use; stop the running zevQ64N or run the tests as root\n$");
        if (p.exitCode() != 0 && stop.match(out).hasMatch())
            return;
        const auto after = files();
        for (const auto& f : after)
            QVERIFY2(before.count(f.first) && before.at(f.first) == f.second, qPrintable(f.first + " written"));
        QCOMPARE(after.size(), before.size());
    }
};

int main(int argc, char** argv)
{
    // Before any thread exists: the namespace belongs to the calling thread.
    g_own = own_network();
    QCoreApplication app(argc, argv);
    TestPortGuard t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_port_guard.moc"
