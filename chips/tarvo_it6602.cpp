#include "chips/tarvo_it6602.h"

#include "chips/rx_timing.h"

int tarvo_it6602::read_timing(int source, SOURCE_TIMING* out)
{
    static constexpr RxTimingRegs regs{kAddr, kRegStatus, kStatusStable, kRegHActive, kRegVActive, kRegRate};
    return rx_read_timing(source, regs, out);
}
