// The SiI9022A HDMI transmitters of the monitor outputs.
#pragma once

#include "core/global.h"

class SiI9022
{
  public:
    static SiI9022* p_9022;
    static SiI9022* pInstance();

    // I2C addresses of the transmitter of output 0 and of output 1.
    static constexpr u8 kAddr[2] = {0x39, 0x3B};
    static constexpr u8 kRegDeviceId = 0x62;

    // Reads register 0x62 of the output's transmitter; 1 when it answered,
    // 0 when not. The answer is kept in the device-present byte of the
    // parameter store: bit 2 for output 1, bit 1 for output 0.
    int check_9022(int output);
};
