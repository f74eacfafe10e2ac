// The 4G modem's link on serial port 1: a serial line (serial_line.h) as on
// the RS-485 port, the modem speaking as the PC tool (0xF010), marked 4 in
// g_passby_trans_port, so the cards' answers come back here; a card frame
// that finds the pass-through queue full is dropped. Group 0xC4 carries the
// cloud commands (message_deal_4g.h). A reconnect request (g_reconfig_4g)
// sends the modem the cloud property block as a group 0xC4 frame
// {"name":"property", ...} from the box to 0xF010.
#pragma once

#include <vector>

#include "link/serial_line.h"

class Kq_uart_inout_4G : public serial_line
{
  public:
    // Creates the link on first call, opens port 1 and starts the thread.
    static Kq_uart_inout_4G* pInstance();
    static Kq_uart_inout_4G* p_uart_inout_4G;

    Kq_uart_inout_4G();

    // Opens the port and starts the thread: 0, also when the port cannot be
    // opened (the link stays silent); 255 when the thread cannot be created.
    int usart_init(int port, int speed, int flags) { return start(port, speed, flags, 0, receive_thread_4G, kFailure); }
    static void* receive_thread_4G(void* arg) { return thread(arg); }

    // The frame a reconnect request sends (wire bytes).
    static std::vector<u8> property_frame();

    static constexpr int kPort = 1;

  private:
    static constexpr const char* kFailure = "create 4G receive_thread failed";
    // Queues the property frame when a reconnect was asked for.
    static void reconnect_request(link_send_list& sends);
};
