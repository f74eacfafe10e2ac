// The fuzzers talk only to the program they start. Where no namespace can be
// had and another program holds one of the program's ports (a box, or a
// desktop's VNC server), they stop at once with one line, before starting
// theirs, and send that program nothing; where one can be had, they fuzz
// their own program in it and never reach the other.
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

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

    void talkOnlyToTheirOwnProgram_data()
    {
        QTest::addColumn<QString>("fuzzer");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("namespaces");
        for (const char* fuzzer : {"fuzz-links", "fuzz-vnc"}) {
            const auto row = [&](const char* beside) -> QTestData& {
                return QTest::addRow("%s, %s", fuzzer, beside) << QString(fuzzer);
            };
            row("no namespace, a VNC server on 5900") << int(SOCK_STREAM) << kVncPort << false;
            row("no namespace, a box on TCP 5005") << int(SOCK_STREAM) << 5005 << false;
            row("no namespace, a box on UDP 10005") << int(SOCK_DGRAM) << 10005 << false;
            // Beside the port each fuzzer works on.
            row("own namespace beside another program on its port")
                << int(SOCK_STREAM) << (QByteArray(fuzzer) == "fuzz-vnc" ? kVncPort : 5005) << true;
        }
    }
    void talkOnlyToTheirOwnProgram()
    {
        QFETCH(QString, fuzzer);
        QFETCH(int, type);
        QFETCH(int, port);
        QFETCH(bool, namespaces);
        if (namespaces && !g_own)
            QSKIP("no network namespace here");
        // The other program: a listener, bound as a box binds it (past the
        // closing connections of earlier tests), or a UDP socket.
        const int other = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const sockaddr_in at = loopback(port);
        const int on = 1;
        QVERIFY(other >= 0 &&
                (type == SOCK_DGRAM || setsockopt(other, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0) &&
                bind(other, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0 &&
                (type == SOCK_DGRAM || listen(other, 16) == 0));
        QTemporaryDir tmp;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        if (namespaces)
            env.remove("ZEV_TEST_NO_NAMESPACES");
        else
            env.insert("ZEV_TEST_NO_NAMESPACES", "1");
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
        char byte;
        const int reached = type == SOCK_STREAM ? accept(other, nullptr, nullptr) : int(recv(other, &byte, 1, 0));
        const int error = errno;
        if (type == SOCK_STREAM && reached >= 0)
            close(reached);
        close(other);
        QVERIFY2(reached < 0 && error == EAGAIN, "it reached the other program");
        QVERIFY2(ended, qPrintable(out));
        if (namespaces) {
            QVERIFY2(p.exitCode() == 0, qPrintable(out));
            return;
        }
        const QRegularExpression line("^" + fuzzer + ": port " + QString::number(port) +
                                      " is in use and no network namespace can be had here; [^\n]*\n$");
        QVERIFY2(p.exitCode() == 1 && line.match(out).hasMatch(), qPrintable(out));
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
