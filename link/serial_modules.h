// The termios layer of the serial links: opening a port raw 8N1 at a listed
// speed, polled reads into a record, and whole writes with the RS-485
// direction line (RTS) dropped around them.
#pragma once

#include <set>

#include "link/uart_config.h"

class serial_modules
{
  public:
    serial_modules() = default;
    // Frees the set; closes no port.
    ~serial_modules() = default;

    // ttyS_Open, and the descriptor joins the set; returns it, or a negative
    // value after "Open ttyS1 Port Faild!".
    int serial_init(int port, int speed, int flags);
    // Opens "/dev/ttyS<port>" through the board's paths and configures it;
    // the open descriptor, or -1.
    int ttyS_Open(int port, int speed, int flags);
    int UartSetParity(int fd, int databits, int stopbits, int parity);
    int UartSetSpeed(int fd, int speed);

    // When the record's port is readable now, one read of at most length
    // bytes into it; the count read, or -1 when nothing was read.
    int recv_uart_data(Uart_Rec_Send_Data& record, int length);
    // Sends the record's length bytes; the count written, or -1.
    int uart_send(const Uart_Rec_Send_Data& record);
    // Writes length bytes whole, however many writes that takes: RTS low,
    // 2 ms, the bytes, drain, RTS high. The count written, or -1 when the
    // port fails or takes nothing for kStallMs.
    int uart_write(int fd, const u8* data, int length);

    const std::set<int>& descriptors() const { return fds_; }

    // RS-485 driver turn-around before the first byte.
    static constexpr int kTurnaroundUs = 2000;
    static constexpr int kStallMs = 1000;

  private:
    // Sets or clears RTS; false when the device has no modem lines.
    static bool set_rts(int fd, bool raised);
    std::set<int> fds_;
    // Ports whose device has no RTS line (a pseudo-terminal): written
    // without the direction turn-around.
    std::set<int> no_rts_;
};
