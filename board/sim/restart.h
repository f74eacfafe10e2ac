// How the simulated board comes back after "reboot": the program starts
// again in the same process (same process id), from the same executable
// with the same arguments, as a box runs its start command after a restart.
#pragma once

#include <string>
#include <vector>

#include "board/sim/sim_board.h"

namespace board::sim
{

// The executable of the running process, as started; empty when unknown.
std::string runningExecutable();

// A restart that replaces the process image with program run with argv
// (argv[0] included). Every descriptor above standard error is closed on the
// way, so listening ports and devices are free for the new start. Returns
// only when the exec failed.
SimShell::Restart execRestart(std::string program, std::vector<std::string> argv);

// Marks every open descriptor above standard error close-on-exec; false
// when the descriptors cannot be listed.
bool closeOnExecAll();

} // namespace board::sim
