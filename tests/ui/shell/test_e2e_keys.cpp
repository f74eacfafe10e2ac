// The running program on the simulated board: the keys played on its keypad
// once it lit the keypad's LEDs, and those played while it starts, reach the
// home page.
#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
// The trace of the home page's OK: the page took the key.
const char kHomeTookOk[] = "ok button[LockWindow][Release]";

off_t file_size(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

bool append(const std::string& path, const char* text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const ssize_t length = ssize_t(strlen(text));
    const bool whole = ::write(fd, text, size_t(length)) == length;
    ::close(fd);
    return whole;
}

// Appends text to the key file the moment the LED file holds its first
// report: woken by the kernel, not by a poll, so the keys come as close
// behind the LEDs as another process can. False when the LEDs stay dark for
// ms.
bool play_as_leds_light(const std::string& sim, const char* text, int ms)
{
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, sim.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE) < 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    QDeadlineTimer deadline(ms);
    bool lit = false;
    while (!(lit = file_size(sim + "/keypad_leds") > 0) && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(deadline.remainingTime())) > 0) {
            alignas(inotify_event) char events[4096];
            (void)!::read(fd, events, sizeof events);
        }
    }
    ::close(fd);
    return lit && append(sim + "/keypad", text);
}
} // namespace

class TestE2eKeys : public QObject
{
    Q_OBJECT
    std::string program;
    pid_t pid = -1;

  private slots:
    void initTestCase()
    {
        program = qgetenv("ZEV_PROGRAM").toStdString();
        if (program.empty())
            QSKIP("ZEV_PROGRAM does not name the built program");
    }
    void cleanup() { stop_program(pid); }

    void keysReachTheHomePage_data()
    {
        QTest::addColumn<bool>("atTheLeds");
        // Once the links serve, seconds before the panel shows.
        QTest::newRow("played while the program starts") << false;
        QTest::newRow("played the moment the LEDs light") << true;
    }
    void keysReachTheHomePage()
    {
        QFETCH(bool, atTheLeds);
        QTemporaryDir root;
        const std::string sim = root.path().toStdString() + "/sim";
        QVERIFY(QDir().mkpath(QString::fromStdString(sim)));
        const QString output = root.path() + "/output";
        ProgramStart how;
        how.env = {"QT_LOGGING_RULES=zev.ui.debug=true"};
        pid = start_program(program, root.path().toStdString(), output.toStdString(), how);
        QVERIFY(pid > 0);
        if (atTheLeds) {
            QVERIFY(play_as_leds_light(sim, "OK\n", 20000));
        } else {
            const int link = tcp_connect_within(5005, 15000);
            QVERIFY(link >= 0);
            ::close(link);
            QVERIFY(append(sim + "/keypad", "OK\n"));
        }
        QVERIFY(QTest::qWaitFor([&] { return readHostFile(output).contains(kHomeTookOk); }, 15000));
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eKeys)

#include "test_e2e_keys.moc"
