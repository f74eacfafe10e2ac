// The LED receiving cards of the simulated board, hanging in chains on the
// simulated FPGA's output ports, and a multifunction card on a chosen port.
// Each packet the FPGA sends on a port reaches that port's chain; the
// addressed card answers in the receiving-card format (the request's header
// with the addresses swapped, status at byte 10, data, BCC) into the receive
// slot of the port's pair, after the answer delay, with the interrupt
// raised.
//
// The chains come from the text file "cards" in the model folder (made with
// two chains of eight cards when missing, read again when it changes):
//     port 1 cards 8 config 0x00000001 status 0 check 255
//     port 5 cards 0            (link, no cards)
//     multifunction 1 light 128
// Ports are 1 to 16; a port without a line has no link. '#' starts a comment.
//
// The model has no thread: answers that are due are placed when the FPGA is
// next addressed on the bus.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "board/sim/sim_board.h"
#include "board/sim/watched_file.h"

namespace board::sim
{

class SimFpga;

class SimCards
{
  public:
    static constexpr unsigned kPorts = 16;
    static constexpr uint32_t kCardRam = 4096;
    // Where the multifunction card keeps its data: its RAM page 0 (256
    // bytes) and its sensor block (128 bytes).
    static constexpr uint32_t kVmfSensor = 0x02000000;

    struct Chain {
        bool link = false;
        uint16_t cards = 0;
        uint32_t config = 0; // screen configuration id
        uint8_t status = 0;
        uint8_t check = 255; // card that lost its set-up; 255 none
    };
    struct Layout {
        std::array<Chain, kPorts> ports{};
        int vmfPort = -1; // 0 to 15, -1 = none
        uint8_t vmfLight = 128;
    };

    enum class Fault { None, Silent, BadCheck, Short, Delayed };

    // clock gives the current tick (10 ms units); answers wait delayTicks of
    // it.
    SimCards(SimFpga& fpga, std::string path, std::function<uint32_t()> clock);
    ~SimCards();
    SimCards(const SimCards&) = delete;
    SimCards& operator=(const SimCards&) = delete;

    const std::string& path() const { return file_.path(); }
    Layout layout();
    // Re-reads the file now (the model also does when a search arrives).
    void reload();

    // Delay of every answer, in ticks (default 1).
    void setAnswerDelay(uint32_t ticks);
    // Per-port fault (port 0 to 15); Delayed adds extraTicks to the delay.
    void setFault(unsigned port, Fault fault, uint32_t extraTicks = 0);
    Fault fault(unsigned port);
    void clearFaults();
    // Faults cleared, delay back to 1, answers not yet placed and the packet
    // log dropped.
    void reset();

    // Observation: packets received since the last reset (port and bytes)
    // and their count per port, answers still to be placed, and a card's RAM
    // and registers.
    std::vector<std::pair<int, std::vector<uint8_t>>> received();
    unsigned packets(unsigned port);
    unsigned pendingAnswers();
    std::vector<uint8_t> cardRam(unsigned port, unsigned card, uint32_t address, uint32_t length);
    uint8_t cardReg(unsigned port, unsigned card, uint8_t reg);
    // What a card last saved into its flash (its RAM at the save), and how
    // many saves it took.
    std::vector<uint8_t> cardSaved(unsigned port, unsigned card, uint32_t address, uint32_t length);
    unsigned cardSaves(unsigned port, unsigned card);
    // Places the answers that are due.
    void poll();

    static Layout parse(const std::string& text);

  private:
    struct Card {
        std::vector<uint8_t> ram = std::vector<uint8_t>(kCardRam, 0);
        std::array<uint8_t, 256> regs{};
        std::vector<uint8_t> saved = std::vector<uint8_t>(kCardRam, 0);
        unsigned saves = 0;
    };
    struct Pending {
        unsigned slot;
        uint32_t due;
        std::vector<uint8_t> answer;
    };
    void onPacket(int port, const std::vector<uint8_t>& packet);
    void reloadLocked();
    bool answerLocked(unsigned port, const std::vector<uint8_t>& q, std::vector<uint8_t>* out);
    bool vmfAnswerLocked(const std::vector<uint8_t>& q, std::vector<uint8_t>* out);
    Card& card(unsigned port, unsigned index);
    void placeDueLocked();

    SimFpga& fpga_;
    WatchedFile file_;
    std::function<uint32_t()> clock_;
    std::mutex mutex_;
    Layout layout_;
    uint32_t delay_ = 1;
    std::array<Fault, kPorts> fault_{};
    std::array<uint32_t, kPorts> extra_{};
    std::array<unsigned, kPorts> packets_{};
    std::vector<std::pair<int, std::vector<uint8_t>>> received_;
    std::map<std::pair<unsigned, unsigned>, Card> cards_;
    Card vmf_;
    std::vector<Pending> pending_;
};

// Creates the cards on the simulated FPGA of the last attachFpga (nothing
// when there is none), with their file under the model folder. Their clock
// is the one handed in, else the board's monotonic clock in 10 ms ticks.
void attachCards(SimBoard& board, std::function<uint32_t()> clock = {});
SimCards* simCards();

} // namespace board::sim
