// Where the machine allows no namespaces, a user's box on the fixed ports, or
// another VNC server on the VNC screen's port: every test that uses those
// ports or starts the program stops at once with one line, or runs without
// touching that box's data root, and none connects to the other server. The
// box and the server here run in a network namespace of this test's own,
// which the tests inherit.
#include <QtTest>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>

#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
bool g_own = false;

// A test program's output and exit code, run as on a machine without
// namespaces.
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
    // The box, started at the first call; true once its files are all
    // written, after the access point is up.
    bool boxServes()
    {
        if (program_ < 0)
            program_ = start_serving_program(qgetenv("ZEV_PROGRAM").toStdString(), root_.path().toStdString());
        return program_ > 0 &&
               QTest::qWaitFor(
                   [&] { return readHostFile(root_.filePath("sim/commands")).contains("\nifconfig wlan0 1"); }, 30000);
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
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const sockaddr_in at = loopback(kVncPort);
        const int on = 1;
        QVERIFY(server >= 0 && setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                bind(server, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0 && listen(server, 16) == 0);
        QString out;
        const int code = runWithoutNamespaces(test, &out);
        const int reached = accept(server, nullptr, nullptr);
        const int error = errno;
        if (reached >= 0)
            close(reached);
        close(server);
        QVERIFY2(reached < 0 && error == EAGAIN, "it connected to the other VNC server");
        QVERIFY2(stopped(code, out, QString::number(kVncPort)), qPrintable(out.right(2000)));
    }

    void stopsOrLeavesTheBoxAlone_data() { tests(); }
    void stopsOrLeavesTheBoxAlone()
    {
        QFETCH(QString, test);
        QVERIFY(boxServes());
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
