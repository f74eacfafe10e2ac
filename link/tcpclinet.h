// The box's TCP client socket, used by the cloud client: connect with a
// time-out, polled receive into records, whole sends, close. It knows
// nothing of the protocol spoken over it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "core/global.h"

class TcpClinet
{
  public:
    TcpClinet();
    ~TcpClinet();
    TcpClinet(const TcpClinet&) = delete;
    TcpClinet& operator=(const TcpClinet&) = delete;

    // address: dotted IPv4 text. 1 when connected within kWaitMs, else 0;
    // does nothing and returns 0 while a socket is open.
    int sockerConnect(const char* address, int port);
    // One receive step of at most kWaitMs; *disconnected is 1 when the
    // socket was closed by it (or was not open). 0, or 255 on a socket error
    // or while not connected.
    int recvData(u8* disconnected);
    // Sends length bytes whole on the open socket (socket must name it): 0,
    // or 255 when not connected, on a time-out (the socket stays open) or
    // an error (the socket is closed).
    int sendData(const u8* data, int length, int socket);
    // Shuts the socket down both ways, closes it, waits 100 ms.
    void Close();
    void unInitialize() { Close(); }
    int initialize(const u8* data, int length);
    int initialize_cloud();

    int socket() const { return sock_; }

    struct record {
        std::vector<u8> data;
        int32_t count = 0;
        int32_t socket = -1;
    };
    std::deque<record> records;
    std::string text;

    static constexpr int kRecordSize = 131071;
    static constexpr int kWaitMs = 3000;

  private:
    int sock_ = -1;
};
