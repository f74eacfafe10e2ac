// The TCP command servers: the control port (g_port, "TcpPort") and port
// 10002, each with its own thread, codec, dispatcher and frame assembly per
// connection. Only the control port notes host traffic and passes frames
// through to the receiving cards.
//
// Frames for the cards wait in the port's pass-through queue and go out one
// at a time; the other frames are answered meanwhile, in the order each
// connection sent them, and the replies to what one read brought go out in
// one write per connection. Card answers reach the control port through
// passby::queue_answer (uart_config.h) while g_passby_trans_port holds 2:
// they are queued on its send list for the connection whose frame is out.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include <pthread.h>

#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "link/tcpserver.h"
#include "link/uart_config.h"

// The control server is opened only while this is non-zero.
extern u8 g_networkMode;

class networkManage
{
  public:
    static networkManage* pInstance();
    static networkManage* p_networkManage;

    networkManage();
    ~networkManage();
    networkManage(const networkManage&) = delete;
    networkManage& operator=(const networkManage&) = delete;

    // open(), then the two port threads: 0, or 255 after "create accept
    // thread failed".
    int initialize();
    // Opens both servers without threads; 0 when both listen.
    int open();

    static void* acceptThread(void* arg);
    static void* acceptThread_10002(void* arg);

    enum : u8 { IDLE = 0, WAIT_CARDS = 1, LOCAL_REPLY = 2 };

    struct port_link {
        explicit port_link(bool isControl);
        const bool control;
        TcpServer server;
        protocol_phy phy;
        message_deal deal;
        struct connection {
            explicit connection(size_t limit) : assembler(limit) {}
            frame_assembler assembler;
            // Frames cut and not yet handled, oldest first.
            std::deque<std::vector<u8>> frames;
            // Its frames in the pass-through queue.
            unsigned passing = 0;
            // Replies of this pass, sent in one write.
            std::vector<u8> replies;
            bool gone = false;
        };
        std::map<uint64_t, connection> conns;
        // Frames for the cards (un-escaped body with its BCC); the first one
        // is out while the state is WAIT_CARDS.
        struct card_frame {
            uint64_t conn;
            u32 ticket;
            std::vector<u8> body;
        };
        std::deque<card_frame> passing;
        std::atomic<u8> state{IDLE};
        // Card answers (control port only).
        link_send_list answers;
        std::unique_ptr<passby_link> passby;
        std::vector<u8> work;
        int work_dirty;
        std::vector<u8> out;
    };
    port_link& control_port() { return control_; }
    port_link& port_10002() { return second_; }

    // One pass of a port's thread: waits at most maxWaitMs for a piece, a
    // connection or a queued answer, then assembles, answers and sends.
    void port_pass(port_link& p, int maxWaitMs);

    static constexpr int kSecondPort = 10002;
    // Longest frame, start to end byte, a connection may send.
    static constexpr size_t kFrameLimit = 0x20000;
    // Frames of one connection in the pass-through queue; while it has this
    // many, its further frames wait and it is not read.
    static constexpr unsigned kMaxPassing = 16;
    // Bound of an idle wait: frames and queued replies wake the thread at
    // once, so the bound only limits how long an idle link sleeps.
    static constexpr int kIdleWaitMs = 1000;
    static constexpr int kCardWaitMs = 1;

  private:
    void take_pieces(port_link& p);
    // Handles the queued frames of a connection until one must wait for a
    // place in the pass-through queue.
    void serve(port_link& p, uint64_t id, port_link::connection& c);
    // Starts the next frames for the cards, or goes on waiting for one.
    void pass_cards(port_link& p);
    void card_frame_done(port_link& p);

    port_link control_{true};
    port_link second_{false};
    pthread_t threads_[2]{};
};
