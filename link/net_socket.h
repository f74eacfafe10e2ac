// Socket set-up shared by the TCP and UDP servers and the TCP client.
#pragma once

#include <string>

// The text of what failed followed by the system's reason, for the log.
std::string with_errno(const char* what);

// Says on one line of standard error that the server of type (SOCK_STREAM
// or SOCK_DGRAM) on port could not be opened, with errno's reason (errno
// is kept).
void say_unserved(int type, int port);

// A socket of type (SOCK_STREAM or SOCK_DGRAM, non-blocking, close-on-exec)
// with the socket option set (a failed option is logged, not fatal), bound
// to port on every address. -1, with the failure logged and said, when it
// cannot be made or bound.
int bound_socket(int type, int option, int port);

// Empties an eventfd that woke a poll (a no-op when it holds nothing).
void drain_wake_fd(int fd);
