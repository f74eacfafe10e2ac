#include "link/uart_inout.h"

#include <fcntl.h>

Kq_uart_inout* Kq_uart_inout::p_uart_inout = nullptr;

Kq_uart_inout* Kq_uart_inout::pInstance()
{
    if (!p_uart_inout) {
        p_uart_inout = new Kq_uart_inout();
        p_uart_inout->usart1_init(2, g_BPS, O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    return p_uart_inout;
}

Kq_uart_inout::Kq_uart_inout() : serial_line({PASSBY_SERIAL, true, nullptr}) {}
