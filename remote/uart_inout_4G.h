// The 4G modem's link on serial port 1: PC frames as on the RS-485 port, the
// modem speaking as the PC tool (0xF010). Its frames are answered on this
// port, frames for the receiving cards are passed through with a marker of
// this link's own, so the cards' answers come back here, and group 0xC4
// carries the cloud commands (message_deal_4g.h). A reconnect request
// (g_reconfig_4g) sends the modem the cloud property block as a group 0xC4
// frame {"name":"property", ...} from the box to 0xF010.
#pragma once

#include <atomic>
#include <vector>

#include <pthread.h>

#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "link/serial_modules.h"
#include "link/uart_config.h"

class Kq_uart_inout_4G
{
  public:
    // Creates the link on first call, opens port 1 and starts the thread.
    static Kq_uart_inout_4G* pInstance();
    static Kq_uart_inout_4G* p_uart_inout_4G;

    Kq_uart_inout_4G();
    ~Kq_uart_inout_4G();
    Kq_uart_inout_4G(const Kq_uart_inout_4G&) = delete;
    Kq_uart_inout_4G& operator=(const Kq_uart_inout_4G&) = delete;

    // Opens the port and starts the thread: 0, also when the port cannot be
    // opened (the link stays silent); 255 when the thread cannot be created.
    int usart_init(int port, int speed, int flags);
    int open_port(int port, int speed, int flags);
    // Sends every queued frame and notes host traffic.
    int send_uart_data();

    static void* receive_thread_4G(void* arg);
    // One pass: waits at most maxWaitMs for bytes or a queued frame, handles
    // a reconnect request, what came, then sends.
    void receive_pass(int maxWaitMs);

    // The frame a reconnect request sends (wire bytes).
    static std::vector<u8> property_frame();

    enum : u8 { IDLE = 0, WAIT_CARDS = 1, LOCAL_REPLY = 2 };
    int descriptor() const { return fd_; }
    link_send_list& send_list() { return send_list_; }

    static constexpr int kPort = 1;
    static constexpr size_t kFrameLimit = 65555;
    static constexpr int kIdleWaitMs = 100;
    static constexpr int kCardWaitMs = 1;

  private:
    void handle_frame(const u8* frame, int length);

    int fd_ = -1;
    serial_modules serial_;
    message_deal deal_;
    link_send_list send_list_;
    passby_link passby_{PASSBY_4G, send_list_};
    passby_queue passing_{passby_};
    std::atomic<u8> link_state_{IDLE};
    frame_assembler assembler_{kFrameLimit};
    Uart_Rec_Send_Data* record_;
    std::vector<u8> work_;
    std::vector<u8> out_;
    pthread_t thread_{};
};
