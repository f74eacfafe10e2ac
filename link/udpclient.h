// A UDP request to the local helper on 127.0.0.1 port 10020, answered by one
// datagram from that same address and port.
#pragma once

#include <string>

class UdpClient
{
  public:
    // sock: a UDP socket owned by the caller.
    explicit UdpClient(int sock) : sock_(sock) {}

    // Sends text and waits for the answer in rounds of kRoundMs, at most
    // kRounds (a datagram from another sender costs a round). The answer's
    // byte count, -1 without one, or the error of a failed receive.
    int udpSendData(std::string text, std::string& answer);

    static constexpr int kPort = 10020;
    static constexpr int kRoundMs = 200;
    static constexpr int kRounds = 31;
    static constexpr int kAnswerSize = 2048;

  private:
    int sock_;
};
