// Register and serial-flash access of the c331 video processor over SPI.
// Every transfer holds Utils::_spi_mutex; every register access (bank select
// and the access itself) holds Utils::_c331_bnk_mutex. Results: 1 done, 0
// failed.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/global.h"

class c331_drv
{
  public:
    static constexpr const char* kDevice = "/dev/spidev32766.0";
    static constexpr uint32_t kSpeedHz = 10000000;

    // Opens the chip's spidev node in mode 3, 8 bits; the descriptor or -1.
    static int spi_open(const char* device = kDevice);

    // One register (C331Reg::reg(bank, addr)).
    static int write_reg(int fd, u16 reg, u8 value);
    static int read_reg(int fd, u16 reg, u8* value);
    // A 16-bit field over two registers, low byte first.
    static int write_reg16(int fd, u16 reg, u16 value);
    // Bursts on one register (the flash data port).
    static int write_burst(int fd, u16 reg, const u8* data, u32 len);
    static int read_burst(int fd, u16 reg, u8* out, u32 len);

    // Serial flash. Addresses are byte addresses; erase_unit takes the
    // erase command (0x20, 0x52, 0xD8) and erases the unit holding addr.
    static int flash_erase_unit(int fd, u32 addr, u8 command);
    // Programs up to one page; the range must not cross a page boundary.
    static int flash_program_page(int fd, u32 addr, const u8* data, u32 len);
    // Reads up to one page worth (256 bytes) from any address.
    static int flash_read_chunk(int fd, u32 addr, u8* out, u32 len);
    // Waits while the flash is busy, at most limit_us; 0 on time-out or a
    // failed transfer.
    static int flash_wait_idle(int fd, u32 limit_us);

    // Time limit of one busy wait (an erase of 64 KiB takes up to 2 s).
    static std::atomic<u32> flash_busy_limit_us;

  private:
    static int select_bank(int fd, u8 bank);
    static int xfer(int fd, const u8* tx, u8* rx, u32 len);
    static int set_flash_addr(int fd, u32 addr);
    static int write_enable(int fd);
    // Serialises whole flash operations between threads.
    static std::mutex flash_mutex;
    // Bank selected on the chip, -1 when unknown (after a failed transfer).
    static int current_bank;
    static int current_fd;
};
