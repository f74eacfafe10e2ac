// The LED-output FPGA of the simulated board, behind "/dev/spidev32766.1"
// and the SoC pads: it decodes the 4-byte command words, keeps registers
// with masked writes and the RAM pages, reports the status bits of its
// start-up, honours the reset line, and offers the seam that a model of the
// receiving cards uses: a hook for packets sent on the output ports, and
// answers placed into the receive pages with the interrupt raised.
//
// The model has no thread of its own: it acts when the bus or the pads are
// driven, so a test that runs one worker pass at a time drives it
// synchronously.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "board/sim/sim_board.h"

namespace board::sim
{

class SimSpiFlash;

class SimFpga final : public SpiDevice
{
  public:
    static constexpr unsigned kPages = 256;
    static constexpr unsigned kPageBytes = 4096;
    static constexpr unsigned kRxSlots = 8;

    explicit SimFpga(Pads& pads);
    ~SimFpga() override;
    int transfer(const SpiXfer* xfers, unsigned n) override;
    void onPad(uint32_t offset, uint16_t value);

    // Faults.
    void setVboNeverLocks(bool on);
    void setRamCheckCorrupts(bool on);
    void setOutputCheckNeverPasses(bool on);
    // Input check value of register 31 (valid 25 to 48; 0 = input out of
    // range).
    void setInputCheck(uint8_t value);
    // The input lost (register 31 reads 0) or back (the input check value
    // again); each change is announced as the FPGA does, register 22 bit 6
    // with the interrupt raised.
    void setInputLost(bool lost);
    // The input as the FPGA measures it (parameter page bytes 116 to 123).
    void setMeasuredInput(uint16_t width, uint16_t height, uint32_t period);
    // Link bits of the 16 output ports (registers 128 and 144).
    void setLinks(uint16_t bits);

    // Observation.
    uint8_t reg(uint8_t r) const;
    std::vector<uint8_t> ram(uint8_t page, uint16_t address, uint16_t length) const;
    bool inReset() const;
    unsigned resets() const;
    // Transactions as the FPGA saw them, while recording is on.
    struct Access {
        bool ram;
        bool read;
        uint8_t page;     // RAM page
        uint16_t address; // RAM address or register number
        uint8_t mask;     // register write mask
        std::vector<uint8_t> data;
    };
    void setRecording(bool on);
    std::vector<Access> accesses() const;
    void clearAccesses();

    // Card side. The hook gets every packet started on an output port (port
    // 0 to 15); it runs outside the model's lock and may place answers.
    using TransmitHook = std::function<void(int port, const std::vector<uint8_t>& packet)>;
    void setTransmitHook(TransmitHook hook);
    // Runs before every bus message, outside the model's lock: a card model
    // places the answers that have become due.
    void setPollHook(std::function<void()> hook);
    // Runs the poll hook: called when the interrupt line is read, so answers
    // that became due raise it without a bus message.
    void poll();
    // Places an answer into receive slot 0 to 7 (RX pages 2, 4, ... 16): its
    // length registers and data-ready bit are set and the interrupt raised.
    // An answer for a slot that still holds one waits until that one is
    // acknowledged. False for an empty answer or one above 1024 bytes.
    bool placeAnswer(unsigned slot, const uint8_t* data, size_t length);

    // Registers, pages and status back to power-on; faults stay.
    void powerOn();

  private:
    void powerOnLocked();
    uint8_t readReg(uint8_t r) const;
    void writeReg(uint8_t r, uint8_t mask, uint8_t value, std::vector<std::pair<int, std::vector<uint8_t>>>* sent);
    void deliverLocked(unsigned slot, const std::vector<uint8_t>& answer);
    bool locked() const;
    void syncIrqLocked();
    void driveIrq();

    Pads& pads_;
    mutable std::mutex mutex_;
    uint8_t regs_[256] = {};
    std::vector<uint8_t> ram_;
    std::deque<std::vector<uint8_t>> waiting_[kRxSlots];
    bool csLow_ = false, cmdHigh_ = false, rstLow_ = false;
    std::vector<uint8_t> cmd_;
    uint32_t dataPos_ = 0;
    bool vboFault_ = false, ramFault_ = false, outputFault_ = false;
    uint8_t inputCheck_ = 36;
    bool inputLost_ = false;
    uint16_t measuredW_ = 1920, measuredH_ = 1080;
    uint32_t measuredPeriod_ = 833333;
    uint16_t links_ = 0;
    unsigned resets_ = 0;
    bool irq_ = false, irqDriven_ = false;
    bool recording_ = false;
    std::vector<Access> accesses_;
    // Taken under the lock and run outside it: a shared copy costs no
    // allocation per bus message.
    std::shared_ptr<const TransmitHook> hook_;
    std::shared_ptr<const std::function<void()>> poll_;
};

// Creates the FPGA and its flash (a file under the model folder) on the
// board's SPI devices and pads; they live until the next attach.
void attachFpga(SimBoard& board);
// The models of the last attach, null before it.
SimFpga* simFpga();
SimSpiFlash* simFpgaFlash();

} // namespace board::sim
