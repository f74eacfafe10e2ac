// Chooses the board at start and says which it is.
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
    // Where the simulated board's VNC screen listens.
    std::string vncAddress = "127.0.0.1";
    // Why the program must not start with this choice; empty when it may.
    std::string refusal;
};

// Reads and removes "--board sim|real", "--sim-root DIR" and
// "--vnc-listen ADDR" from args, each also as "--option=value" (ZEV_BOARD
// and ZEV_SIM_ROOT in the environment do the same as the first two; an empty
// ZEV_BOARD asks nothing). Without a choice the real board is taken when its
// devices are present; asked for where they are absent, it is refused, as the
// board's commands would act on this machine. Any other board asked for is
// refused, and so is an option without its value or any other "--" option
// but "--verbose"; Qt's options, with one dash, stay in args.
Choice choose(std::vector<char*>& args);

// Takes the lock of the chosen data root (the simulated board's root, or / on
// the board) for the life of the process: a lock on "data/.zevQ64N.lock"
// under it, which holds the process id. Empty when taken, else why the
// program must not start: another program holds it. A lock file that cannot
// be made or locked only warns.
std::string holdDataRoot(const Choice& c);

// Installs the chosen board and its device models on the simulated board.
// The simulated board also gets its serial cables (the PC side of the
// RS-485 port at "sim/pc-serial" and of the 4G modem's port at
// "sim/modem-4g" under the data root) and restarts on "reboot" by running
// the program again with its command line. Returns the serial links served,
// as the start line names them.
std::string installChosen(const Choice& c);

// The start line's name of the board and why it was taken.
std::string describe(const Choice& c);

} // namespace board
