#include "program_stops.h"

#include <algorithm>
#include <csignal>

#include <QDeadlineTimer>
#include <QThread>

#include <poll.h>
#include <sys/wait.h>

#include "sim_fixture.h"

ProgramStart foreground_start()
{
    ProgramStart how;
    how.prepare = [] {
        sigset_t none;
        sigemptyset(&none);
        return signal(SIGINT, SIG_DFL) != SIG_ERR && signal(SIGTERM, SIG_DFL) != SIG_ERR &&
               sigprocmask(SIG_SETMASK, &none, nullptr) == 0;
    };
    return how;
}

bool closed_within(int fd, int ms)
{
    QDeadlineTimer deadline(ms);
    char buf[4096];
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(std::max<qint64>(1, deadline.remainingTime()))) > 0 && read(fd, buf, sizeof buf) <= 0)
            return true;
    }
    return false;
}

int answering_link(int ms)
{
    const Bytes probe = request(kBox, 0x61, ram_rest(0, 2));
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const int fd = tcp_connect(5005, true);
        if (fd >= 0 && !ask(fd, probe).empty())
            return fd;
        if (fd >= 0)
            close(fd);
        QThread::msleep(50);
    }
    return -1;
}

bool ended_within(pid_t pid, int ms, int* status)
{
    for (QDeadlineTimer deadline(ms);; QThread::msleep(5)) {
        const pid_t ended = waitpid(pid, status, WNOHANG);
        if (ended == pid)
            return true;
        if (ended < 0 || deadline.hasExpired())
            return false;
    }
}

QString ending(int status)
{
    if (WIFEXITED(status))
        return QString("exited with status %1").arg(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return QString("was killed by signal %1 (%2)").arg(WTERMSIG(status)).arg(strsignal(WTERMSIG(status)));
    return QString("ended with wait status %1").arg(status);
}

bool exited_cleanly(int status)
{
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int recorded(const QString& root, const char* command)
{
    int n = 0;
    for (const char* file : {"/sim/commands.old", "/sim/commands"})
        for (const QByteArray& line : readHostFile(root + file).split('\n'))
            n += line == command;
    return n;
}
