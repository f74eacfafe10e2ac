// The fault switches of the simulated hardware, from the text file "faults"
// in the model folder, read again when it changes (looked at whenever the
// program addresses an SPI device). One fault per line:
//     fpga vbo            V-by-One never locks
//     fpga ram            the RAM check reads back corrupted
//     fpga output         the output check never passes
//     fpga input          register 31 out of range, with the interrupt raised
//     cards PORT silent   the cards of port 1 to 16 never answer
//     cards PORT badcheck answers with a wrong check byte
//     cards PORT short    answers cut short
//     cards PORT delay TICKS  answers TICKS ticks late
//     clock ahead TICKS   time jumps on to stand TICKS ticks ahead of the
//                         clock (as after a stall of the box) as soon as
//                         the file changes, bus traffic or not: only a
//                         larger number moves it again, it never goes back
// A line removed clears its fault; '#' starts a comment.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "board/sim/sim_cards.h"
#include "board/sim/watched_file.h"

namespace board::sim
{

class SimFaults
{
  public:
    struct Set {
        bool vbo = false, ram = false, output = false, input = false;
        std::array<SimCards::Fault, SimCards::kPorts> cards{};
        std::array<uint32_t, SimCards::kPorts> delay{};
        uint32_t clockAhead = 0;
    };

    // Creates the file (comments only, no fault) when it is missing.
    explicit SimFaults(std::string path);
    const std::string& path() const { return file_.path(); }
    // Reads the file now when it changed and switches the faults that
    // differ from the last reading on the models of the last attach.
    void reload();
    Set current();

    // Unknown lines are skipped.
    static Set parse(const std::string& text);

  private:
    void reloadLocked();
    // Moves time on to ahead ticks in all, when that is further.
    void clockAheadLocked(uint32_t ahead);
    std::mutex mutex_;
    uint32_t clockAhead_ = 0; // how far time was moved on in all
    WatchedFile file_;
    Set set_;
};

// Creates the switches on the board (its file under the model folder) and
// looks at them before every SPI message.
void attachFaults(SimBoard& board);
SimFaults* simFaults();

} // namespace board::sim
