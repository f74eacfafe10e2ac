// The RS-485 control link on serial port 2: a serial line (serial_line.h)
// marked 1 in g_passby_trans_port. While its pass-through queue is full, the
// next card frame stops the handling of the frames behind it.
#pragma once

#include "link/serial_line.h"

class Kq_uart_inout : public serial_line
{
  public:
    // Creates the link on first call and opens port 2 read-write, without a
    // controlling terminal, non-blocking; starts the receive thread.
    static Kq_uart_inout* pInstance();
    static Kq_uart_inout* p_uart_inout;

    Kq_uart_inout();

    // Opens the port and starts the receive thread: 0, also when the port
    // cannot be opened (the link stays silent); 255 when the thread cannot
    // be created.
    int usart1_init(int port, int speed, int flags) { return start(port, speed, flags, 1, receive_thread, kFailure); }
    static void* receive_thread(void* arg) { return thread(arg); }

  private:
    static constexpr const char* kFailure = "create uart receive_thread failed";
};
