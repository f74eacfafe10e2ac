// The IT6602 HDMI receivers of sources 0 to 3 (EXT, DVI, HDMI1, HDMI2): the
// measured input timing.
#pragma once

#include "core/zevrampara.h"

namespace tarvo_it6602
{

constexpr u8 kAddr = 0x48;
constexpr u8 kRegStatus = 0x10; // bit 0: video stable
constexpr u8 kStatusStable = 0x01;
constexpr u8 kRegHActive = 0x20; // 16-bit, low byte first
constexpr u8 kRegVActive = 0x22;
constexpr u8 kRegRate = 0x24; // frame rate in Hz

// Fills out with the source's timing (all zero without a stable signal);
// 1 when the receiver answered.
int read_timing(int source, SOURCE_TIMING* out);

} // namespace tarvo_it6602
