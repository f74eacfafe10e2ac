#include "board/select.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/linux_board.h"
#include "board/sim/sim_board.h"
#include "board/sim/restart.h"
#include "board/sim/sim_models.h"

namespace board
{

Choice choose(std::vector<char*>& args)
{
    Choice c;
    c.launch.assign(args.begin(), args.end());
    std::string asked;
    if (const char* e = std::getenv("ZEV_BOARD"))
        asked = e;
    if (const char* e = std::getenv("ZEV_SIM_ROOT"))
        c.simRoot = e;
    for (auto it = args.begin(); it != args.end();) {
        if (std::strncmp(*it, "--board=", 8) == 0) {
            asked = *it + 8;
            it = args.erase(it);
        } else if (std::strncmp(*it, "--sim-root=", 11) == 0) {
            c.simRoot = *it + 11;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    if (asked == "sim") {
        c.simulated = true;
        c.reason = "asked for";
    } else if (asked == "real") {
        c.simulated = false;
        c.reason = "asked for";
    } else if (linuxBoardPresent()) {
        c.simulated = false;
        c.reason = "board devices found";
    } else {
        c.simulated = true;
        c.reason = "no board devices on this machine (/dev/spidev32766.0, /dev/msys)";
    }
    if (c.simulated && c.simRoot.empty())
        c.simRoot = sim::defaultRoot();
    return c;
}

void installChosen(const Choice& c)
{
    if (c.simulated) {
        auto b = std::make_unique<sim::SimBoard>(c.simRoot);
        sim::SimBoard* raw = b.get();
        install(std::move(b));
        sim::attachModels(*raw);
        std::string exe = sim::runningExecutable();
        if (exe.empty() && !c.launch.empty())
            exe = c.launch[0];
        raw->simShell().setRestart(sim::execRestart(exe, c.launch));
        std::printf("zevQ64N: running on the simulated board (%s); data root %s\n", c.reason.c_str(),
                    c.simRoot.c_str());
        if (raw->linkSerial("/dev/ttyS2", "pc-serial"))
            std::printf("zevQ64N: the RS-485 port /dev/ttyS2 is cabled to %s/pc-serial\n", raw->modelDir().c_str());
    } else {
        install(makeLinuxBoard());
        std::printf("zevQ64N: running on the SSD201 board (%s)\n", c.reason.c_str());
    }
    std::fflush(stdout);
}

} // namespace board
