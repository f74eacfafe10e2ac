#include "ledout/fpga_drv.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unistd.h>
#include <vector>

#include <QMutexLocker>

#include "board/board.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/utils.h"

namespace
{

constexpr u8 kSpiMode = 3;
constexpr u8 kSpiBits = 8;
constexpr u32 kSpiSpeed = 10000000;

const char* const kDevices[4] = {"/dev/spidev32766.1", "/dev/spidev32766.2", "/dev/spidev32766.3",
                                 "/dev/spidev32766.4"};

// Flash commands.
constexpr u8 kWriteEnable = 0x06;
constexpr u8 kReadStatus = 0x05;
constexpr u8 kPageProgram = 0x02;
constexpr u8 kFastRead = 0x0B;
constexpr u8 kReadUid = 0x4B;
constexpr u8 kEraseCmd[3] = {0x20, 0x52, 0xD8};
constexpr u32 kEraseSectors[3] = {1, 8, 16};

// Pause between two status reads of a busy flash.
constexpr useconds_t kBusyPollUs = 50;

// Holds the SPI controller and the flash's select lines for one flash
// transaction.
class FlashSession
{
  public:
    FlashSession(u32 csFlash, u32 csOwn, u32 csOther) : lock_(&Utils::_spi_mutex), csFlash_(csFlash)
    {
        fpga_drv::set_line(csOther, true);
        fpga_drv::set_line(csOwn, false);
        fpga_drv::set_line(csFlash, false);
    }
    ~FlashSession()
    {
        fpga_drv::set_line(csFlash_, true);
        fpga_drv::set_line(FpgaPad::CS_FPGA1, true);
        fpga_drv::set_line(FpgaPad::CS_FPGA0, true);
    }
    FlashSession(const FlashSession&) = delete;
    FlashSession& operator=(const FlashSession&) = delete;

  private:
    QMutexLocker lock_;
    u32 csFlash_;
};

void putAddress(u8* p, u32 address)
{
    p[0] = u8(address >> 16);
    p[1] = u8(address >> 8);
    p[2] = u8(address);
}

bool inFlash(unsigned int address, unsigned int length)
{
    return length != 0 && uint64_t(address) + length <= FpgaFlash::kSize;
}

} // namespace

fpga_drv::fpga_drv()
{
    writeLogMsg(LOG_BANNER, "====fpga_drv::fpga_drv()=====");
}

int fpga_drv::initialize_vbyne1(unsigned char select)
{
    if (select > 3)
        return -1;
    board::Spi& spi = board::current().spi();
    int fd = spi.open(kDevices[select]);
    fds_[select] = fd;
    if (fd < 0) {
        zevlog::warnErrno(lcLedout(), "can't open fpga spi device\n");
        return -1;
    }
    if (debugOn())
        zevlog::debug(lcLedout(), "\n fpga_drv SPI - Open Succeed. Start Init SPI...");
    u8 mode = kSpiMode, bits = kSpiBits;
    u32 speed = kSpiSpeed;
    if (spi.setMode(fd, mode) < 0)
        zevlog::warnErrno(lcLedout(), "can't set spi mode\n");
    if (spi.getMode(fd, &mode) < 0 && debugOn())
        zevlog::debug(lcLedout(), "can't get spi mode");
    if (spi.setBits(fd, bits) < 0 && debugOn())
        zevlog::debug(lcLedout(), "can't set bits per word");
    if (spi.getBits(fd, &bits) < 0 && debugOn())
        zevlog::debug(lcLedout(), "can't get bits per word");
    if (spi.setSpeed(fd, speed) < 0 && debugOn())
        zevlog::debug(lcLedout(), "can't set max speed hz");
    if (spi.getSpeed(fd, &speed) < 0 && debugOn())
        zevlog::debug(lcLedout(), "can't get max speed hz");
    return fd;
}

int fpga_drv::descriptor(unsigned char select) const
{
    return select < 4 ? fds_[select] : -1;
}

