// Timing read shared by the receiver drivers: both chips report a stable
// flag and the active size and rate in registers.
#pragma once

#include "core/zevrampara.h"

struct RxTimingRegs {
    u8 addr, status, stableMask, hActive, vActive, rate;
};

// Selects the source's switch channel and reads its receiver; out is all
// zero without a stable signal. 1 when the receiver answered.
int rx_read_timing(int source, const RxTimingRegs& regs, SOURCE_TIMING* out);
