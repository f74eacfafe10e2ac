// Output geometry: the per-port rectangles and screen size in the parameter
// page, their backup relative to the screen origin, the port link state
// mirrored into the page, and the LED parameter set-up sequence.
#include <cstring>
#include <optional>

#include <QMutexLocker>

#include "chips/tarvosource.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"

namespace
{
constexpr int kPorts = 16;

using FpgaCards::kCountAt;
using FpgaCards::kStatusAt;

// Where each port's record (x, y, width, height) lies in the backup page.
int backup_port(int port)
{
    if (port < 4)
        return 4 + 8 * port;
    if (port < 8)
        return 36 + 8 * (port - 4);
    return 68 + 8 * (port - 8);
}
constexpr int kBackupSize = 0;
constexpr int kBackupOrigin = 132;

u16 get16(const u8* p, int off)
{
    return ZevRamPara::get16(p, off);
}
void put16(u8* p, int off, u16 v)
{
    ZevRamPara::put16(p, off, v);
}
} // namespace

void fpga_manage::eth_param_init(unsigned char clear, unsigned char fpga)
{
    if (!clear || fpga > 1)
        return;
    FpgaParaLock lock;
    u8* page = MCU_RAM_PARA_func[fpga];
    for (int p = 0; p < kPorts; ++p) {
        unsigned short x, y, w, h;
        get_eth_param_addr(u8(p), &x, &y, &w, &h);
        put16(page, x, 0);
        put16(page, y, 0);
        put16(page, w, 0x0500);
        put16(page, h, 0x0200);
    }
}

int fpga_manage::get_eth_min_x_y(unsigned char fpga, unsigned short* x, unsigned short* y)
{
    FpgaParaLock lock;
    const u8* page = MCU_RAM_PARA_func[fpga & 1];
    u16 mx = 0xFFFF, my = 0xFFFF;
    for (int p = 0; p < kPorts; ++p) {
        unsigned short ax, ay, aw, ah;
        get_eth_param_addr(u8(p), &ax, &ay, &aw, &ah);
        if (get16(page, ax) < mx)
            mx = get16(page, ax);
        if (get16(page, ay) < my)
            my = get16(page, ay);
    }
    *x = mx;
    *y = my;
    return 0;
}

int fpga_manage::get_eth_max_border(unsigned char fpga, unsigned short* right, unsigned short* bottom)
{
    FpgaParaLock lock;
    const u8* page = MCU_RAM_PARA_func[fpga & 1];
    u16 r = 0, b = 0;
    for (int p = 0; p < kPorts; ++p) {
        unsigned short ax, ay, aw, ah;
        get_eth_param_addr(u8(p), &ax, &ay, &aw, &ah);
        const u16 pr = u16(get16(page, ax) + get16(page, aw));
        const u16 pb = u16(get16(page, ay) + get16(page, ah));
        if (pr > r)
            r = pr;
        if (pb > b)
            b = pb;
    }
    *right = r;
    *bottom = b;
    return 0;
}

int fpga_manage::get_eth_lcd_x_y(unsigned char fpga, unsigned short* x, unsigned short* y)
{
    u8 origin[4] = {};
    read_para_page(fpga, 56, origin, sizeof origin);
    *x = get16(origin, 0);
    *y = get16(origin, 2);
    return 0;
}

int fpga_manage::get_eth_lcd_w_h(unsigned char fpga, unsigned short* w, unsigned short* h)
{
    u8 size[4] = {};
    read_para_page(fpga, 60, size, sizeof size);
    *w = get16(size, 0);
    *h = get16(size, 2);
    return 0;
}

void fpga_manage::Q64_back_mcu_set_net_para(unsigned char fpga)
{
    if (fpga > 1)
        return;
    FpgaParaLock lock;
    const u8* page = MCU_RAM_PARA_func[fpga];
    u8* back = MCU_RAM_ETH_BACK_PARA_func[fpga];
    std::memcpy(back + kBackupSize, page + 60, 4);
    for (int p = 0; p < kPorts; ++p) {
        unsigned short x, y, w, h;
        get_eth_param_addr(u8(p), &x, &y, &w, &h);
        const int b = backup_port(p);
        put16(back, b, get16(page, x));
        put16(back, b + 2, get16(page, y));
        put16(back, b + 4, get16(page, w));
        put16(back, b + 6, get16(page, h));
    }
    std::memcpy(back + kBackupOrigin, page + 56, 4);
}

