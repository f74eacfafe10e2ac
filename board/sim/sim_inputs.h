// The simulated inputs on "/dev/i2c-0": the I2C switch (0x70) whose channel
// n reaches source n's receiver (0x48; IT6602 registers on channels 0..3,
// IT6805 registers on 4 and 5) and EDID EEPROM (0x50), the hot-plug
// expander (0x20) and the two SiI9022A transmitters (0x39, 0x3B).
//
// Which sources carry a signal comes from the text file "inputs" in the
// model folder, read again whenever it changes; one line per source:
//     HDMI1 1920x1080@60
//     DVI off
// (names EXT, DVI, HDMI1..HDMI4 or ids 0..5; '#' starts a comment).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/sim/sim_board.h"
#include "board/sim/watched_file.h"

namespace board::sim
{

class SimInputs
{
  public:
    struct Signal {
        uint16_t width = 0, height = 0;
        uint8_t rate = 0;
    };

    // Attaches the chips to the board's I2C bus; creates the inputs file
    // (HDMI1 at 1920x1080@60, the others off) when it is missing.
    SimInputs(SimBoard& board, const std::string& inputsPath);
    static SimInputs* current();

    const std::string& inputsPath() const { return file_.path(); }
    // The signal of a source as the file says now.
    Signal signal(int source);
    // What the chips were given.
    std::array<uint8_t, 256> eeprom(int source);
    bool hotPlug(int source);
    // Faults: the transmitter of an output does not answer; an EEPROM
    // refuses writes.
    void setTransmitterPresent(int output, bool present);
    void setEepromBroken(int source, bool broken);

    // Parses the file's text; unknown lines are skipped.
    static std::array<Signal, 6> parse(const std::string& text);

  private:
    class Chip;
    friend class Chip;
    bool write(uint16_t addr, const uint8_t* data, uint16_t len);
    bool read(uint16_t addr, uint8_t* data, uint16_t len);
    void refresh();
    uint8_t receiverReg(int source, uint8_t reg);

    std::vector<std::unique_ptr<I2cDevice>> chips_;
    std::mutex mutex_;
    WatchedFile file_;
    std::array<Signal, 6> signals_{};
    uint8_t channel_ = 0;
    uint8_t pointer_[0x80] = {}; // register pointer per address
    std::array<std::array<uint8_t, 256>, 6> eeprom_{};
    std::array<bool, 6> eepromBusy_{}, eepromBroken_{};
    std::array<uint8_t, 8> expander_{};
    std::array<bool, 2> txPresent_{{true, true}};
};

} // namespace board::sim
