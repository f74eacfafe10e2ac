// The serial message queue of the RS-485 link. The link itself answers from
// its send list (uart_config.h); this queue is kept for the 4G side, which
// has the same pair for its port.
#pragma once

#include <mutex>
#include <vector>

#include "core/global.h"

// One queued serial message.
struct Tarvo_UartData_Type {
    u8 data[65556];
    int32_t fd = -1;
    int32_t length = 0;
    u8 type = 0;
    u8 spare[1] = {0};
};

class Kq_uart_analysis
{
  public:
    static Kq_uart_analysis* pInstance();
    static Kq_uart_analysis* p_uart_analysis;

    // Appends a copy of the message; returns 255 as the link's callers expect.
    int uart_send_data(const Tarvo_UartData_Type& message);
    size_t size() const;

  private:
    Kq_uart_analysis() = default;
    mutable std::mutex mutex_;
    std::vector<Tarvo_UartData_Type> queue_;
};
