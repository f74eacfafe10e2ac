// Access to the I2C bus "/dev/i2c-0" of the input and output chips. One
// transaction at a time; bus_mutex is also held by callers for a sequence
// that must not be split (an I2C-switch channel and the access behind it).
// Results: 1 done, 0 failed (no acknowledge or no bus).
#pragma once

#include <mutex>

#include "core/global.h"

class Drv_I2C0
{
  public:
    static constexpr const char* kBus = "/dev/i2c-0";

    static Drv_I2C0* p_i2c0;
    static Drv_I2C0* pInstance();

    // Opens the bus; 0 done, 255 when it cannot be opened.
    int open_bus();
    bool opened() const { return fd_ >= 0; }

    // Plain write of len bytes to the 7-bit address.
    int i2c_write(u8 addr, const u8* data, u16 len);
    // Register write: reg then data in one message.
    int write_reg(u8 addr, u8 reg, const u8* data, u16 len);
    int write_reg8(u8 addr, u8 reg, u8 value) { return write_reg(addr, reg, &value, 1); }
    // Register read: reg written, then len bytes read, in one transaction.
    int read_reg(u8 addr, u8 reg, u8* out, u16 len);
    int read_reg8(u8 addr, u8 reg, u8* value) { return read_reg(addr, reg, value, 1); }

    // The I2C switch in front of each input's receiver and EDID EEPROM:
    // channel n reaches the chips of source n. Callers hold bus_mutex from
    // here to the end of their access.
    static constexpr u8 kSwitchAddr = 0x70;
    int select_channel(int channel);

    std::recursive_mutex bus_mutex;

  private:
    int fd_ = -1;
    int channel_ = -1; // -1 unknown
};
