// The socket layer of the TCP command servers: one listening socket and its
// clients, polled reads into pieces tagged with the connection they came
// from, and whole sends to a connection.
//
// Connections are named by an id that is never reused, so a reply for a
// client that has gone never reaches a later client given the same socket
// number.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include <poll.h>
#include <sys/types.h>

#include "core/global.h"
#include "link/command_port.h"

class TcpServer : public port_transport
{
  public:
    TcpServer();
    ~TcpServer() override;
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Closes what was open and listens on port (0: any free port): 0, or 255
    // after logging "socket error:%m", "bind error:%m" or "listen error:%m".
    int initialize(int port);
    // The port listened on; 0 while closed.
    int port() const;
    bool listening() const { return listen_fd_ >= 0; }

    // One polling step: waits at most waitMs (-1: until something comes) for
    // a connection, for data of a client the sink does not pause or for
    // wakeFd; accepts, hands one piece from each readable client to the sink,
    // tagged with its connection, and tells it of clients closed since the
    // last step. A step after a polling one first reads the client heard
    // last and ends there when it had bytes. 0, or 255 on a poll failure.
    int receive(int waitMs, int wakeFd, sink& s) override;
    // The same step into pieces and closed.
    int recvData(int timeoutMs = 0, int wakeFd = -1, const std::function<bool(uint64_t)>& paused = nullptr);
    // Sends length bytes whole to the connection: 0, or 255 when the
    // connection is gone, fails or takes nothing for kStallMs (it is then
    // closed).
    int sendData(const u8* data, int length, uint64_t conn);
    int send(const link_reply& to, const u8* data, int length) override { return sendData(data, length, to.conn); }
    // Closes the listening socket and every client.
    void unInitialize();

    struct piece {
        uint64_t conn = 0;
        std::vector<u8> data;
    };
    // Pieces read, oldest first; the owner takes them off.
    std::deque<piece> pieces;
    // Connections closed since the owner last emptied this.
    std::vector<uint64_t> closed;
    size_t clients() const { return clients_.size(); }

    static constexpr int kPieceSize = 131071;
    static constexpr int kBacklog = 200;
    // A new client past this many takes the place of the one that has been
    // silent longest, so a real PC tool can always connect.
    static constexpr size_t kMaxClients = 64;
    // Keepalive: a peer gone without a word (power lost) is found within
    // idle + count x interval seconds and closed.
    static constexpr int kKeepIdleS = 30;
    static constexpr int kKeepIntervalS = 5;
    static constexpr int kKeepCount = 6;
    static constexpr int kStallMs = 1000;

  private:
    struct client {
        int fd;
        uint64_t id;
        std::chrono::steady_clock::time_point heard;
    };
    void accept_clients();
    void drop_client(size_t index);
    // One recv from the client at index, handed to the sink when it brought
    // bytes: its result (0: the peer closed; -1 with errno).
    ssize_t read_client(size_t index, sink& s);
    // Whether the client heard last had bytes, which went to the sink.
    bool read_last(sink& s);
    // Tells the sink of the clients closed since it was last told.
    void tell_left(sink& s);

    int listen_fd_ = -1;
    std::vector<client> clients_;
    uint64_t next_id_ = 1;
    // Closed since the sink was last told.
    std::vector<uint64_t> dropped_;
    std::vector<u8> buf_;
    // The poll set of a step and the connection of each client entry.
    std::vector<pollfd> poll_;
    std::vector<uint64_t> polled_;
    // The client whose bytes came last (0: none yet), and whether the last
    // step polled.
    uint64_t last_ = 0;
    bool last_polled_ = true;
};