bool fpga_drv::lines_mapped()
{
    return board::current().pads().mapped();
}

void fpga_drv::set_line(u32 offset, bool high)
{
    board::Pads& pads = board::current().pads();
    if (pads.mapped())
        pads.write16(offset, high ? FpgaPad::kHigh : FpgaPad::kLow);
}

int fpga_drv::SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, int len)
{
    if (fd < 0 || len <= 0 || !lines_mapped())
        return -1;
    board::SpiXfer x;
    x.tx = tx;
    x.rx = rx;
    x.len = u32(len);
    int r = board::current().spi().transfer(fd, &x, 1);
    if (r <= 0) {
        zevlog::warnErrno(lcLedout(), "can't send fpga_spi message\n");
        return -1;
    }
    return r;
}

int fpga_drv::SPI_Transfer_Write(int fd, const unsigned char* tx, int len)
{
    return SPI_Transfer(fd, tx, nullptr, len);
}

int fpga_drv::FPGA_SPI_WAIT_BUSY(int fd)
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(busy_limit_ms);
    for (;;) {
        const u8 tx[2] = {kReadStatus, 0xFF};
        u8 rx[2] = {0, 0};
        if (SPI_Transfer(fd, tx, rx, 2) < 0)
            return 0;
        if (!(rx[1] & 0x01))
            return 1;
        if (clock::now() >= deadline) {
            writeLogMsg(LOG_ERROR, "fpga flash stays busy");
            return 0;
        }
        usleep(kBusyPollUs);
    }
}

