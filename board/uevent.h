// Kernel hot-plug messages (uevents): a netlink socket on the board, an
// injectable queue on the simulated board.
#pragma once

#include <cstddef>

namespace board
{

class Uevents
{
  public:
    virtual ~Uevents() = default;
    // Opens the source: socket, a 1024-byte receive buffer, bind to the
    // kernel's uevent group. 0 on success; -1 with errno set.
    virtual int open() = 0;
    // Waits at most timeoutUs for a message (a negative timeoutUs: until one
    // comes): 1 readable, 0 none, -1 error.
    virtual int wait(long timeoutUs) = 0;
    // Takes one message (at most length bytes): its size, 0 or -1.
    virtual long receive(char* buffer, size_t length) = 0;
};

} // namespace board
