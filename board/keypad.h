// The USB HID keypad (vendor 0x28E9, product 0x0380): finding it and
// sending it LED reports. Its keys reach the program as key events of the
// input system; a simulated keypad hands out the keys played on it instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace board
{

struct HidDeviceId {
    uint16_t vendor = 0;
    uint16_t product = 0;
};

class Keypad
{
  public:
    static constexpr uint16_t kVendor = 0x28E9;
    static constexpr uint16_t kProduct = 0x0380;

    virtual ~Keypad() = default;
    // hid_init: 0 on success, -1 on failure.
    virtual int init() = 0;
    // Every HID device present, in enumeration order.
    virtual std::vector<HidDeviceId> enumerate() = 0;
    // Opens the keypad, writes one output report as it stands (byte 0 in
    // the report-id position) and closes it again. 0 written, -1 the keypad
    // could not be opened, -2 the write failed.
    virtual int sendReport(const uint8_t* report, size_t length) = 0;
    // Key codes played on a simulated keypad since the last call, in order;
    // always empty for a real keypad.
    virtual std::vector<int> takeKeys() = 0;
    // The file a simulated keypad is played through; empty for a real one.
    virtual std::string keyFile() const = 0;
};

} // namespace board
