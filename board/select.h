// Chooses the board at start and announces it.
#pragma once

#include <string>
#include <vector>

namespace board
{

struct Choice {
    bool simulated = false;
    std::string simRoot;
    std::string reason;
};

// Reads and removes "--board=sim|real" and "--sim-root=DIR" from args
// (ZEV_BOARD and ZEV_SIM_ROOT in the environment do the same). Without a
// choice the real board is taken when its devices are present.
Choice choose(std::vector<char*>& args);

// Installs the chosen board, its device models on the simulated board, and
// prints which board the program runs on.
void installChosen(const Choice& c);

} // namespace board
