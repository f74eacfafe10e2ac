#include "link/tcpclinet.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/logMsg.h"
#include "link/net_socket.h"
#include "core/logging.h"

namespace
{
bool set_blocking(int fd, bool blocking)
{
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0;
}
} // namespace

TcpClinet::TcpClinet()
{
    writeLogMsg(LOG_BANNER, "====TcpClinet::TcpClinet()=====");
}

TcpClinet::~TcpClinet()
{
    unInitialize();
}

int TcpClinet::initialize(const u8*, int)
{
    return 0;
}

int TcpClinet::initialize_cloud()
{
    return 1;
}

int TcpClinet::sockerConnect(const char* address, int port)
{
    if (sock_ >= 0 || !address)
        return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(u16(port));
    if (inet_pton(AF_INET, address, &to.sin_addr) != 1)
        return 0;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, with_errno("socket error:"));
        return 0;
    }
    int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        writeLogMsg(LOG_ERROR, with_errno("bind error:"));
        close(fd);
        return 0;
    }
    if (!set_blocking(fd, false)) {
        close(fd);
        return 0;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            close(fd);
            return 0;
        }
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (poll(&p, 1, kWaitMs) <= 0) {
            if (debugOn())
                zevlog::debug(lcLink(), "TCP CLINET connect to select failed ticks = %u\n", G_timeTicks.load());
            close(fd);
            return 0;
        }
        if ((p.revents & (POLLERR | POLLHUP)) || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            if (debugOn())
                zevlog::debug(lcLink(), "TCP CLINET connect to select to FD_ISSET failed,ticks = %u\n",
                              G_timeTicks.load());
            close(fd);
            return 0;
        }
    }
    if (!set_blocking(fd, true)) {
        close(fd);
        return 0;
    }
    sock_ = fd;
    return 1;
}

int TcpClinet::recvData(u8* disconnected)
{
    u8 gone = 0;
    int rc = 0;
    if (sock_ < 0) {
        gone = 1;
        rc = 255;
    } else {
        pollfd p{sock_, POLLIN, 0};
        int ready = poll(&p, 1, kWaitMs);
        if (ready < 0 && errno != EINTR) {
            Close();
            gone = 1;
            rc = 255;
        } else if (ready > 0 && (p.revents & POLLIN)) {
            record r;
            r.data.resize(size_t(kRecordSize));
            ssize_t n = recv(sock_, r.data.data(), r.data.size(), MSG_DONTWAIT);
            if (n > 0) {
                r.data.resize(size_t(n));
                r.count = int32_t(n);
                r.socket = sock_;
                records.push_back(std::move(r));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                if (debugOn())
                    zevlog::debug(lcLink(), "Server socket exit . . . \n");
                Close();
                gone = 1;
            }
        } else if (ready > 0) {
            // Error or hang-up without data.
            Close();
            gone = 1;
            rc = 255;
        }
    }
    if (disconnected)
        *disconnected = gone;
    return rc;
}

int TcpClinet::sendData(const u8* data, int length, int socket)
{
    if (!data || length < 0 || sock_ < 0 || socket != sock_)
        return 255;
    int done = 0;
    while (done < length) {
        pollfd p{sock_, POLLOUT, 0};
        int ready = poll(&p, 1, kWaitMs);
        if (ready == 0 || (ready < 0 && errno == EINTR))
            return 255;
        if (ready < 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            if (debugOn())
                zevlog::debug(lcLink(), "send FD_ISSET(sock, &err_set) error: %s\n", std::strerror(errno));
            Close();
            return 255;
        }
        ssize_t n = send(sock_, data + done, size_t(length - done), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (debugOn())
            zevlog::debug(lcLink(), "send error TcpClinet: %s\n", std::strerror(errno));
        Close();
        return 255;
    }
    return 0;
}

void TcpClinet::Close()
{
    if (sock_ < 0)
        return;
    if (shutdown(sock_, SHUT_RDWR) != 0 && errno != ENOTCONN && debugOn())
        zevlog::debug(lcLink(), "shutdown: %s\n", std::strerror(errno));
    close(sock_);
    usleep(100000);
    sock_ = -1;
}
