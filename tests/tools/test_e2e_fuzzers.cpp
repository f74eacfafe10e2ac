// The fuzzers talk only to the program they start. Where no namespace can be
// had and another program holds one of the program's ports (a box, or a
// desktop's VNC server), they stop at once with one line, before starting
// theirs, and send that program nothing; where one can be had, they fuzz
// their own program in it and never reach the other.
#include <QtTest>

#include <csignal>
#include <sys/socket.h>

#include <QProcess>
#include <QRegularExpression>

#include "support/net_helpers.h"

namespace
{
bool g_own = false;

// Kills a process and, first, its children: a fuzzer killed alone would
// leave its program running.
void killWithChildren(pid_t pid)
{
    QFile children(QString("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly))
        for (const QByteArray& child : children.readAll().simplified().split(' '))
            if (child.toInt() > 0)
                killWithChildren(child.toInt());
    kill(pid, SIGKILL);
}
} // namespace

class TestE2eFuzzers : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZEV_PROGRAM"))
            QSKIP("ZEV_PROGRAM does not name the built program");
        if (QStandardPaths::findExecutable("python3").isEmpty())
            QSKIP("no python3 to run the fuzzers");
    }

    // Both fuzzers check the ports and make the namespace through one module:
    // each fuzzer once each way, each kind of port once.
    void talkOnlyToTheirOwnProgram_data()
    {
        QTest::addColumn<QString>("fuzzer");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("namespaces");
        QTest::newRow("fuzz-links, no namespace, a box on UDP") << "fuzz-links" << int(SOCK_DGRAM) << 10005 << false;
        QTest::newRow("fuzz-vnc, no namespace, a VNC server") << "fuzz-vnc" << int(SOCK_STREAM) << 5900 << false;
        QTest::newRow("fuzz-links, own namespace, a box") << "fuzz-links" << int(SOCK_STREAM) << 5005 << true;
        QTest::newRow("fuzz-vnc, own namespace, a VNC server") << "fuzz-vnc" << int(SOCK_STREAM) << 5900 << true;
    }
    void talkOnlyToTheirOwnProgram()
    {
        QFETCH(QString, fuzzer);
        QFETCH(int, type);
        QFETCH(int, port);
        QFETCH(bool, namespaces);
        if (namespaces && !g_own)
            QSKIP("no network namespace here");
        const int other = other_program(type, port);
        QVERIFY(other >= 0);
        QTemporaryDir tmp;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        env.insert("ZEV_TEST_NO_NAMESPACES", namespaces ? "0" : "1");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("python3", {QString(ZEV_SOURCE_DIR "/tools/") + fuzzer + ".py", qEnvironmentVariable("ZEV_PROGRAM"),
                            "--minutes", "0.05", "--seed", "1"});
        const bool ended = p.waitForFinished(namespaces ? 120000 : 20000);
        if (!ended) {
            killWithChildren(pid_t(p.processId()));
            p.waitForFinished();
        }
        const QString out = QString::fromLocal8Bit(p.readAll());
        QVERIFY2(!reached(other, type), "it reached the other program");
        QVERIFY2(ended, qPrintable(out));
        const QRegularExpression line("^" + fuzzer + ": port " + QString::number(port) +
                                      " is in use and no network namespace can be had here; [^\n]*\n$");
        QVERIFY2(namespaces ? p.exitCode() == 0 : p.exitCode() == 1 && line.match(out).hasMatch(), qPrintable(out));
    }
};

int main(int argc, char** argv)
{
    // Before any thread exists: the namespace belongs to the calling thread.
    if (!network_for_fixed_ports(&g_own))
        return 1;
    QCoreApplication app(argc, argv);
    TestE2eFuzzers t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_e2e_fuzzers.moc"
