// Where the machine allows no namespaces, a user's box on the fixed ports, or
// another VNC server on 5900: every test that uses those ports or starts the
// program stops at once with one line (or shows as skipped), or runs without
// touching that box's data root, and none connects to the other server. Both
// run in a network namespace of this test's own, which the tests inherit.
#include <QtTest>

#include <sys/socket.h>

#include <QProcess>
#include <QRegularExpression>

#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
bool g_own = false;

// A test program's output and exit code, run as where no namespace can be had.
int runWithoutNamespaces(const QString& test, QString* out)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZEV_TEST_NO_NAMESPACES", "1");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(test, QStringList());
    if (!p.waitForFinished(240000))
        return -1;
    *out = QString::fromLocal8Bit(p.readAll());
    return p.exitCode();
}

// The guard's line, naming port; or a whole program skipped.
bool stopped(int code, const QString& out, const QString& port)
{
    const QRegularExpression line("^port " + port + " is in use; stop [^\n]* or run the tests as root\n$");
    const QRegularExpression skipped("^SKIP   : \\w+::initTestCase\\(\\) ", QRegularExpression::MultilineOption);
    return (code != 0 && line.match(out).hasMatch()) || (code == 0 && skipped.match(out).hasMatch());
}
} // namespace

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
    static void tests()
    {
        QTest::addColumn<QString>("test");
        for (const QString& test : qEnvironmentVariable("ZEV_PORT_TESTS").split(':', Qt::SkipEmptyParts))
            QTest::newRow(qPrintable(QFileInfo(test).fileName())) << test;
    }

  private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZEV_PROGRAM"))
            QSKIP("ZEV_PROGRAM does not name the built program");
        if (!g_own)
            QSKIP("no network namespace: the box would be on the machine's ports");
    }
    void cleanupTestCase() { stop_program(program_); }

    // Before the box starts: the PC ports are free.
    void stopsBesideAnotherVncServer_data() { tests(); }
    void stopsBesideAnotherVncServer()
    {
        QFETCH(QString, test);
        const int server = other_program(SOCK_STREAM, kVncPort);
        QVERIFY(server >= 0);
        QString out;
        const int code = runWithoutNamespaces(test, &out);
        QVERIFY2(!reached(server, SOCK_STREAM), "it connected to the other VNC server");
        QVERIFY2(stopped(code, out, "5900"), qPrintable(out.right(2000)));
    }

    void stopsOrLeavesTheBoxAlone_data() { tests(); }
    void stopsOrLeavesTheBoxAlone()
    {
        QFETCH(QString, test);
        if (program_ < 0)
            program_ = start_serving_program(qgetenv("ZEV_PROGRAM").toStdString(), root_.path().toStdString());
        QVERIFY(program_ > 0);
        // Its files are all written once the access point is up.
        QTRY_VERIFY_WITH_TIMEOUT(readHostFile(root_.filePath("sim/commands")).contains("\nifconfig wlan0 1"), 30000);
        const auto before = files();
        QString out;
        const int code = runWithoutNamespaces(test, &out);
        if (stopped(code, out, "\\d+"))
            return;
        QVERIFY2(code != -1, "still running after 240 s");
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
