#include "chips/sii9022.h"

#include "chips/drv_i2c.h"
#include "core/zevrampara.h"

SiI9022* SiI9022::p_9022 = nullptr;
constexpr u8 SiI9022::kAddr[2];

SiI9022* SiI9022::pInstance()
{
    if (!p_9022)
        p_9022 = new SiI9022();
    return p_9022;
}

int SiI9022::check_9022(int output)
{
    u8 value = 0;
    int ok = Drv_I2C0::p_i2c0 && Drv_I2C0::p_i2c0->read_reg8(kAddr[output ? 1 : 0], kRegDeviceId, &value);
    u8 bit = output ? 0x04 : 0x02;
    u8& present = ZevRamPara::device.status[0];
    present = ok ? u8(present | bit) : u8(present & ~bit);
    return ok;
}
