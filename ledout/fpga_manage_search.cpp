// The worker's idle card search: one search command per linked port pair
// every 0.8 s, the card counts of the ports judged from the answers, and the
// watch that restarts a V-by-One link that lost its lock.
#include <cstring>

#include "core/utils.h"
#include "ledout/fpga_manage.h"

using namespace FpgaCards;

namespace
{
constexpr u32 kSearchTicks = 80;
constexpr u32 kVboWatchTicks = 9;
constexpr u16 kVboPollLimit = 1000;
constexpr unsigned kSearchSize = 30;
constexpr u32 kPassSent = 1u << 31;
constexpr u32 kPassOdd = 1u << 30;
} // namespace

void fpga_manage::Search_Card_Cmd()
{
    if (Utils::getTimeSpace(g_change.search_stamp) < kSearchTicks)
        return;
    read_from_register(128, 0);
    read_from_register(144, 0);
    const u8* reg = MCU_REG_func[0];
    const u16 links = u16(reg[128] | reg[144] << 8);
    if (reg[FpgaReg::kState] != 3 || links == 0) {
        g_change.search_stamp = G_timeTicks.load();
        return;
    }
    const bool odd = g_change.search_pass++ & 1u;
    CHECK_search_cmd_status();
    for (unsigned k = 0; k < 8; ++k) {
        const unsigned first = odd ? 2 * k + 1 : 2 * k;
        const unsigned second = odd ? 2 * k : 2 * k + 1;
        const unsigned port = (links >> first) & 1u ? first : (links >> second) & 1u ? second : kPorts;
        if (port == kPorts)
            continue;
        check_error_rcv_search_card_cmd(port, 0, 0, 0, 0);
        search_port_mask |= 1u << port;
        u32 a = search_answer.load() | kPassSent;
        search_answer = odd ? a | kPassOdd : a & ~kPassOdd;
    }
    g_change.search_stamp = G_timeTicks.load();
}

void fpga_manage::check_error_rcv_search_card_cmd(unsigned int port, unsigned char fpga, unsigned int arg1,
                                                  unsigned int arg2, unsigned char flag)
{
    // No such port on this FPGA: nothing to clear and nothing to send.
    if (port >= kPorts || fpga > 1)
        return;
    const u8 bit = u8(1u << ((port % 8) / 2));
    write_to_register(port < 8 ? 131 : 147, bit, 0, fpga);
    const u16 address = u16(kFirstCards + ((port % 4) << 12));
    u8 b[kSearchSize] = {u8(address), u8(address >> 8), 0x00, 0xF0, 0x10, 0xAA, 0xFF, u8(port + 1), 0x00, 0x10};
    b[16] = flag & 1u;
    const u8 a1[4] = {u8(arg1), u8(arg1 >> 8), u8(arg1 >> 16), u8(arg1 >> 24)};
    std::memcpy(b + 17, a1, 4);
    b[21] = 0xFF;
    const u8 a2[4] = {u8(arg2), u8(arg2 >> 8), u8(arg2 >> 16), u8(arg2 >> 24)};
    std::memcpy(b + 23, a2, 4);
    b[29] = Utils::BCC(b, 29);
    Send_to_port(b, kSearchSize, u16(port), fpga);
}

u16 fpga_manage::CHECK_search_cmd_status()
{
    const u32 answers = search_answer.load();
    if (answers & kPassSent) {
        FpgaParaLock lock;
        u8* page = MCU_RAM_PARA_func[0];
        const u32 searched = search_port_mask.load();
        for (unsigned k = 0; k < 8; ++k) {
            if (answers & (1u << k))
                continue;
            for (unsigned port : {2 * k, 2 * k + 1}) {
                if (!(searched & (1u << port)))
                    continue;
                const unsigned a = kCountAt[port], s = kStatusAt[port];
                page[a] = 0;
                page[a + 1] = 0;
                page[s] = 0;
                write_fpga_ram(page + a, a, s - a + 1, FpgaRam::kParaPage, 0);
            }
        }
    }
    search_port_mask = 0;
    search_answer = 0;
    const u16 total = check_netport_card(0);
    search_card_total = total;
    return total;
}

u8 fpga_manage::check_vbo_status(unsigned char fpga)
{
    if (fpga > 1)
        return 0;
    if (Utils::getTimeSpace(g_change.vbo_watch_stamp[fpga]) <= kVboWatchTicks)
        return vbo_err[fpga];
    if (vbo_err[fpga] == 0) {
        unsigned lost = 0;
        for (int i = 0; i < 8; ++i) {
            read_from_register(40, fpga);
            if ((MCU_REG_func[fpga][40] & 0x1C) != 0x1C)
                ++lost;
        }
        if (lost > 3) {
            vbo_err[fpga] = 1;
            write_to_register(FpgaReg::kVboControl, 0xC0, 0x00, fpga);
            vbo_step[fpga] = 0;
        }
    } else if (vbo_step[fpga] == 0) {
        write_to_register(FpgaReg::kVboControl, 0x40, 0x40, fpga);
        vbo_step[fpga] = 1;
        vbo_poll[fpga] = 0;
    } else {
        read_from_register(FpgaReg::kStatus, fpga);
        ++vbo_poll[fpga];
        if (!(MCU_REG_func[fpga][FpgaReg::kStatus] & 0x08) || vbo_poll[fpga] >= kVboPollLimit) {
            write_to_register(FpgaReg::kVboControl, 0x80, 0x80, fpga);
            vbo_err[fpga] = 0;
        }
    }
    g_change.vbo_watch_stamp[fpga] = G_timeTicks.load();
    return vbo_err[fpga];
}
