#include "board/sim/listen_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

namespace board::sim
{

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

} // namespace board::sim