void fpga_manage::Q64_mcu_set_net_para(unsigned char fpga)
{
    if (fpga > 1)
        return;
    u16 ox, oy;
    {
        C331Lock lock;
        ox = ZevRamPara::img16(Img::kOriginX);
        oy = ZevRamPara::img16(Img::kOriginY);
    }
    place_ports(fpga, ox, oy);
}

void fpga_manage::place_ports(unsigned char fpga, u16 ox, u16 oy)
{
    FpgaParaLock lock;
    u8* page = MCU_RAM_PARA_func[fpga];
    const u8* back = MCU_RAM_ETH_BACK_PARA_func[fpga];
    // The screen width is kept a multiple of 32.
    put16(page, 60, u16((ox + 31 + get16(back, kBackupSize)) & 0xFFE0));
    put16(page, 62, u16(get16(back, kBackupSize + 2) + oy));
    for (int p = 0; p < kPorts; ++p) {
        unsigned short x, y, w, h;
        get_eth_param_addr(u8(p), &x, &y, &w, &h);
        const int b = backup_port(p);
        put16(page, x, u16(get16(back, b) + ox));
        put16(page, y, u16(get16(back, b + 2) + oy));
    }
}

void fpga_manage::update_eth_state(unsigned char fpga)
{
    if (fpga > 1)
        return;
    read_from_register(128, fpga);
    read_from_register(144, fpga);
    const u8 r128 = shadow_reg(fpga, 128);
    const u8 r144 = shadow_reg(fpga, 144);
    FpgaParaLock lock;
    u8* page = MCU_RAM_PARA_func[fpga];
    const u8 b96 = u8((page[96] & ~0x1B) | (r128 & 0x03) | ((r128 & 0x0C) << 1));
    const u8 b512 = u8((page[512] & 0xF0) | (r128 >> 4));
    struct {
        int offset;
        u8 value;
    } bytes[] = {{96, b96}, {512, b512}, {513, r144}};
    for (const auto& b : bytes) {
        if (page[b.offset] == b.value)
            continue;
        page[b.offset] = b.value;
        write_fpga_ram(page + b.offset, u32(b.offset), 1, FpgaRam::kParaPage, fpga);
    }
    const u16 links = u16(r144 << 8 | r128);
    for (int p = 0; p < kPorts; ++p) {
        if (links & (1u << p))
            continue;
        const int a = kCountAt[p], s = kStatusAt[p];
        if (get16(page, a) == 0 && page[s] == 0)
            continue;
        put16(page, a, 0);
        page[s] = 0;
        write_fpga_ram(page + a, u32(a), u32(s - a + 1), FpgaRam::kParaPage, fpga);
    }
}

u16 fpga_manage::get_wlan_state()
{
    if (shadow_reg(0, FpgaReg::kState) != 3)
        return 0;
    read_from_register(128, 0);
    read_from_register(144, 0);
    return u16(shadow_reg(0, 144) << 8 | shadow_reg(0, 128));
}

void fpga_manage::check_wlanonline_state()
{
    // The link bits only feed the status pages: reading them once a second
    // keeps the shared SPI bus free for the video processor between passes.
    if (Utils::getTimeSpace(wlan_check_stamp) < kWlanCheckTicks)
        return;
    wlan_check_stamp = G_timeTicks.load();
    u16 links = 0;
    const bool up = shadow_reg(0, FpgaReg::kState) == 3;
    if (tarvosource::p_tarvo_source && tarvosource::p_tarvo_source->source_state == 2 && up) {
        read_from_register(128, 0);
        read_from_register(144, 0);
        links = u16(shadow_reg(0, 144) << 8 | shadow_reg(0, 128));
    }
    if (get_fpga_status() && links != wlan_state_last) {
        wlan_state_last = links;
        ZevRamPara::test_signal(11);
    }
}

namespace
{
// What one step of the LED set-up writes to the FPGA.
enum class LedWrite : u8 { none, screen_off, lcd_off, reset, hold, release, pulse_on, pulse_off, lcd_on, screen_back };
} // namespace

