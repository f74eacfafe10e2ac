#include "link/tcpserver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/logMsg.h"
#include "link/net_socket.h"
#include "core/logging.h"

TcpServer::TcpServer() : buf_(size_t(kPieceSize)) {}

TcpServer::~TcpServer()
{
    unInitialize();
}

int TcpServer::initialize(int port)
{
    unInitialize();
    int fd = bound_socket(SOCK_STREAM, SO_REUSEADDR, port);
    if (fd < 0)
        return 255;
    if (listen(fd, kBacklog) != 0) {
        say_unserved(SOCK_STREAM, port);
        writeLogMsg(LOG_ERROR, with_errno("listen error:"));
        close(fd);
        return 255;
    }
    listen_fd_ = fd;
    return 0;
}

int TcpServer::port() const
{
    if (listen_fd_ < 0)
        return 0;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

void TcpServer::unInitialize()
{
    if (listen_fd_ >= 0)
        close(listen_fd_);
    listen_fd_ = -1;
    while (!clients_.empty())
        drop_client(clients_.size() - 1);
}

void TcpServer::drop_client(size_t index)
{
    close(clients_[index].fd);
    dropped_.push_back(clients_[index].id);
    clients_.erase(clients_.begin() + long(index));
}

void TcpServer::accept_clients()
{
    for (;;) {
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && debugOn())
                zevlog::debug(lcLink(), "accept error:%s\n", std::strerror(errno));
            return;
        }
        int on = 1;
        if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
            setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS) != 0 ||
            setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS) != 0 ||
            setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount) != 0)
            writeLogMsg(LOG_ERROR, with_errno("setsockopt error:"));
        if (clients_.size() >= kMaxClients) {
            size_t oldest = 0;
            for (size_t i = 1; i < clients_.size(); ++i)
                if (clients_[i].heard < clients_[oldest].heard)
                    oldest = i;
            drop_client(oldest);
        }
        clients_.push_back({fd, next_id_++, std::chrono::steady_clock::now()});
    }
}

namespace
{
// Keeps what a polling step reads for the owner to take off.
class piece_list : public port_transport::sink
{
  public:
    piece_list(TcpServer& server, const std::function<bool(uint64_t)>& paused) : server_(server), paused_(paused) {}
    void take(uint64_t key, const link_reply&, const u8* data, size_t length) override
    {
        server_.pieces.push_back({key, std::vector<u8>(data, data + length)});
    }
    void left(uint64_t key) override { server_.closed.push_back(key); }
    bool paused(uint64_t key) const override { return paused_ && paused_(key); }

  private:
    TcpServer& server_;
    const std::function<bool(uint64_t)>& paused_;
};
} // namespace

int TcpServer::recvData(int timeoutMs, int wakeFd, const std::function<bool(uint64_t)>& paused)
{
    piece_list list(*this, paused);
    return receive(timeoutMs, wakeFd, list);
}

ssize_t TcpServer::read_client(size_t index, sink& s)
{
    const ssize_t n = recv(clients_[index].fd, buf_.data(), buf_.size(), MSG_DONTWAIT);
    if (n > 0) {
        const uint64_t id = clients_[index].id;
        clients_[index].heard = std::chrono::steady_clock::now();
        last_ = id;
        link_reply to;
        to.conn = id;
        s.take(id, to, buf_.data(), size_t(n));
    }
    return n;
}

bool TcpServer::read_last(sink& s)
{
    if (s.paused(last_))
        return false;
    for (size_t i = 0; i < clients_.size(); ++i)
        if (clients_[i].id == last_)
            return read_client(i, s) > 0;
    return false;
}

int TcpServer::receive(int waitMs, int wakeFd, sink& s)
{
    // The client heard last has most often sent again by now (the PC sends
    // its next block as soon as the last one is answered): it is read
    // without a poll. Only every other step may do so, so other clients,
    // new connections and the wake wait at most one step.
    last_polled_ = !(last_polled_ && last_ && read_last(s));
    if (!last_polled_) {
        tell_left(s);
        return 0;
    }
    poll_.clear();
    polled_.clear();
    poll_.push_back({listen_fd_, POLLIN, 0});
    poll_.push_back({wakeFd, POLLIN, 0});
    // A paused client is not polled: its bytes wait in its socket.
    for (const client& c : clients_) {
        if (s.paused(c.id))
            continue;
        poll_.push_back({c.fd, POLLIN, 0});
        polled_.push_back(c.id);
    }
    int ready = poll(poll_.data(), nfds_t(poll_.size()), waitMs);
    if (ready < 0 && errno != EINTR) {
        if (debugOn())
            zevlog::debug(lcLink(), "select error:%s\n", std::strerror(errno));
        return 255;
    }
    if (ready > 0 && (poll_[1].revents & POLLIN))
        drain_wake_fd(wakeFd);
    for (size_t i = 2; ready > 0 && i < poll_.size(); ++i) {
        if (!poll_[i].revents)
            continue;
        // What the sink sent may have closed clients: look the client up.
        const uint64_t id = polled_[i - 2];
        size_t index = 0;
        while (index < clients_.size() && clients_[index].id != id)
            ++index;
        if (index == clients_.size())
            continue;
        const ssize_t n = read_client(index, s);
        if (n == 0) {
            drop_client(index);
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            writeLogMsg(LOG_ERROR, "recv error . . . ");
            drop_client(index);
        }
    }
    if (ready > 0 && listen_fd_ >= 0 && (poll_[0].revents & POLLIN))
        accept_clients();
    tell_left(s);
    return 0;
}

void TcpServer::tell_left(sink& s)
{
    for (uint64_t id : dropped_)
        s.left(id);
    dropped_.clear();
}

int TcpServer::sendData(const u8* data, int length, uint64_t conn)
{
    if (!data || length < 0)
        return 255;
    size_t index = 0;
    while (index < clients_.size() && clients_[index].id != conn)
        ++index;
    if (index == clients_.size())
        return 255;
    int fd = clients_[index].fd;
    int done = 0;
    while (done < length) {
        ssize_t n = ::send(fd, data + done, size_t(length - done), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, kStallMs) > 0 && (p.revents & POLLOUT))
                continue;
        }
        if (debugOn())
            zevlog::debug(lcLink(), "send error TcpServer:%s\n", std::strerror(errno));
        // A reply cut short would leave the client's stream mid-frame.
        drop_client(index);
        return 255;
    }
    return 0;
}
