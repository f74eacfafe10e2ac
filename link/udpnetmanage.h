// The UDP servers: port 5008 (PC frames, replies broadcast, pass-through to
// the receiving cards), port 10005 (PC frames for the box, replies to the
// sender) and port 13769 (the Wi-Fi clients' text commands), each with its
// own thread. Frames are assembled per sender.
//
// Frames for the cards wait in port 5008's pass-through queue and go out one
// at a time while the other frames are answered. Card answers reach port 5008
// through passby::queue_answer (uart_config.h) while g_passby_trans_port
// holds 3: they are queued on its send list for the sender whose frame is
// out. A reply too large for one datagram (on 5008, whose replies are
// broadcast, for kBroadcastLimit) is answered with status 1 and no data. Wi-Fi answers are queued with
// queue_13769_answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <netinet/in.h>
#include <pthread.h>

#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "link/uart_config.h"
#include "link/udpserver.h"

// The servers exist and the 13769 thread works only while this is non-zero.
extern u8 g_udpnetmode;

class udpnetManage
{
  public:
    static udpnetManage* pInstance();
    static udpnetManage* p_udpnetManage;

    udpnetManage();
    ~udpnetManage();
    udpnetManage(const udpnetManage&) = delete;
    udpnetManage& operator=(const udpnetManage&) = delete;

    // open(), then the three threads: 0, or 255 after "create accept thread
    // failed".
    int initialize();
    // Opens the three servers without threads; 0 when all are open.
    int open();

    static void* udpacceptThread(void* arg);
    static void* udpacceptThread_10005(void* arg);
    static void* udp_13769_acceptThread(void* arg);

    enum : u8 { IDLE = 0, WAIT_CARDS = 1, LOCAL_REPLY = 2 };

    struct port_link {
        explicit port_link(bool isControl);
        // Port 5008: notes host traffic, broadcasts replies, passes through.
        const bool control;
        UdpServer server;
        protocol_phy phy;
        message_deal deal;
        struct sender {
            explicit sender(size_t limit) : assembler(limit) {}
            frame_assembler assembler;
            u32 used = 0;
        };
        std::map<uint64_t, sender> senders;
        u32 uses = 0;
        struct frame {
            sockaddr_in from;
            sockaddr_in reply_to;
            std::vector<u8> bytes;
        };
        std::deque<frame> frames;
        // Frames for the cards (un-escaped body with its BCC), the first one
        // out while the state is WAIT_CARDS, and their count per sender.
        struct card_frame {
            uint64_t sender;
            u32 ticket;
            sockaddr_in reply_to;
            std::vector<u8> body;
        };
        std::deque<card_frame> passing;
        std::map<uint64_t, unsigned> passing_per_sender;
        std::atomic<u8> state{IDLE};
        link_send_list answers;
        std::unique_ptr<passby_link> passby;
        std::vector<u8> work;
        int work_dirty;
        std::vector<u8> out;
    };
    port_link& port_5008() { return p5008_; }
    port_link& port_10005() { return p10005_; }

    // One pass of the 5008 or 10005 thread: waits at most maxWaitMs for a
    // datagram or a queued answer, then assembles, answers and sends.
    void port_pass(port_link& p, int maxWaitMs);

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
    // One pass of the 13769 thread.
    void wifi_pass(int maxWaitMs);
    UdpServer& wifi_server() { return wifi_; }
    size_t wifi_pending() const { return wifi_.datagrams.size(); }

    static constexpr int kPort = 5008;
    static constexpr int kSecondPort = 10005;
    static constexpr int kWifiPort = 13769;
    static constexpr size_t kFrameLimit = 0x20000;
    // Senders with a frame in progress kept per port; the least recently
    // heard one is forgotten past this.
    static constexpr size_t kMaxSenders = 64;
    static constexpr size_t kMaxFrames = 64;
    // Frames for the cards queued per sender and per port; more are dropped.
    static constexpr unsigned kMaxPassing = 16;
    static constexpr size_t kMaxPassingTotal = 64;
    // Largest reply datagram: broadcast on 5008 (kept within one Ethernet
    // frame), and what one IPv4 datagram carries on 10005.
    static constexpr int kBroadcastLimit = 1400;
    static constexpr int kDatagramLimit = 65507;
    static constexpr size_t kMaxWifiDatagrams = 64;
    // Bound of an idle wait: frames and queued replies wake the thread at
    // once, so the bound only limits how long an idle link sleeps.
    static constexpr int kIdleWaitMs = 1000;
    static constexpr int kCardWaitMs = 1;

  private:
    void take_datagrams(port_link& p);
    void handle_frame(port_link& p, const port_link::frame& f);
    void pass_cards(port_link& p);
    void card_frame_done(port_link& p);

    port_link p5008_{true};
    port_link p10005_{false};
    UdpServer wifi_;
    link_send_list wifi_answers_;
    std::mutex wifi_side_mutex_;
    wifi_side wifi_side_;
    pthread_t threads_[3]{};
};
