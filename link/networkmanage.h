// The TCP command servers: the control port (g_port, "TcpPort") and port
// 10002, each with its own thread, codec, dispatcher and frame assembly per
// connection. Only the control port notes host traffic and passes frames
// through to the receiving cards.
//
// Card answers reach the control port through passby::queue_answer
// (uart_config.h) while g_passby_trans_port holds 2: they are queued on its
// send list for the connection of the last pass-through frame and sent by
// the port's thread.
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
        std::map<uint64_t, frame_assembler> assembly;
        struct frame {
            uint64_t conn;
            std::vector<u8> bytes;
        };
        std::deque<frame> frames;
        std::atomic<u8> state{IDLE};
        // Card answers (control port only).
        link_send_list answers;
        std::unique_ptr<passby_link> passby;
        std::vector<u8> work;
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
    // Frames waiting per port before the clients are read again.
    static constexpr size_t kMaxFrames = 64;
    // Bound of an idle wait: frames and queued replies wake the thread at
    // once, so the bound only limits how long an idle link sleeps.
    static constexpr int kIdleWaitMs = 100;
    static constexpr int kCardWaitMs = 1;

  private:
    void take_pieces(port_link& p);
    void handle_frame(port_link& p, const port_link::frame& f);

    port_link control_{true};
    port_link second_{false};
    pthread_t threads_[2]{};
};
