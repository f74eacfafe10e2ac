#include "link/udpclient.h"

#include <cerrno>
#include <cstdio>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/logging.h"

int UdpClient::udpSendData(std::string text, std::string& answer)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sendto(sock_, text.data(), text.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        return -1;
    char buf[kAnswerSize + 1];
    for (int round = 0; round < kRounds; ++round) {
        pollfd p{sock_, POLLIN, 0};
        int ready = poll(&p, 1, kRoundMs);
        if (ready <= 0)
            continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(sock_, buf, kAnswerSize, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            int err = -errno;
            writeLogMsg(LOG_ERROR, "recvfrom() error ...");
            return err;
        }
        if (from.sin_addr.s_addr != to.sin_addr.s_addr || from.sin_port != to.sin_port)
            continue;
        answer.assign(buf, size_t(n));
        if (debugOn())
            zevlog::debug(lcLink(), "udp server message : %s\n", answer.c_str());
        return int(n);
    }
    return -1;
}
