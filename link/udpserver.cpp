#include "link/udpserver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "board/board.h"
#include "core/logMsg.h"
#include "link/net_socket.h"

UdpServer::UdpServer(bool broadcastReplies) : broadcast_(broadcastReplies), buf_(size_t(kDatagramSize) + 1) {}

UdpServer::~UdpServer()
{
    unInitialize();
}

int UdpServer::initialize(int port)
{
    unInitialize();
    int fd = bound_socket(SOCK_DGRAM, SO_BROADCAST, port);
    if (fd < 0)
        return 255;
    fd_ = fd;
    return 0;
}

int UdpServer::port() const
{
    if (fd_ < 0)
        return 0;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

void UdpServer::unInitialize()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

sockaddr_in UdpServer::broadcast_address(u16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    bool sim = board::installed() && board::current().simulated();
    a.sin_addr.s_addr = sim ? htonl(0x7FFFFFFF) : htonl(INADDR_BROADCAST);
    a.sin_port = htons(port);
    return a;
}

int UdpServer::recvData(int flag, int timeoutMs, int wakeFd)
{
    sockaddr_in from{};
    const ssize_t n = read_one(timeoutMs, wakeFd, from);
    if (n > 0)
        datagrams.push_back({std::vector<u8>(buf_.begin(), buf_.begin() + n), from, reply_address(flag == 0, from)});
    return n < 0 ? 255 : 0;
}

int UdpServer::receive(int waitMs, int wakeFd, sink& s)
{
    link_reply to;
    const ssize_t n = read_one(waitMs, wakeFd, to.peer);
    if (n > 0) {
        const uint64_t key = (uint64_t(to.peer.sin_addr.s_addr) << 16) | to.peer.sin_port;
        to.peer = reply_address(broadcast_, to.peer);
        s.take(key, to, buf_.data(), size_t(n));
    }
    return n < 0 ? 255 : 0;
}

sockaddr_in UdpServer::reply_address(bool broadcast, const sockaddr_in& from)
{
    return broadcast ? broadcast_address(ntohs(from.sin_port)) : from;
}

ssize_t UdpServer::read_one(int waitMs, int wakeFd, sockaddr_in& from)
{
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready = poll(p, 2, waitMs);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (p[1].revents & POLLIN)
        drain_wake_fd(wakeFd);
    if (ready == 0 || fd_ < 0 || !(p[0].revents & POLLIN))
        return 0;
    // One datagram a step: the next poll finds the next one, so no receive
    // is spent on learning that nothing is left.
    socklen_t len = sizeof from;
    ssize_t n =
        recvfrom(fd_, buf_.data(), size_t(kDatagramSize), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    writeLogMsg(LOG_ERROR, "recv error . . . ");
    return -1;
}

int UdpServer::sendData(const u8* data, int length, const sockaddr_in& address)
{
    if (!data || length < 0 || fd_ < 0)
        return 255;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ssize_t n = sendto(fd_, data, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT,
                           reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (n == length)
            return 0;
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            break;
        // The socket's buffer is full: give it a moment, once.
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, kSendWaitMs) <= 0)
            break;
    }
    if (debugOn())
        printf("send error UdpServer:%s\n", std::strerror(errno));
    return 255;
}
