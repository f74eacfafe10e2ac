#include "board/sim/vnc_listen.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "board/log.h"

namespace board::sim
{

namespace
{
constexpr int kBacklog = 50;

bool listensOnEveryAddress(int fd, int port)
{
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &value, &len) != 0 || !value)
        return false;
    len = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &value, &len) != 0 || value != SOCK_STREAM)
        return false;
    sockaddr_storage a{};
    len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return false;
    if (a.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
        return ntohs(v4->sin_port) == port && v4->sin_addr.s_addr == htonl(INADDR_ANY);
    }
    if (a.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
        return ntohs(v6->sin6_port) == port && IN6_IS_ADDR_UNSPECIFIED(&v6->sin6_addr);
    }
    return false;
}

bool parseAddress(const std::string& address, int port, sockaddr_storage* to, socklen_t* length)
{
    *to = sockaddr_storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(to);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(uint16_t(port));
        *length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(to);
    if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(uint16_t(port));
        *length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

// The descriptor listening on every address at port, or -1.
int findListener(int port)
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    const int own = ::dirfd(dir);
    int found = -1;
    while (const dirent* e = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == 0 && fd != own && listensOnEveryAddress(int(fd), port)) {
            found = int(fd);
            break;
        }
    }
    ::closedir(dir);
    return found;
}
} // namespace

bool isListenAddress(const std::string& address)
{
    sockaddr_storage to;
    socklen_t length;
    return parseAddress(address, 0, &to, &length);
}

bool isOwnAddress(const std::string& address)
{
    sockaddr_storage to;
    socklen_t length;
    if (!parseAddress(address, 0, &to, &length))
        return false;
    const int fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&to), length) == 0;
    ::close(fd);
    return bound;
}

std::string moveListener(int port, const std::string& address)
{
    sockaddr_storage to;
    socklen_t length = 0;
    if (!parseAddress(address, port, &to, &length))
        return "no IPv4 or IPv6 address";
    const int old = findListener(port);
    if (old < 0)
        return "the VNC server could not open it";
    const int flags = ::fcntl(old, F_GETFL);
    if (flags < 0)
        return zevlog::errnoText("fcntl");
    const int fresh = ::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fresh < 0)
        return zevlog::errnoText("socket");
    // The old socket holds the port on every address: it is closed by
    // putting the fresh one in its place, and only then can the port be
    // bound again. Its owner watches the descriptor number, which stays.
    if (::dup3(fresh, old, O_CLOEXEC) != old) {
        const std::string error = zevlog::errnoText("dup3");
        ::close(fresh);
        return error;
    }
    if (::close(fresh) != 0)
        return zevlog::errnoText("close");
    const int on = 1;
    if (::fcntl(old, F_SETFL, flags) != 0)
        return zevlog::errnoText("fcntl");
    if (::setsockopt(old, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return zevlog::errnoText("setsockopt");
    if (::bind(old, reinterpret_cast<const sockaddr*>(&to), length) != 0)
        return zevlog::errnoText("bind");
    if (::listen(old, kBacklog) != 0)
        return zevlog::errnoText("listen");
    return {};
}

} // namespace board::sim
