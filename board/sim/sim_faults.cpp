#include "board/sim/sim_faults.h"

#include <cstdlib>
#include <memory>
#include <sstream>

#include "board/sim/sim_fpga.h"

namespace board::sim
{

namespace
{
const char kDefaultFile[] = "# Faults of the simulated hardware, read again when this file changes.\n"
                            "# One per line; remove a line to clear its fault:\n"
                            "#   fpga vbo | fpga ram | fpga output | fpga input\n"
                            "#   cards <port 1-16> silent | badcheck | short | delay <ticks>\n"
                            "#   clock ahead <ticks>\n";

std::unique_ptr<SimFaults> g_faults;
} // namespace

SimFaults::SimFaults(std::string path)
    : file_(std::move(path), kDefaultFile, [this] {
          // On the watching thread: the clock moves at once, as a stall
          // would, not at the next bus message.
          std::string text;
          std::lock_guard<std::mutex> lock(mutex_);
          if (file_.read(&text))
              clockAheadLocked(parse(text).clockAhead);
      })
{
}

SimFaults::Set SimFaults::parse(const std::string& text)
{
    Set s;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string device, what;
        if (!(words >> device))
            continue;
        if (device == "fpga" && words >> what) {
            if (what == "vbo")
                s.vbo = true;
            else if (what == "ram")
                s.ram = true;
            else if (what == "output")
                s.output = true;
            else if (what == "input")
                s.input = true;
            continue;
        }
        if (device == "clock") {
            std::string ticks;
            char* end = nullptr;
            if (!(words >> what >> ticks) || what != "ahead" || ticks[0] == '-')
                continue;
            const unsigned long v = std::strtoul(ticks.c_str(), &end, 0);
            if (end != ticks.c_str() && !*end && v <= UINT32_MAX)
                s.clockAhead = uint32_t(v);
            continue;
        }
        long port = 0;
        if (device != "cards" || !(words >> port >> what) || port < 1 || port > long(SimCards::kPorts))
            continue;
        const size_t p = size_t(port - 1);
        if (what == "silent") {
            s.cards[p] = SimCards::Fault::Silent;
        } else if (what == "badcheck") {
            s.cards[p] = SimCards::Fault::BadCheck;
        } else if (what == "short") {
            s.cards[p] = SimCards::Fault::Short;
        } else if (what == "delay") {
            std::string ticks;
            char* end = nullptr;
            if (!(words >> ticks))
                continue;
            const unsigned long v = std::strtoul(ticks.c_str(), &end, 0);
            if (end == ticks.c_str() || *end || ticks[0] == '-')
                continue;
            s.cards[p] = SimCards::Fault::Delayed;
            s.delay[p] = uint32_t(v);
        }
    }
    return s;
}

void SimFaults::reload()
{
    std::lock_guard<std::mutex> lock(mutex_);
    reloadLocked();
}

SimFaults::Set SimFaults::current()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
}

void SimFaults::reloadLocked()
{
    if (!file_.changed())
        return;
    std::string text;
    // A file removed clears every fault.
    const Set now = file_.read(&text) ? parse(text) : Set{};
    const Set was = set_;
    set_ = now;
    // Only what the file changed is switched, so a fault set by other means
    // stays until the file speaks of it.
    if (SimFpga* f = simFpga()) {
        if (now.vbo != was.vbo)
            f->setVboNeverLocks(now.vbo);
        if (now.ram != was.ram)
            f->setRamCheckCorrupts(now.ram);
        if (now.output != was.output)
            f->setOutputCheckNeverPasses(now.output);
        if (now.input != was.input)
            f->setInputLost(now.input);
    }
    if (SimCards* c = simCards())
        for (unsigned p = 0; p < SimCards::kPorts; ++p)
            if (now.cards[p] != was.cards[p] || now.delay[p] != was.delay[p])
                c->setFault(p, now.cards[p], now.delay[p]);
    clockAheadLocked(now.clockAhead);
}

void SimFaults::clockAheadLocked(uint32_t ahead)
{
    if (ahead <= clockAhead_)
        return;
    forwardClock(ahead - clockAhead_);
    clockAhead_ = ahead;
}

void attachFaults(SimBoard& board)
{
    g_faults = std::make_unique<SimFaults>(board.modelDir() + "/faults");
    g_faults->reload();
    board.simSpi().setAccessHook([] {
        // One stat() of the file: cheap beside a bus message.
        if (SimFaults* f = simFaults())
            f->reload();
    });
}

SimFaults* simFaults()
{
    return g_faults.get();
}

} // namespace board::sim
