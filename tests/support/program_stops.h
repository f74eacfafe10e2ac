// Stopping the running program the ways a box stops, for the tests that
// start it: the PC's reboot, which the simulated board carries out by
// starting the program again in the same process, and the signals a user
// or a service manager sends.
#pragma once

#include <QString>

#include <sys/types.h>

#include "link/pc_frames.h"

// A start as a shell starts a program in the foreground: SIGINT and SIGTERM
// at their defaults and no signal blocked, whatever the test inherited (a
// background job has SIGINT ignored).
ProgramStart foreground_start();

// Reads and drops what the box sends on fd until it closes the connection
// (the restart closes every descriptor); false when it is still open after
// ms.
bool closed_within(int fd, int ms);

// A TCP connection to port 5005 on which the box answered a read, tried
// every 50 ms for up to ms; a connection made while an ending program still
// listens is closed by its end and tried again. -1 when none answered.
int answering_link(int ms);

// Waits up to ms for the program pid to end, reaping it; false when it still
// runs.
bool ended_within(pid_t pid, int ms, int* status);
// How a program ended, from its wait status ("exited with status 0", "was
// killed by signal 15 (Terminated)").
QString ending(int status);
bool exited_cleanly(int status);

// Lines of the simulated board's command record under root (both its files)
// that are exactly command, e.g. "sync" (one after each file write) or
// "reboot".
int recorded(const QString& root, const char* command);
