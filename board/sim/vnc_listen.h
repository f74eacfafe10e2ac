// Where the simulated board's VNC screen is reachable. Qt's VNC platform
// listens on every address of the machine and has no option to choose one;
// the program moves that listening socket to the address it was asked for.
#pragma once

#include <string>

namespace board::sim
{

// True when address is a numeric IPv4 or IPv6 address.
bool isListenAddress(const std::string& address);

// True when a socket can be bound to address, one of this machine's: the
// listener is moved there only once it was already closed everywhere else.
bool isOwnAddress(const std::string& address);

// Finds this process's TCP socket listening on every address at port and
// makes the same descriptor listen on address instead, so its owner goes on
// accepting there. Empty on success, else the reason.
std::string moveListener(int port, const std::string& address);

} // namespace board::sim
