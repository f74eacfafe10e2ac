// The socket layer of the UDP servers: one socket, polled receives into
// datagram records, one send per reply.
#pragma once

#include <deque>
#include <vector>

#include <netinet/in.h>

#include "core/global.h"

struct udp_datagram {
    std::vector<u8> data;
    // The sender, and where a reply to this datagram goes.
    sockaddr_in from{};
    sockaddr_in reply_to{};
};

class UdpServer
{
  public:
    UdpServer();
    ~UdpServer();
    UdpServer(const UdpServer&) = delete;
    UdpServer& operator=(const UdpServer&) = delete;

    // Closes what was open, then a broadcast-capable socket bound to any
    // address on port (0: any free port): 0, or 255 after logging
    // "socket error:%m" or "bind error:%m".
    int initialize(int port);
    int port() const;
    bool opened() const { return fd_ >= 0; }

    // One receive step: waits at most timeoutMs for a datagram or wakeFd (an
    // eventfd, emptied when it woke the poll),
    // then takes what has arrived (up to kBatch datagrams). With flag 0 the
    // replies go to the broadcast address at the sender's port, with 1 to
    // the sender. 0, or 255 on a poll or receive failure.
    int recvData(int flag, int timeoutMs = 0, int wakeFd = -1);
    // One datagram: 0, or 255 on failure or null data.
    int sendData(const u8* data, int length, const sockaddr_in& address);
    void unInitialize();

    // Where broadcast replies go: 255.255.255.255, or the loopback broadcast
    // 127.255.255.255 on the simulated board so nothing leaves the machine.
    static sockaddr_in broadcast_address(u16 port);

    // Datagrams received, oldest first; the owner takes them off.
    std::deque<udp_datagram> datagrams;

    static constexpr int kDatagramSize = 131071;
    static constexpr int kBatch = 16;
    static constexpr int kSendWaitMs = 100;

  private:
    int fd_ = -1;
    std::vector<u8> buf_;
};
