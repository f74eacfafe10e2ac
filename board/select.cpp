#include "board/select.h"

#include <cstdlib>
#include <cstring>

#include "board/linux_board.h"
#include "board/sim/sim_board.h"
#include "board/sim/restart.h"
#include "board/sim/sim_models.h"
#include "board/sim/listen_address.h"

namespace board
{

namespace
{
constexpr const char* kBoardDevices = "/dev/spidev32766.0, /dev/msys";
}

Choice choose(std::vector<char*>& args)
{
    Choice c;
    c.launch.assign(args.begin(), args.end());
    // What was asked and how, as the user wrote it: a refusal names that.
    std::string asked, askedAs;
    if (const char* e = std::getenv("ZEV_BOARD"); e && *e) {
        asked = e;
        askedAs = "ZEV_BOARD=";
    }
    if (const char* e = std::getenv("ZEV_SIM_ROOT"))
        c.simRoot = e;
    for (auto it = args.begin(); it != args.end();) {
        if (std::strncmp(*it, "--board=", 8) == 0) {
            asked = *it + 8;
            askedAs = "--board=";
            it = args.erase(it);
        } else if (std::strncmp(*it, "--sim-root=", 11) == 0) {
            c.simRoot = *it + 11;
            it = args.erase(it);
        } else if (std::strncmp(*it, "--vnc-listen=", 13) == 0) {
            c.vncAddress = *it + 13;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    if (asked == "sim") {
        c.simulated = true;
        c.reason = "asked for";
    } else if (asked == "real" && linuxBoardPresent()) {
        c.simulated = false;
        c.reason = "asked for";
    } else if (asked == "real") {
        c.refusal = askedAs + "real refused: this machine has no board devices (" + std::string(kBoardDevices) +
                    "), and the board's commands would change its network and files";
    } else if (!askedAs.empty()) {
        // A typo must not fall back to the automatic choice: on a box it
        // would go unnoticed.
        c.refusal = askedAs + asked + " refused: the board is sim or real";
    } else if (linuxBoardPresent()) {
        c.simulated = false;
        c.reason = "board devices found";
    } else {
        c.simulated = true;
        c.reason = "no board devices on this machine (" + std::string(kBoardDevices) + ")";
    }
    if (c.simulated && !sim::isListenAddress(c.vncAddress))
        c.refusal = "--vnc-listen=" + c.vncAddress + " refused: no IPv4 or IPv6 address";
    if (c.simulated && c.simRoot.empty())
        c.simRoot = sim::defaultRoot();
    return c;
}

std::string installChosen(const Choice& c)
{
    if (!c.simulated) {
        install(makeLinuxBoard());
        return "RS-485 /dev/ttyS2, 4G modem /dev/ttyS1";
    }
    auto b = std::make_unique<sim::SimBoard>(c.simRoot);
    sim::SimBoard* raw = b.get();
    install(std::move(b));
    sim::attachModels(*raw);
    std::string exe = sim::runningExecutable();
    if (exe.empty() && !c.launch.empty())
        exe = c.launch[0];
    raw->simShell().setRestart(sim::execRestart(exe, c.launch));
    std::string links;
    const struct {
        const char* name;
        const char* device;
        const char* pcSide;
    } cables[] = {{"RS-485", "/dev/ttyS2", "pc-serial"}, {"4G modem", "/dev/ttyS1", "modem-4g"}};
    for (const auto& cable : cables) {
        if (!raw->linkSerial(cable.device, cable.pcSide))
            continue;
        links += std::string(links.empty() ? "" : ", ") + cable.name + " " + cable.device + " at " + raw->modelDir() +
                 "/" + cable.pcSide;
    }
    return links;
}

std::string describe(const Choice& c)
{
    if (c.simulated)
        return "the simulated board (" + c.reason + "; data root " + c.simRoot + ")";
    return "the SSD201 board (" + c.reason + ")";
}

} // namespace board
