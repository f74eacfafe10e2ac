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
#include "core/logging.h"

UdpServer::UdpServer(bool broadcastReplies)
    : broadcast_(broadcastReplies), bufs_(new u8[size_t(kBatch) * (kDatagramSize + 1)])
{
    for (int i = 0; i < kBatch; ++i) {
        iov_[i] = {buffer(i), size_t(kDatagramSize)};
        msgs_[i].msg_hdr.msg_iov = &iov_[i];
        msgs_[i].msg_hdr.msg_iovlen = 1;
        msgs_[i].msg_hdr.msg_name = &from_[i];
    }
}

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
    const int n = read(timeoutMs, wakeFd, 1);
    if (n > 0 && msgs_[0].msg_len > 0) {
        const u8* data = buffer(0);
        datagrams.push_back(
            {std::vector<u8>(data, data + msgs_[0].msg_len), from_[0], reply_address(flag == 0, from_[0])});
    }
    return n < 0 ? 255 : 0;
}

int UdpServer::receive(int waitMs, int wakeFd, sink& s)
{
    const int n = read(waitMs, wakeFd, kBatch);
    for (int i = 0; i < n; ++i) {
        if (msgs_[i].msg_len == 0)
            continue;
        const sockaddr_in& from = from_[i];
        link_reply to;
        to.peer = reply_address(broadcast_, from);
        s.take((uint64_t(from.sin_addr.s_addr) << 16) | from.sin_port, to, buffer(i), msgs_[i].msg_len);
    }
    return n < 0 ? 255 : 0;
}

sockaddr_in UdpServer::reply_address(bool broadcast, const sockaddr_in& from)
{
    return broadcast ? broadcast_address(ntohs(from.sin_port)) : from;
}

int UdpServer::read(int waitMs, int wakeFd, int most)
{
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready = poll(p, 2, waitMs);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (p[1].revents & POLLIN)
        drain_wake_fd(wakeFd);
    if (ready == 0 || fd_ < 0 || !(p[0].revents & POLLIN))
        return 0;
    // One call takes what has come: no receive is spent on learning that
    // nothing is left.
    for (int i = 0; i < most; ++i)
        msgs_[i].msg_hdr.msg_namelen = sizeof from_[i];
    const int n = recvmmsg(fd_, msgs_, unsigned(most), MSG_DONTWAIT, nullptr);
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
        zevlog::debug(lcLink(), "send error UdpServer:%s\n", std::strerror(errno));
    return 255;
}
