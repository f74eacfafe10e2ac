// The UDP servers, each with its own thread: port 5008 (PC frames, replies
// broadcast, pass-through to the receiving cards) and port 10005 (PC frames
// for the box, replies to the sender), each a command port (command_port.h)
// on its own UdpServer, and port 13769 (the Wi-Fi clients' text commands).
// Frames are assembled per sender, and only a handler's reply is sent.
//
// Card answers reach port 5008 while g_passby_trans_port holds 3; a sender's
// card frames past kMaxPassing are dropped. A reply too large for one
// datagram (on 5008, whose replies are broadcast, for kBroadcastLimit) is
// answered with status 1 and no data. Wi-Fi answers are queued with
// queue_13769_answer.
#pragma once

#include <atomic>
#include <mutex>

#include <netinet/in.h>

#include "link/command_port.h"
#include "link/udpserver.h"

// The servers exist and the 13769 thread works only while this is non-zero.
extern u8 g_udpnetmode;

class udpnetManage
{
  public:
    // Made on first call, after the cloud property block is loaded, with its
    // threads.
    static udpnetManage* pInstance();
    static udpnetManage* p_udpnetManage;
    udpnetManage();

    // Opens the three servers without threads; 0 when all are open.
    int open();
    // open(), then udpacceptThread (5008), udpacceptThread_10005 and
    // udp_13769_acceptThread: 0, or 255 after "create accept thread failed".
    int initialize();

    using port_link = command_port;
    static void* udpacceptThread(void* port) { return command_port::thread(port); }
    port_link& port_5008() { return p5008_; }
    static void* udpacceptThread_10005(void* port) { return command_port::thread(port); }
    port_link& port_10005() { return p10005_; }
    void port_pass(port_link& p, int maxWaitMs) { p.pass(maxWaitMs); }

    // The Wi-Fi side of port 13769, installed by the Wi-Fi manager:
    //   running  the access point runs (state 3); datagrams are read only then;
    //   handle   wifi_AT_cmd_manage for one datagram and its sender: 0 when
    //            consumed, else the datagram is offered again next pass.
    struct wifi_side {
        bool (*running)() = nullptr;
        int (*handle)(u8* data, int length, const sockaddr_in& from) = nullptr;
    };
    void set_wifi_side(const wifi_side& side);
    // Queues an answer for a Wi-Fi client; false when the list is full.
    bool queue_13769_answer(const u8* data, int length, const sockaddr_in& to);
    static void* udp_13769_acceptThread(void* arg);
    // One pass of the 13769 thread: waits at most maxWaitMs (-1: until
    // woken) for a datagram while the access point runs, else for a change.
    void wifi_pass(int maxWaitMs);
    // The access point started or stopped: the 13769 thread looks again.
    void wifi_changed() { wifi_answers_.wake(); }
    UdpServer& wifi_server() { return wifi_; }
    size_t wifi_pending() const { return wifi_.datagrams.size(); }

    static constexpr int kPort = 5008;
    static constexpr int kSecondPort = 10005;
    static constexpr int kWifiPort = 13769;
    // Senders with a frame in progress kept per port; the least recently
    // heard one is forgotten past this.
    static constexpr size_t kMaxSenders = 64;
    // Largest reply datagram: broadcast on 5008 (kept within one Ethernet
    // frame), and what one IPv4 datagram carries on 10005.
    static constexpr int kBroadcastLimit = 1400;
    static constexpr int kDatagramLimit = 65507;

  private:
    UdpServer p5008_server_{true};
    UdpServer p10005_server_;
    command_port p5008_;
    command_port p10005_;
    UdpServer wifi_;
    link_send_list wifi_answers_;
    std::mutex wifi_side_mutex_;
    wifi_side wifi_side_;
    std::atomic<bool> wifi_stopping_{false};
    port_threads threads_;
};
