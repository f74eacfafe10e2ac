// Numeric listening addresses of the simulated board's servers.
#pragma once

#include <string>

#include <sys/socket.h>

namespace board::sim
{

// True when address is a numeric IPv4 or IPv6 address.
bool isListenAddress(const std::string& address);

// True when a socket can be bound to address, one of this machine's.
bool isOwnAddress(const std::string& address);

// The socket address of a numeric address and port; false when address is
// not one.
bool parseAddress(const std::string& address, int port, sockaddr_storage* to, socklen_t* length);

} // namespace board::sim
