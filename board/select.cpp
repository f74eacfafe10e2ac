#include "board/select.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>

#include "board/linux_board.h"
#include "board/log.h"
#include "board/sim/sim_board.h"
#include "board/sim/restart.h"
#include "board/sim/sim_models.h"
#include "board/sim/listen_address.h"

namespace board
{

namespace
{
constexpr const char* kBoardDevices = "/dev/spidev32766.0, /dev/msys";
constexpr const char* kOptions = "--board sim|real, --sim-root DIR, --vnc-listen ADDR and --verbose";
} // namespace

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
    const struct {
        const char* name;
        std::string* value;
        const char* what;
    } options[] = {{"--board", &asked, "sim or real"},
                   {"--sim-root", &c.simRoot, "a folder"},
                   {"--vnc-listen", &c.vncAddress, "an address"}};
    // Qt's own options take one dash and pass on, as "-platform linuxfb" on
    // the board; "--verbose" is left for the logging.
    for (auto it = args.begin() + (args.empty() ? 0 : 1); it != args.end();) {
        const std::string arg = *it;
        if (arg.compare(0, 2, "--") != 0 || arg == "--verbose") {
            ++it;
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const auto* option =
            std::find_if(std::begin(options), std::end(options), [&](const auto& o) { return name == o.name; });
        if (option == std::end(options)) {
            // A typo taken silently would leave the user wondering.
            c.refusal = arg + " refused: no such option; the options are " + kOptions;
            return c;
        }
        it = args.erase(it);
        if (eq != std::string::npos) {
            *option->value = arg.substr(eq + 1);
        } else if (it != args.end() && **it != '-') {
            *option->value = *it;
            it = args.erase(it);
        } else {
            c.refusal = arg + " refused: it takes a value, " + option->what;
            return c;
        }
        if (option->value == &asked)
            askedAs = eq != std::string::npos ? "--board=" : "--board ";
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

std::string holdDataRoot(const Choice& c)
{
    const std::string root = c.simulated ? c.simRoot : "/";
    const std::string folder = (c.simulated ? c.simRoot : "") + "/data";
    const std::string path = folder + "/.zevQ64N.lock";
    const int fd = QDir().mkpath(QString::fromStdString(folder))
                       ? ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644)
                       : -1;
    // A box must not stay down for want of its lock file.
    if (fd < 0) {
        zevlog::warnErrno(lcBoard(), (path + ": no lock on the data root").c_str());
        return {};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        char text[24] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        ::close(fd);
        errno = error;
        if (error != EWOULDBLOCK) {
            zevlog::warnErrno(lcBoard(), (path + ": no lock on the data root").c_str());
            return {};
        }
        const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
        return "data root " + root + " is in use by " +
               (pid > 0 ? "zevQ64N process " + std::to_string(pid) : std::string("another zevQ64N")) +
               (c.simulated ? "; stop it or give this one another --sim-root" : "; stop it first");
    }
    // Held for the life of the process: the descriptor closes when a
    // restart runs the program again, which takes the lock anew.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != ssize_t(pid.size()))
        zevlog::warnErrno(lcBoard(), (path + ": process id not written").c_str());
    return {};
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
