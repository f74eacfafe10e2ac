#include "link/net_socket.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/logging.h"

std::string with_errno(const char* what)
{
    return std::string(what) + std::strerror(errno);
}

void say_unserved(int type, int port)
{
    // On the console too: a port held by another program (often a second
    // instance of this one) must not go unnoticed.
    const int reason = errno;
    std::fprintf(stderr, "zevQ64N: cannot serve %s port %d: %s\n", type == SOCK_STREAM ? "TCP" : "UDP", port,
                 std::strerror(reason));
    errno = reason;
}

int bound_socket(int type, int option, int port)
{
    int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        say_unserved(type, port);
        writeLogMsg(LOG_ERROR, with_errno("socket error:"));
        return -1;
    }
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, option, &on, sizeof on) != 0)
        writeLogMsg(LOG_ERROR, with_errno("setsockopt error:"));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(u16(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        say_unserved(type, port);
        writeLogMsg(LOG_ERROR, with_errno("bind error:"));
        close(fd);
        return -1;
    }
    return fd;
}

void drain_wake_fd(int fd)
{
    uint64_t count;
    // Non-blocking: EAGAIN just means nothing was pushed.
    if (fd >= 0 && read(fd, &count, sizeof count) < 0 && errno != EAGAIN)
        zevlog::warnErrno(lcLink(), "link wake: drain");
}
