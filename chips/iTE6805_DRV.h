// The IT6805 HDMI 2.0 receivers of sources 4 and 5 (HDMI3, HDMI4), one
// device state each: the measured input timing.
#pragma once

#include "core/zevrampara.h"

namespace iTE6805_DRV
{

constexpr u8 kAddr = 0x48;
constexpr u8 kRegStatus = 0x13; // bit 1: video stable
constexpr u8 kStatusStable = 0x02;
constexpr u8 kRegHActive = 0x9C; // 16-bit, low byte first
constexpr u8 kRegVActive = 0x9E;
constexpr u8 kRegRate = 0xA0;

// Fills out with the source's timing (all zero without a stable signal);
// 1 when the receiver answered.
int read_timing(int source, SOURCE_TIMING* out);

} // namespace iTE6805_DRV
