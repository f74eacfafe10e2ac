#include "video/c331_drv.h"

#include <chrono>
#include <unistd.h>
#include <vector>

#include <QMutexLocker>

#include "board/board.h"
#include "core/logging.h"
#include "core/utils.h"
#include "board/c331_regs.h"

using namespace C331Reg;

std::atomic<u32> c331_drv::flash_busy_limit_us{3000000};
std::mutex c331_drv::flash_mutex;
int c331_drv::current_bank = -1;
int c331_drv::current_fd = -1;

namespace
{
// Between two status reads of a busy flash.
constexpr useconds_t kBusyPollUs = 100;
} // namespace

int c331_drv::spi_open(const char* device)
{
    board::Spi& spi = board::current().spi();
    int fd = spi.open(device);
    if (fd < 0) {
        zevlog::warnErrno(lcVideo(), "c331: can't open device");
        return -1;
    }
    uint8_t mode = 3, bits = 8;
    if (spi.setMode(fd, mode) < 0 || spi.getMode(fd, &mode) < 0 || spi.setBits(fd, bits) < 0 ||
        spi.getBits(fd, &bits) < 0 || spi.setSpeed(fd, kSpeedHz) < 0) {
        zevlog::warnErrno(lcVideo(), "c331: can't set spi mode");
        return -1;
    }
    return fd;
}

int c331_drv::xfer(int fd, const u8* tx, u8* rx, u32 len)
{
    board::SpiXfer x;
    x.tx = tx;
    x.rx = rx;
    x.len = len;
    QMutexLocker lock(&Utils::_spi_mutex);
    if (board::current().spi().transfer(fd, &x, 1) < 0) {
        zevlog::warnErrno(lcVideo(), "c331: spi transfer failed");
        return 0;
    }
    return 1;
}

// Caller holds _c331_bnk_mutex.
int c331_drv::select_bank(int fd, u8 bank)
{
    if (current_fd == fd && current_bank == bank)
        return 1;
    const u8 tx[2] = {0x80, bank};
    if (!xfer(fd, tx, nullptr, 2)) {
        current_bank = -1;
        return 0;
    }
    current_fd = fd;
    current_bank = bank;
    return 1;
}

int c331_drv::write_reg(int fd, u16 reg, u8 value)
{
    return write_burst(fd, reg, &value, 1);
}

int c331_drv::read_reg(int fd, u16 reg, u8* value)
{
    return read_burst(fd, reg, value, 1);
}

int c331_drv::write_reg16(int fd, u16 reg, u16 value)
{
    return write_reg(fd, reg, u8(value)) && write_reg(fd, u16(reg + 1), u8(value >> 8));
}

int c331_drv::write_burst(int fd, u16 reg, const u8* data, u32 len)
{
    if (fd < 0 || len == 0 || addrOf(reg) == 0)
        return 0;
    std::vector<u8> tx(len + 1);
    tx[0] = u8(0x80 | addrOf(reg));
    std::copy(data, data + len, tx.begin() + 1);
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    if (!select_bank(fd, bankOf(reg)))
        return 0;
    if (!xfer(fd, tx.data(), nullptr, len + 1)) {
        current_bank = -1;
        return 0;
    }
    return 1;
}

int c331_drv::read_burst(int fd, u16 reg, u8* out, u32 len)
{
    if (fd < 0 || len == 0)
        return 0;
    std::vector<u8> tx(len + 1, 0xFF), rx(len + 1, 0);
    tx[0] = addrOf(reg);
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    if (!select_bank(fd, bankOf(reg)))
        return 0;
    if (!xfer(fd, tx.data(), rx.data(), len + 1)) {
        current_bank = -1;
        return 0;
    }
    std::copy(rx.begin() + 1, rx.end(), out);
    return 1;
}

int c331_drv::set_flash_addr(int fd, u32 addr)
{
    return write_reg(fd, kFlashAddr0, u8(addr)) && write_reg(fd, kFlashAddr1, u8(addr >> 8)) &&
           write_reg(fd, kFlashAddr2, u8(addr >> 16));
}

// The flash ignores erase and program without its write-enable latch.
int c331_drv::write_enable(int fd)
{
    u8 status = 0;
    return write_reg(fd, kFlashCmd, kCmdWriteEnable) && read_reg(fd, kFlashStatus, &status) && (status & kStatusWel);
}

int c331_drv::flash_wait_idle(int fd, u32 limit_us)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(limit_us);
    for (;;) {
        u8 status = 0;
        if (!read_reg(fd, kFlashStatus, &status))
            return 0;
        if (!(status & kStatusBusy))
            return 1;
        if (std::chrono::steady_clock::now() >= deadline) {
            if (debugOn())
                zevlog::debug(lcVideo(), "\n c331 flash busy time-out\n");
            return 0;
        }
        usleep(kBusyPollUs);
    }
}

int c331_drv::flash_erase_unit(int fd, u32 addr, u8 command)
{
    if (addr >= kFlashSize)
        return 0;
    std::lock_guard<std::mutex> lock(flash_mutex);
    return flash_wait_idle(fd, flash_busy_limit_us) && set_flash_addr(fd, addr) && write_enable(fd) &&
           write_reg(fd, kFlashCmd, command) && flash_wait_idle(fd, flash_busy_limit_us);
}

int c331_drv::flash_program_page(int fd, u32 addr, const u8* data, u32 len)
{
    if (len == 0 || len > kFlashPage || uint64_t(addr) + len > kFlashSize ||
        addr / kFlashPage != (addr + len - 1) / kFlashPage)
        return 0;
    std::lock_guard<std::mutex> lock(flash_mutex);
    return flash_wait_idle(fd, flash_busy_limit_us) && write_reg(fd, kFlashFifoReset, 1) &&
           write_burst(fd, kFlashData, data, len) && set_flash_addr(fd, addr) && write_reg(fd, kFlashLen, u8(len)) &&
           write_enable(fd) && write_reg(fd, kFlashCmd, kCmdPageProgram) && flash_wait_idle(fd, flash_busy_limit_us);
}

int c331_drv::flash_read_chunk(int fd, u32 addr, u8* out, u32 len)
{
    if (len == 0 || len > kFlashPage || uint64_t(addr) + len > kFlashSize)
        return 0;
    std::lock_guard<std::mutex> lock(flash_mutex);
    return flash_wait_idle(fd, flash_busy_limit_us) && write_reg(fd, kFlashFifoReset, 1) && set_flash_addr(fd, addr) &&
           write_reg(fd, kFlashLen, u8(len)) && write_reg(fd, kFlashCmd, kCmdRead) &&
           read_burst(fd, kFlashData, out, len);
}
