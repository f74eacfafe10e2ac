// Chooses the board at start and announces it.
#pragma once

#include <string>
#include <vector>

namespace board
{

struct Choice {
    // The program's command line as started, kept for a restart.
    std::vector<std::string> launch;
    bool simulated = false;
    std::string simRoot;
    std::string reason;
};

// Reads and removes "--board=sim|real" and "--sim-root=DIR" from args
// (ZEV_BOARD and ZEV_SIM_ROOT in the environment do the same). Without a
// choice the real board is taken when its devices are present.
Choice choose(std::vector<char*>& args);

// Installs the chosen board, its device models on the simulated board, and
// prints which board the program runs on. The simulated board also gets its
// RS-485 cable (the PC side at "sim/pc-serial" under the data root) and
// restarts on "reboot" by running the program again with its command line.
void installChosen(const Choice& c);

} // namespace board
