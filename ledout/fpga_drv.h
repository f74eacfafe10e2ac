// The LED-output FPGA's SPI link, the SPI flash behind it, and the SoC pads
// that act as the link's chip-select, command-strobe and reset lines.
#pragma once

#include "core/global.h"

// Offsets of the control lines in the mapped SoC pad window. A line is
// driven by writing 0x0010 (high) or 0x0000 (low).
namespace FpgaPad
{
constexpr u32 CS_FPGA0 = 0x207810;
constexpr u32 CS_FPGA1 = 0x207900;
constexpr u32 CMD_FPGA0 = 0x207838;
constexpr u32 CMD_FPGA1 = 0x20794C;
constexpr u32 CS_FLASH0 = 0x207860;
constexpr u32 CS_FLASH1 = 0x20790C;
constexpr u32 RST_FPGA0 = 0x207858;
constexpr u32 RST_FPGA1 = 0x207864;
// Interrupt line of each FPGA: bit 0 set while an interrupt is pending.
constexpr u32 IRQ_FPGA0 = 0x207908;
constexpr u32 IRQ_FPGA1 = 0x207910;
constexpr u16 kHigh = 0x0010;
constexpr u16 kLow = 0x0000;
} // namespace FpgaPad

// Flash geometry as the operations use it.
namespace FpgaFlash
{
constexpr u32 kSize = 0x800000;
constexpr u32 kSectorSize = 4096;
constexpr u32 kSectors = 2048;
constexpr u32 kPageSize = 256;
constexpr u32 kReadChunk = 2048;
// Bytes the caller leaves free in front of the data of a program.
constexpr u32 kWriteHeadroom = 4;
// Flash select values of the flash operations.
constexpr u8 kFlash0 = 2;
constexpr u8 kFlash1 = 3;
} // namespace FpgaFlash

class fpga_drv
{
  public:
    fpga_drv();

    // Opens the device of the select (0 FPGA 0, 1 FPGA 1, 2 flash 0, 3
    // flash 1) and sets mode 3, 8 bits, 10 MHz. Returns the descriptor, -1
    // when the device cannot be opened or set up.
    int initialize_vbyne1(unsigned char select);
    // Descriptor opened for a select, -1 when none.
    int descriptor(unsigned char select) const;

    // One full-duplex message; returns the bytes moved, -1 when refused or
    // failed.
    int SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, int len);
    int SPI_Transfer_Write(int fd, const unsigned char* tx, int len);

    // Waits until the flash's busy bit clears. 1 when ready, 0 when a status
    // read fails or the flash stays busy past the time limit.
    int FPGA_SPI_WAIT_BUSY(int fd);

    // Flash operations: flash 2 is flash 0, any other value flash 1. Each
    // returns 1 when done and 0 when refused or failed.
    int FPGA_SPI_FLASH_VBYONE_ERASE(unsigned char flash, unsigned int start, unsigned char kind, unsigned int count);
    // The data start at buffer byte 4 (the caller leaves four bytes free in
    // front); the caller's buffer is not written.
    int FPGA_SPI_FLASH_VBYONE_WRITE(unsigned char flash, unsigned int address, const unsigned char* buffer,
                                    unsigned int length);
    int FPGA_SPI_FLASH_VBYONE_READ(unsigned char flash, unsigned int address, unsigned int length, unsigned char* out);
    // The flash's 8-byte unique id.
    int FPGA_SPI_FLASH_SSTF016B_RD_UID(unsigned char flash, unsigned char* out);
    // Clears a flash's write protection with a fixed series of messages on
    // the descriptor, driving no line (the caller selects the flash). 1 when
    // every message went out, 0 at the first that failed.
    int FPGA_SPI_Disable_WP(int fd);

    // Control lines; every bus operation is refused while the pads are not
    // mapped.
    static bool lines_mapped();
    static void set_line(u32 offset, bool high);

    // Longest wait for the flash's busy bit, in milliseconds. A 64 KB block
    // erase takes up to 2 s on the fitted flash.
    unsigned busy_limit_ms = 3000;

  private:
    // The flash's descriptor and lines; false when the flash cannot be used.
    bool flash_select(unsigned char flash, int* fd, u32* csFlash, u32* csOwn, u32* csOther) const;
    int fds_[4] = {-1, -1, -1, -1};
};
