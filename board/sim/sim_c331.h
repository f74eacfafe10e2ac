// The simulated c331 video processor behind "/dev/spidev32766.0": 256 banks
// of 128 one-byte registers reached with the bank protocol, and the chip's
// 32 MiB serial flash behind its flash-controller bank, kept in a file under
// the model folder with real erase and program rules (see NorFlash).
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "board/sim/nor_flash.h"
#include "board/sim/sim_board.h"

namespace board::sim
{

class SimC331 final : public SpiDevice, private NorFlash::Storage
{
  public:
    // flashPath is the host file of the flash; it is created erased, with the
    // four font headers, when missing.
    explicit SimC331(const std::string& flashPath);
    ~SimC331() override;
    int transfer(const SpiXfer* xfers, unsigned n) override;

    // The model attached last (tests and tools reach it here).
    static SimC331* current();

    uint8_t reg(uint8_t bank, uint8_t addr);
    uint16_t reg16(uint8_t bank, uint8_t addr)
    {
        return uint16_t(reg(bank, addr) | (reg(bank, uint8_t(addr + 1)) << 8));
    }
    // Register writes seen so far, for tests that check what was programmed.
    unsigned writeCount();

    // Flash as the chip sees it.
    std::vector<uint8_t> flashRead(uint32_t addr, uint32_t len);
    // Writes 35-byte font headers ('P' first) at the font addresses whose
    // bit is set in mask (bit 0 32-px English, 1 32-px Chinese, 2 64-px
    // English, 3 64-px Chinese) and erases the headers of the others.
    void setFonts(unsigned mask);

    // Faults: the flash stays busy for ever; the chip answers a wrong id.
    void setFlashStuck(bool stuck);
    void setWrongId(bool wrong);
    // Status reads a flash operation stays busy for (default 2).
    void setBusyReads(int reads);

    static constexpr uint32_t kFlashSize = 0x2000000;
    static constexpr uint32_t kFontAddr[4] = {0x0, 0x10000, 0x410000, 0x450000};

  private:
    void writeReg(uint8_t addr, uint8_t value);
    uint8_t readReg(uint8_t addr);
    void flashCommand(uint8_t cmd);
    // The flash file; bytes that cannot be read are 0xFF.
    void read(uint32_t addr, uint8_t* out, uint32_t len) override;
    void write(uint32_t addr, const uint8_t* data, uint32_t len) override;

    std::mutex mutex_;
    std::array<std::array<uint8_t, 128>, 256> regs_{};
    uint8_t bank_ = 0;
    unsigned writes_ = 0;
    int fd_ = -1;
    // Flash controller state.
    std::vector<uint8_t> txFifo_, rxFifo_;
    size_t rxPos_ = 0;
    NorFlash flash_{kFlashSize, *this};
    bool wrongId_ = false;
};

} // namespace board::sim
