#include "chips/rx_timing.h"

#include <cstring>

#include "chips/drv_i2c.h"

int rx_read_timing(int source, const RxTimingRegs& regs, SOURCE_TIMING* out)
{
    std::memset(out, 0, sizeof *out);
    Drv_I2C0* bus = Drv_I2C0::p_i2c0;
    if (!bus)
        return 0;
    std::lock_guard<std::recursive_mutex> lock(bus->bus_mutex);
    u8 status = 0, h[2], v[2], rate = 0;
    if (!bus->select_channel(source) || !bus->read_reg8(regs.addr, regs.status, &status))
        return 0;
    if (!(status & regs.stableMask))
        return 1;
    if (!bus->read_reg(regs.addr, regs.hActive, h, 2) || !bus->read_reg(regs.addr, regs.vActive, v, 2) ||
        !bus->read_reg8(regs.addr, regs.rate, &rate))
        return 0;
    out->width = u16(h[0] | h[1] << 8);
    out->height = u16(v[0] | v[1] << 8);
    out->rate = rate;
    return 1;
}
