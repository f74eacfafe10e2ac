#include "chips/iTE6805_DRV.h"

#include "chips/rx_timing.h"

int iTE6805_DRV::read_timing(int source, SOURCE_TIMING* out)
{
    static constexpr RxTimingRegs regs{kAddr, kRegStatus, kStatusStable, kRegHActive, kRegVActive, kRegRate};
    return rx_read_timing(source, regs, out);
}
