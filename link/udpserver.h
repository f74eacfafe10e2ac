// The socket layer of the UDP servers: one socket, polled receives that take
// what has come in one call, one send per reply.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include "core/global.h"
#include "link/command_port.h"

struct udp_datagram {
    std::vector<u8> data;
    // The sender, and where a reply to this datagram goes.
    sockaddr_in from{};
    sockaddr_in reply_to{};
};

class UdpServer : public port_transport
{
  public:
    // broadcastReplies: where receive() says replies go (see recvData).
    explicit UdpServer(bool broadcastReplies = false);
    ~UdpServer() override;
    UdpServer(const UdpServer&) = delete;
    UdpServer& operator=(const UdpServer&) = delete;

    // Closes what was open, then a broadcast-capable socket bound to any
    // address on port (0: any free port): 0, or 255 after logging
    // "socket error:%m" or "bind error:%m".
    int initialize(int port);
    int port() const;
    bool opened() const { return fd_ >= 0; }

    // One receive step: waits at most timeoutMs for a datagram or wakeFd (an
    // eventfd, emptied when it woke the poll), then takes one datagram into
    // datagrams. With flag 0 the replies go to the broadcast address at the
    // sender's port, with 1 to the sender. 0, or 255 on a poll or receive
    // failure.
    int recvData(int flag, int timeoutMs = 0, int wakeFd = -1);
    // The same step taking up to kBatch datagrams, each handed to the sink
    // with its sender as the key.
    int receive(int waitMs, int wakeFd, sink& s) override;
    // One datagram: 0, or 255 on failure or null data.
    int sendData(const u8* data, int length, const sockaddr_in& address);
    int send(const link_reply& to, const u8* data, int length) override { return sendData(data, length, to.peer); }
    void unInitialize();

    // Where broadcast replies go: 255.255.255.255, or the loopback broadcast
    // 127.255.255.255 on the simulated board so nothing leaves the machine.
    static sockaddr_in broadcast_address(u16 port);

    // Datagrams received, oldest first; the owner takes them off.
    std::deque<udp_datagram> datagrams;

    static constexpr int kDatagramSize = 131071;
    static constexpr int kBatch = 8;
    static constexpr int kSendWaitMs = 100;

  private:
    static sockaddr_in reply_address(bool broadcast, const sockaddr_in& from);
    // Waits as recvData does and reads up to most datagrams in one call,
    // datagram i into buffer(i), its size in msgs_[i]: how many (0: none
    // came), or -1 on a failure.
    int read(int waitMs, int wakeFd, int most);
    u8* buffer(int i) { return bufs_.get() + size_t(i) * (kDatagramSize + 1); }

    const bool broadcast_;
    int fd_ = -1;
    // Left uninitialised: only the pages datagrams reach are ever touched.
    std::unique_ptr<u8[]> bufs_;
    mmsghdr msgs_[kBatch]{};
    iovec iov_[kBatch]{};
    sockaddr_in from_[kBatch]{};
};
