// What the box has answered is on disk before it stops or reboots. The
// writes that wait for the GUI thread's next pass (the image, user-mode
// saves, the slots' files of a rewrite of the modes or of a delete) are made
// here, on whichever thread stops the box.
#pragma once

#include <chrono>

namespace before_stop
{

// The bound on the writes of one stop: past it, what is left is named and
// the stop goes on.
constexpr std::chrono::milliseconds kLimit{3000};

// Writes what waits for its file, within limit; true when nothing is left.
// What could not be written (a full partition) is named in one warning, and
// not again while the same files are left. Safe from any thread, and with
// nothing loaded yet.
bool store_all(std::chrono::milliseconds limit = kLimit);

// store_all, then the board's "reboot"; the command's status as
// Utils::system_mutex gives it.
int reboot();

// SIGTERM (what a box's shutdown sends every process) and SIGINT (Ctrl-C)
// end the program with status 0 once store_all is done. A thread of its own
// waits for them, so a busy GUI thread never holds the stop back. False,
// the signals left as they were, when they cannot be caught.
bool catch_stop_signals();

} // namespace before_stop