bool fpga_drv::flash_select(unsigned char flash, int* fd, u32* csFlash, u32* csOwn, u32* csOther) const
{
    if (flash == FpgaFlash::kFlash0) {
        *fd = fds_[2];
        *csFlash = FpgaPad::CS_FLASH0;
        *csOwn = FpgaPad::CS_FPGA0;
        *csOther = FpgaPad::CS_FPGA1;
    } else {
        *fd = fds_[3];
        *csFlash = FpgaPad::CS_FLASH1;
        *csOwn = FpgaPad::CS_FPGA1;
        *csOther = FpgaPad::CS_FPGA0;
    }
    return *fd >= 0 && lines_mapped();
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(unsigned char flash, unsigned int start, unsigned char kind,
                                          unsigned int count)
{
    if (kind > 2)
        return 0;
    const u32 unit = kEraseSectors[kind];
    if (uint64_t(start) + uint64_t(count) * unit > FpgaFlash::kSectors)
        return 0;
    int fd;
    u32 csFlash, csOwn, csOther;
    if (!flash_select(flash, &fd, &csFlash, &csOwn, &csOther))
        return 0;
    FlashSession session(csFlash, csOwn, csOther);
    if (!FPGA_SPI_WAIT_BUSY(fd))
        return 0;
    for (unsigned int i = 0; i < count; ++i) {
        const u8 wren = kWriteEnable;
        if (SPI_Transfer_Write(fd, &wren, 1) < 0 || !FPGA_SPI_WAIT_BUSY(fd))
            return 0;
        u8 cmd[4] = {kEraseCmd[kind], 0, 0, 0};
        const u32 address = (start & 0xFFFF) * FpgaFlash::kSectorSize + i * unit * FpgaFlash::kSectorSize;
        cmd[1] = u8(address >> 16);
        cmd[2] = u8(address >> 8);
        if (SPI_Transfer_Write(fd, cmd, 4) < 0 || !FPGA_SPI_WAIT_BUSY(fd))
            return 0;
    }
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(unsigned char flash, unsigned int address, const unsigned char* buffer,
                                          unsigned int length)
{
    if (!buffer || !inFlash(address, length))
        return 0;
    int fd;
    u32 csFlash, csOwn, csOther;
    if (!flash_select(flash, &fd, &csFlash, &csOwn, &csOther))
        return 0;
    const u8* data = buffer + FpgaFlash::kWriteHeadroom;
    u8 chunk[4 + FpgaFlash::kPageSize];
    FlashSession session(csFlash, csOwn, csOther);
    u32 done = 0;
    while (done < length) {
        const u32 at = address + done;
        const u32 n = std::min<u32>(length - done, FpgaFlash::kPageSize - (at & 0xFF));
        const u8 wren = kWriteEnable;
        if (SPI_Transfer_Write(fd, &wren, 1) < 0)
            return 0;
        chunk[0] = kPageProgram;
        putAddress(chunk + 1, at);
        std::memcpy(chunk + 4, data + done, n);
        if (SPI_Transfer_Write(fd, chunk, int(4 + n)) < 0 || !FPGA_SPI_WAIT_BUSY(fd))
            return 0;
        done += n;
    }
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(unsigned char flash, unsigned int address, unsigned int length,
                                         unsigned char* out)
{
    if (!out || !inFlash(address, length))
        return 0;
    int fd;
    u32 csFlash, csOwn, csOther;
    if (!flash_select(flash, &fd, &csFlash, &csOwn, &csOther))
        return 0;
    std::vector<u8> tx(5 + FpgaFlash::kReadChunk, 0xFF), rx(5 + FpgaFlash::kReadChunk);
    FlashSession session(csFlash, csOwn, csOther);
    u32 done = 0;
    while (done < length) {
        const u32 n = std::min<u32>(length - done, FpgaFlash::kReadChunk);
        tx[0] = kFastRead;
        putAddress(&tx[1], address + done);
        tx[4] = 0xFF;
        if (SPI_Transfer(fd, tx.data(), rx.data(), int(5 + n)) < 0)
            return 0;
        std::memcpy(out + done, rx.data() + 5, n);
        done += n;
    }
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(unsigned char flash, unsigned char* out)
{
    if (!out)
        return 0;
    int fd;
    u32 csFlash, csOwn, csOther;
    if (!flash_select(flash, &fd, &csFlash, &csOwn, &csOther))
        return 0;
    u8 tx[13] = {kReadUid, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    u8 rx[13] = {0};
    FlashSession session(csFlash, csOwn, csOther);
    if (SPI_Transfer(fd, tx, rx, 13) < 0)
        return 0;
    std::memcpy(out, rx + 5, 8);
    return 1;
}

int fpga_drv::FPGA_SPI_Disable_WP(int fd)
{
    // Write enable, status register 1 and 2, and four status exchanges whose
    // second byte tells whether the flash is still busy.
    struct Message {
        u8 bytes[3];
        u8 length;
        const char* report; // printed with the second received byte
    };
    static const Message kSeries[] = {
        {{kWriteEnable}, 1, nullptr},
        {{0x01, 0xFF, 0xFF}, 3, nullptr},
        {{0xFF, 0xFF}, 2, "\n FPGA_SPI_Disable_WP  01 busy=%#x \n"},
        {{kWriteEnable}, 1, nullptr},
        {{0x31, 0x00}, 2, nullptr},
        {{kWriteEnable}, 1, nullptr},
        {{0xFF, 0x00}, 2, "\n FPGA_SPI_Disable_WP  02  busy=%#x \n"},
        {{kWriteEnable}, 1, nullptr},
        {{0xFF, 0x00}, 2, "\n FPGA_SPI_Disable_WP  03  busy=%#x \n"},
        {{0xFF, 0x00}, 2, "\n FPGA_SPI_Disable_WP  04  busy=%#x \n"},
    };
    // The controller is shared: no other transaction may come between.
    QMutexLocker lock(&Utils::_spi_mutex);
    for (const Message& m : kSeries) {
        u8 rx[3] = {0, 0, 0};
        if (SPI_Transfer(fd, m.bytes, m.report ? rx : nullptr, m.length) < 0)
            return 0;
        if (m.report && debugOn())
            zevlog::debug(lcLedout(), m.report, rx[1]);
    }
    return 1;
}
