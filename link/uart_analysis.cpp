#include "link/uart_analysis.h"

Kq_uart_analysis* Kq_uart_analysis::p_uart_analysis = nullptr;

Kq_uart_analysis* Kq_uart_analysis::pInstance()
{
    if (!p_uart_analysis)
        p_uart_analysis = new Kq_uart_analysis();
    return p_uart_analysis;
}

int Kq_uart_analysis::uart_send_data(const Tarvo_UartData_Type& message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(message);
    return 255;
}

size_t Kq_uart_analysis::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}
