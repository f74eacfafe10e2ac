// Raw access of the PC tool to the serial flashes (groups 0x70 erase, 0x71
// write, 0x72 read): each FPGA's SPI flash, the video processor's font flash,
// and a window onto a region of the first FPGA flash. Bytes 10..13 hold the
// address word: the byte address in bits 0..23 and, in frames to the box,
// the flash index in bits 24..31.
#include <cstring>

#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "link/frame_reader.h"
#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "video/c331_manage.h"

namespace
{
constexpr int kAddressWord = 10;
constexpr int kLength = 14;
constexpr int kUnit = 14;
constexpr int kCount = 15;
// The write's data; the driver builds each page command in the four bytes
// in front of it.
constexpr int kWriteData = 18;
constexpr int kReadData = 11;
constexpr u32 kSector = 4096;

// Index 0 is a window: request addresses 0x480000 up to the sector at
// 0x4C0000 (inclusive) reach the first FPGA flash 0x273000 higher.
constexpr u32 kWindowStart = 0x480000;
constexpr u32 kWindowEnd = 0x4C1000;
constexpr u32 kWindowShift = 0x273000;

constexpr int kFontFlash = 4;
constexpr int kSourceFlash = 8;

struct Target {
    int index;
    u32 size;
    u8 device;
};

// Sizes and device numbers by flash index.
constexpr Target kFlashes[] = {
    {0, 0x800000, FpgaFlash::kFlash0},
    {1, 0x800000, FpgaFlash::kFlash0},
    {2, 0x800000, FpgaFlash::kFlash0},
    {3, 0x800000, FpgaFlash::kFlash1},
    {4, 0x2000000, 4},
    {5, 0x800000, FpgaFlash::kFlash0},
    {6, 0x800000, FpgaFlash::kFlash0},
    {7, 0x800000, FpgaFlash::kFlash0},
    {8, 0x10000, 8},
};

Target target_of(const u8* body, u32 word)
{
    const Target first = kFlashes[1];
    if (protocol_phy::is_box(protocol_phy::dest(body))) {
        const u32 index = word >> 24;
        return index < sizeof kFlashes / sizeof kFlashes[0] ? kFlashes[index] : first;
    }
    // Other frames pick an FPGA flash by their routing bytes.
    if (body[pc::kRoute] != 0)
        return first;
    if (body[pc::kPort] == 1)
        return kFlashes[2];
    if (body[pc::kPort] == 2)
        return kFlashes[3];
    return first;
}

fpga_drv* driver()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m ? m->p_drv : nullptr;
}

c331_manage* video()
{
    return c331_manage::p_c331_manage;
}

// The whole range lies inside the window.
bool in_window(u32 address, u32 length)
{
    return address >= kWindowStart && uint64_t(address) + length <= kWindowEnd;
}

int answer(u8* body, bool done)
{
    body[pc::kStatus] = done ? 0 : 1;
    return 1;
}
} // namespace

int message_deal::cmd_erase_flash(u8* body, int length)
{
    frame_reader r(body, length);
    const u32 word = r.u32_at(kAddressWord);
    const u8 unit = r.u8_at(kUnit);
    u32 count = r.u8_at(kCount);
    if (!r.ok())
        return answer(body, false);
    if (count == 0)
        count = 1;
    const Target t = target_of(body, word);
    const u32 address = word & 0xFFFFFF;
    if (address % kSector)
        return answer(body, false);
    const u32 start = address / kSector;
    u8 code;
    u32 perUnit;
    switch (unit) {
    case 1:
        code = 0, perUnit = 1;
        break;
    case 2:
        code = 1, perUnit = 8;
        break;
    case 4:
        code = 2, perUnit = 16;
        break;
    default:
        return answer(body, false);
    }
    if (start % perUnit)
        return answer(body, false);
    const u32 sectors = count * perUnit;
    if (start + sectors > t.size / kSector)
        return answer(body, false);

    if (t.index == kSourceFlash)
        return answer(body, true);
    if (t.index == kFontFlash) {
        c331_manage* v = video();
        return answer(body, v && v->erase_flash(v->spi_fd, int(start), int(count), char(code)) == 1);
    }
    fpga_drv* drv = driver();
    if (t.index == 0) {
        // Erased sector by sector: a larger unit at the shifted address would
        // reach outside the window.
        if (!in_window(address, sectors * kSector))
            return answer(body, false);
        return answer(body, drv && drv->FPGA_SPI_FLASH_VBYONE_ERASE(t.device, (address + kWindowShift) / kSector, 0,
                                                                    sectors) == 1);
    }
    return answer(body, drv && drv->FPGA_SPI_FLASH_VBYONE_ERASE(t.device, start, code, count) == 1);
}

int message_deal::cmd_write_flash(u8* body, int length)
{
    frame_reader r(body, length);
    const u32 word = r.u32_at(kAddressWord);
    const u16 n = r.u16_at(kLength);
    const u8* data = r.bytes(kWriteData, n);
    if (!r.ok() || n == 0)
        return answer(body, false);
    const Target t = target_of(body, word);
    const u32 address = word & 0xFFFFFF;
    if (uint64_t(address) + n > t.size)
        return answer(body, false);

    if (t.index == kSourceFlash)
        return answer(body, true);
    if (t.index == kFontFlash) {
        c331_manage* v = video();
        return answer(
            body, v && v->write_flash(v->spi_fd, int(address), n, reinterpret_cast<char*>(const_cast<u8*>(data))) == 1);
    }
    fpga_drv* drv = driver();
    const u8* headroom = data - FpgaFlash::kWriteHeadroom;
    if (t.index == 0) {
        if (!in_window(address, n))
            return answer(body, false);
        return answer(body,
                      drv && drv->FPGA_SPI_FLASH_VBYONE_WRITE(t.device, address + kWindowShift, headroom, n) == 1);
    }
    return answer(body, drv && drv->FPGA_SPI_FLASH_VBYONE_WRITE(t.device, address, headroom, n) == 1);
}

int message_deal::cmd_read_flash(u8* body, int length)
{
    frame_reader r(body, length);
    const u32 word = r.u32_at(kAddressWord);
    const u16 n = r.u16_at(kLength);
    if (!r.ok() || n == 0)
        return answer(body, false);
    const Target t = target_of(body, word);
    const u32 address = word & 0xFFFFFF;
    if (uint64_t(address) + n > t.size)
        return answer(body, false);
    static_assert(pc::kWorkSize >= pc::kMaxReplyBody, "a 65,535-byte read must fit the work buffer");
    u8* out = body + kReadData;
    bool done;
    if (t.index == kSourceFlash) {
        // Nothing is read from the source chip's flash: no request bytes are
        // sent back as data.
        std::memset(out, 0, n);
        done = true;
    } else if (t.index == kFontFlash) {
        c331_manage* v = video();
        done = v && v->read_flash(v->spi_fd, int(address), n, reinterpret_cast<char*>(out)) == 1;
    } else if (t.index == 0) {
        fpga_drv* drv = driver();
        done = in_window(address, n) && drv &&
               drv->FPGA_SPI_FLASH_VBYONE_READ(t.device, address + kWindowShift, n, out) == 1;
    } else {
        fpga_drv* drv = driver();
        done = drv && drv->FPGA_SPI_FLASH_VBYONE_READ(t.device, address, n, out) == 1;
    }
    if (!done)
        return answer(body, false);
    body[pc::kStatus] = 0;
    return int(n) + 1;
}
