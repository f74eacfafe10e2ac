#include "chips/drv_i2c.h"

#include <cstring>

#include "board/board.h"
#include "core/logMsg.h"
#include "core/logging.h"

Drv_I2C0* Drv_I2C0::p_i2c0 = nullptr;

Drv_I2C0* Drv_I2C0::pInstance()
{
    if (!p_i2c0)
        p_i2c0 = new Drv_I2C0();
    return p_i2c0;
}

int Drv_I2C0::open_bus()
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    if (fd_ >= 0)
        return 0;
    fd_ = board::current().i2c().open(kBus);
    if (fd_ < 0) {
        zevlog::warnErrno(lcChips(), "i2c-0: can't open bus");
        writeLogMsg(LOG_ERROR, "i2c-0 can't be opened");
        return 255;
    }
    return 0;
}

int Drv_I2C0::i2c_write(u8 addr, const u8* data, u16 len)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    if (fd_ < 0 || !data || len == 0)
        return 0;
    board::I2cMsg msg;
    msg.addr = addr;
    msg.len = len;
    // A write segment is only read from.
    msg.buf = const_cast<u8*>(data);
    return board::current().i2c().rdwr(fd_, &msg, 1) == 1 ? 1 : 0;
}

int Drv_I2C0::write_reg(u8 addr, u8 reg, const u8* data, u16 len)
{
    if (len > 255 || (len && !data))
        return 0;
    u8 buf[256];
    buf[0] = reg;
    if (len)
        std::memcpy(buf + 1, data, len);
    return i2c_write(addr, buf, u16(len + 1));
}

int Drv_I2C0::read_reg(u8 addr, u8 reg, u8* out, u16 len)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    if (fd_ < 0 || !out || len == 0)
        return 0;
    board::I2cMsg msgs[2];
    msgs[0].addr = addr;
    msgs[0].len = 1;
    msgs[0].buf = &reg;
    msgs[1].addr = addr;
    msgs[1].flags = board::kI2cRead;
    msgs[1].len = len;
    msgs[1].buf = out;
    return board::current().i2c().rdwr(fd_, msgs, 2) == 2 ? 1 : 0;
}

int Drv_I2C0::select_channel(int channel)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    if (channel < 0 || channel > 7)
        return 0;
    if (channel == channel_)
        return 1;
    u8 mask = u8(1u << channel);
    if (!i2c_write(kSwitchAddr, &mask, 1)) {
        channel_ = -1;
        return 0;
    }
    channel_ = channel;
    return 1;
}