void fpga_manage::set_led_para_deal()
{
    // The step is decided under the LED set-up mutex and written once it is
    // free: the apply mutex is held where the set-up mutex is taken, and a
    // register write may take the apply mutex (the blackout mirror), so
    // nothing is locked under the set-up mutex. Register 22, which freeze
    // steps 0 and 4 wait on, is read before it for the same reason.
    const u32 since = Utils::getTimeSpace(led_setup_stamp);
    const u8 seen = g_set_led_setup.load();
    std::optional<u8> status;
    if (g_set_led_para.load() == 0 && g_freeze_out.load() == 1 && get_fpga_status() &&
        ((seen == 0 && since >= 21) || (seen == 4 && since >= 11))) {
        read_from_register(FpgaReg::kStatus, 0);
        status = shadow_reg(0, FpgaReg::kStatus);
    }
    auto next = [this](u8 step) {
        g_set_led_setup = step;
        led_setup_stamp = G_timeTicks.load();
    };
    // One re-read of register 22 while its bit is not yet as awaited: true
    // while the wait goes on.
    auto waiting = [this](bool notYet) {
        if (!notYet || led_setup_count >= 500) {
            led_setup_count = 0;
            return false;
        }
        ++led_setup_count;
        led_setup_stamp = G_timeTicks.load();
        return true;
    };
    auto decide = [&]() {
        if (g_set_led_para == 1) {
            switch (g_set_led_setup.load()) {
            case 0:
                next(1);
                return LedWrite::screen_off;
            case 1:
                if (since < 11)
                    return LedWrite::none;
                next(2);
                return LedWrite::lcd_off;
            default:
                if (since >= 31) {
                    next(0);
                    g_set_led_para = 0;
                }
                return LedWrite::none;
            }
        }
        if (g_set_led_para == 2) {
            g_set_led_para = 0;
            g_freeze_out = 0;
            g_set_led_setup = 0;
            return LedWrite::reset;
        }
        if (g_freeze_out != 1 || !get_fpga_status())
            return LedWrite::none;
        const u8 step = g_set_led_setup.load();
        // Steps 1, 2, 100, 99 and 3 each follow the last after 21 ticks.
        struct Timed {
            u8 step, then;
            LedWrite write;
        };
        static const Timed kTimed[] = {{1, 2, LedWrite::hold},
                                       {2, 100, LedWrite::release},
                                       {100, 99, LedWrite::pulse_on},
                                       {99, 3, LedWrite::pulse_off},
                                       {3, 4, LedWrite::lcd_on}};
        for (const Timed& t : kTimed) {
            if (t.step != step)
                continue;
            if (since < 21)
                return LedWrite::none;
            led_setup_count = 0;
            next(t.then);
            return t.write;
        }
        if (step == 0) {
            if (!status || waiting(*status & 0x04))
                return LedWrite::none;
            next(1);
            return LedWrite::none;
        }
        if (step == 4) {
            if (!status || waiting(!(*status & 0x80)))
                return LedWrite::none;
            g_freeze_out = 0;
            next(0);
            return LedWrite::screen_back;
        }
        next(0);
        return LedWrite::none;
    };
    LedWrite write;
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        write = decide();
    }
    switch (write) {
    case LedWrite::none:
        break;
    case LedWrite::screen_off:
        SCREEN_fpgactrl_status(0);
        break;
    case LedWrite::lcd_off:
        SCREEN_fpgactrl_status(5);
        break;
    case LedWrite::reset:
        reset_fpga_rst(0);
        break;
    case LedWrite::hold:
        SCREEN_fpgactrl_status(7);
        break;
    case LedWrite::release:
        SCREEN_fpgactrl_status(8);
        break;
    case LedWrite::pulse_on:
        write_to_register(FpgaReg::kHandshake, 0x20, 0x20, 0);
        break;
    case LedWrite::pulse_off:
        write_to_register(FpgaReg::kHandshake, 0x20, 0x00, 0);
        break;
    case LedWrite::lcd_on:
        SCREEN_fpgactrl_status(4);
        break;
    case LedWrite::screen_back:
        // The screen comes back only if the operator has not blacked it out.
        SCREEN_fpgactrl_status(ZevRamPara::locked16(Img::kBlackout) == 0 ? 1 : 0);
        break;
    }
}
