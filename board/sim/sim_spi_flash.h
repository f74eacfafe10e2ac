// The 8 MiB SPI flash behind the LED-output FPGA, kept in a file so that
// records survive a restart of the program. It keeps the rules of a real
// NOR flash (see NorFlash) and answers its commands as they come over SPI.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "board/sim/nor_flash.h"
#include "board/sim/sim_board.h"

namespace board::sim
{

class SimSpiFlash final : public SpiDevice, private NorFlash::Storage
{
  public:
    static constexpr uint32_t kSize = 0x800000;
    static constexpr uint32_t kPageSize = 256;

    // The flash answers only while both select pads are low.
    SimSpiFlash(std::string file, uint32_t csFlashPad, uint32_t csFpgaPad);
    // Loads the image file, creating a blank one; false when it cannot.
    bool open();
    int transfer(const SpiXfer* xfers, unsigned n) override;
    void onPad(uint32_t offset, uint16_t value);

    // One command as the flash saw it: command byte, address, data bytes.
    struct Op {
        uint8_t cmd;
        uint32_t address;
        uint32_t length;
    };
    std::vector<Op> ops() const;
    void clearOps();
    std::vector<uint8_t> peek(uint32_t address, uint32_t length) const;
    // Status reads that report busy after a program or erase.
    void setBusyReads(unsigned reads);
    // Fault: the flash never leaves busy.
    void setStuckBusy(bool stuck);
    static constexpr uint8_t kUid[8] = {0x5A, 0x45, 0x56, 0x46, 0x4C, 0x41, 0x53, 0x48};

  private:
    void read(uint32_t address, uint8_t* out, uint32_t length) override;
    void write(uint32_t address, const uint8_t* data, uint32_t length) override;

    const std::string file_;
    const uint32_t csFlashPad_, csFpgaPad_;
    mutable std::mutex mutex_;
    std::vector<uint8_t> mem_;
    int fd_ = -1;
    bool csFlashLow_ = false, csFpgaLow_ = false;
    NorFlash flash_{kSize, *this};
    std::vector<Op> ops_;
};

} // namespace board::sim
