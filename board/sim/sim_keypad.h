// The simulated USB keypad. Keys are played by appending key names to the
// file "keypad" in the model folder, e.g.
//     echo "WIN2 HDMI1 FREEZE OK" >> ~/.zevQ64N-sim/sim/keypad
// (names: the letters A..S the keypad sends, LEFT RIGHT OK MODE BACK,
// WIN1..WIN6, EXT DVI HDMI1..HDMI4, FREEZE, BLACK; '#' starts a comment).
// Every LED report the keypad receives is kept and appended as a line of
// hex bytes to "keypad_leds" in the same folder.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "board/keypad.h"

namespace board::sim
{

class SimKeypad final : public Keypad
{
  public:
    // modelDir: the folder of the key and LED files.
    explicit SimKeypad(const std::string& modelDir);

    int init() override;
    std::vector<HidDeviceId> enumerate() override;
    int sendReport(const uint8_t* report, size_t length) override;
    std::vector<int> takeKeys() override;
    std::string keyFile() const override { return keyFile_; }

    const std::string& ledFile() const { return ledFile_; }
    // The LED reports received so far.
    std::vector<std::vector<uint8_t>> reports() const;
    void clearReports();
    // Faults and set-ups for tests: no keypad plugged, hid_init failing,
    // writes failing.
    void setPresent(bool present);
    void setInitFails(bool fails);
    void setWriteFails(bool fails);

    // Key codes of the names in a text; unknown names are skipped.
    static std::vector<int> parseKeys(const std::string& text);

  private:
    mutable std::mutex mutex_;
    std::string keyFile_;
    std::string ledFile_;
    long readOffset_ = 0;
    static constexpr int kMaxRead = 64 * 1024;
    std::vector<std::vector<uint8_t>> reports_;
    bool present_ = true;
    bool initFails_ = false;
    bool writeFails_ = false;
};

} // namespace board::sim
