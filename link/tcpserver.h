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

#include "core/global.h"

class TcpServer
{
  public:
    TcpServer();
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Closes what was open and listens on port (0: any free port): 0, or 255
    // after logging "socket error:%m", "bind error:%m" or "listen error:%m".
    int initialize(int port);
    // The port listened on; 0 while closed.
    int port() const;
    bool listening() const { return listen_fd_ >= 0; }

    // One polling step: waits at most timeoutMs for a connection, for data
    // of a client (not of those paused says to leave alone) or for wakeFd
    // (an eventfd, emptied when it woke the poll); accepts, reads one piece
    // from each readable client, closes clients that left. 0, or 255 on a poll or accept failure.
    int recvData(int timeoutMs = 0, int wakeFd = -1, const std::function<bool(uint64_t)>& paused = nullptr);
    // Sends length bytes whole to the connection: 0, or 255 when the
    // connection is gone, fails or takes nothing for kStallMs (it is then
    // closed).
    int sendData(const u8* data, int length, uint64_t conn);
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

    int listen_fd_ = -1;
    std::vector<client> clients_;
    uint64_t next_id_ = 1;
    std::vector<u8> buf_;
};
