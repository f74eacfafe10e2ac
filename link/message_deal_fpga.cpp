// Commands addressed to the FPGA: RAM pages by type nibble, the save of the
// receiving-card parameters, the version and unique-id queries, and the
// fill of the extended page before the PC reads it.
#include "link/message_deal_fpga.h"

#include <cstring>

#include <QDateTime>
#include <QMutexLocker>
#include <QStringList>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "video/c331_manage.h"
#include "core/logging.h"

namespace
{
constexpr int kPage = FpgaRam::kPageSize;
constexpr int kWriteData = 18;

fpga_manage* fm()
{
    return fpga_manage::p_fpga_manage;
}

// Byte of the Ethernet back-parameter page that mirrors parameter-page byte
// a, or -1. Each port keeps its x and y words there (four bytes), the screen
// its size and origin.
int back_index(int a)
{
    if (a >= 8 && a <= 11)
        return a - 4;
    if (a >= 19 && a <= 22)
        return a - 7;
    if (a >= 32 && a <= 35)
        return a - 12;
    if (a >= 43 && a <= 46)
        return a - 15;
    if (a >= 56 && a <= 59)
        return a + 76;
    if (a >= 60 && a <= 63)
        return a - 60;
    if (a >= 520 && a < 552 && (a - 520) % 8 < 4)
        return a - 484;
    if (a >= 576 && a < 640 && (a - 576) % 8 < 4)
        return a - 508;
    return -1;
}

u8 bcd(int v)
{
    return u8(((v / 10) % 10) << 4 | (v % 10));
}

void put_le(u8* p, u32 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = u8(v >> (8 * i));
}

// The PC's multicast settings in the extended page take effect.
void multicast_update()
{
    QMutexLocker lock(&Utils::_fpga_multicast_mutex);
    const u8* ex = fpga_manage::MCU_RAM_EXTEND;
    fm()->multicast_mask &= ~0xFFu;
    fm()->multicast_mode = u32(ex[257]) | u32(ex[258]) << 8 | u32(ex[259]) << 16 | u32(ex[260]) << 24;
    fpga_manage::MCU_RAM_EXTEND[49] &= u8(~0x40);
}

// The MCU copy and FPGA RAM page of areas 1 (sub 1 and up), 2 and 4, which
// reads and writes reach alike; null for none.
u8* area_page(u32 type, u32 sub, u8 fpga, u8* ramPage)
{
    if (type == 1 && sub != 0) {
        *ramPage = u8(sub + 1);
        return (sub & 1) ? fpga_manage::MCU_RAM_RX_func[fpga] : fpga_manage::MCU_RAM_TX_func[fpga];
    }
    if (type == 2) {
        *ramPage = u8(33 + sub);
        return sub == 0 ? fpga_manage::MCU_RAM_DEFAULT : fpga_manage::MCU_RAM_ZOOM;
    }
    if (type == 4) {
        *ramPage = 50;
        return fpga_manage::MCU_RAM_TX_func[fpga];
    }
    return nullptr;
}
} // namespace

namespace fpga_link
{
bool exists()
{
    return fm() != nullptr;
}

bool up(u8 fpga)
{
    return exists() && fpga < 2 && fpga_manage::shadow_reg(fpga, FpgaReg::kState) == 3;
}

u8 mirror(u8 fpga, u8 reg)
{
    if (!exists() || fpga > 1 || reg >= FpgaReg::kCount)
        return 0;
    return fpga_manage::shadow_reg(fpga, reg);
}

bool write_register(u8 reg, u8 mask, u8 value, u8 fpga)
{
    if (!exists() || fpga > 1)
        return false;
    // Registers 97 to 127 exist nowhere: the write is taken and changes
    // nothing.
    if (reg >= 97 && reg <= 127)
        return true;
    return fm()->write_to_register(reg, mask, value, fpga) == 1;
}

bool read_register(u8 reg, u8 fpga)
{
    if (!exists() || fpga > 1)
        return false;
    // Registers 64 to 127 live in the mirror only.
    if (reg >= 64 && reg <= 127)
        return true;
    return fm()->read_from_register(reg, fpga) == 1;
}

u16 card_count()
{
    return exists() ? fm()->check_netport_card(0) : 0;
}
} // namespace fpga_link

int message_deal::write_fpga_ram_cmd(u8* body, int /*length*/, u32 address, int len, u8 fpga)
{
    body[pc::kStatus] = 1;
    if (!fm())
        return 1;
    const u8* data = body + kWriteData;
    const u32 type = (address >> 24) & 0x0F;
    const u32 sub = (address >> 12) & 0x0F;
    const u32 low24 = address & 0xFFFFFF;
    const u32 low12 = address & 0xFFF;
    const bool extend = (type == 0 && (address & 0x800)) || type == 6;
    bool ok = true;
    if (extend) {
        // Offsets inside the 1024-byte extended page only.
        const u32 off = type == 6 ? low24 : low12 - 0x800;
        if ((type == 0 && (address & 0xFFF000)) || off + u32(len) > u32(kPage))
            return 1;
        std::memcpy(fpga_manage::MCU_RAM_EXTEND + off, data, size_t(len));
        multicast_update();
    } else if (type == 0) {
        if (low24 + u32(len) > u32(kPage))
            return 1;
        FpgaParaLock lock;
        u8* para = fpga_manage::MCU_RAM_PARA_func[fpga];
        u8* back = fpga_manage::MCU_RAM_ETH_BACK_PARA_func[fpga];
        std::memcpy(para + low24, data, size_t(len));
        for (u32 a = low24; a < low24 + u32(len); ++a) {
            int b = back_index(int(a));
            if (b >= 0)
                back[b] = para[a];
        }
        ok = fm()->write_fpga_ram(para + low24, low24, u32(len), FpgaRam::kParaPage, fpga) == 1;
    } else if (type == 1 || type == 2 || type == 4) {
        if ((address & 0xFF0FFF) + u32(len) > u32(kPage))
            return 1;
        u8 ramPage = 0;
        u8* page = area_page(type, sub, fpga, &ramPage);
        if (page) {
            std::memcpy(page, data, size_t(len));
            ok = fm()->write_fpga_ram(page, low12, u32(len), ramPage, fpga) == 1;
        }
    } else if (type == 5) {
        if (low24 + u32(len) > u32(kPage))
            return 1;
        fpga_manage::pc_write_command_page(data, unsigned(len));
    } else if (low24 + u32(len) > u32(kPage)) {
        return 1;
    }
    body[pc::kStatus] = ok ? 0 : 1;
    return 1;
}

int message_deal::read_fpga_ram_cmd(u8* body, u32 address, int len, u8 fpga)
{
    u8* out = body + pc::kData;
    // A refused read answers status 1 and one zero byte.
    auto refuse = [out] {
        out[0] = 0;
        return 2;
    };
    body[pc::kStatus] = 1;
    if (!fm())
        return refuse();
    const u32 type = (address >> 24) & 0x0F;
    const u32 sub = (address >> 12) & 0x0F;
    const u32 low24 = address & 0xFFFFFF;
    const u32 low12 = address & 0xFFF;
    const u32 n = u32(len);
    const bool extend = (type == 0 && (address & 0x800)) || type == 6;
    const bool up = fpga_link::up(fpga);
    if (extend) {
        const u32 off = type == 6 ? low24 : low12 - 0x800;
        if ((type == 0 && (address & 0xFFF000)) || off + n > u32(kPage))
            return refuse();
        FPGA_Ex_ram_update();
        Time_to_RAM();
        std::memcpy(out, fpga_manage::MCU_RAM_EXTEND + off, n);
    } else if (type == 0) {
        if (low24 + n > u32(kPage))
            return refuse();
        const bool halve = c331_manage::p_c331_manage && c331_manage::p_c331_manage->panel_mode;
        FpgaParaLock lock;
        u8* para = fpga_manage::MCU_RAM_PARA_func[fpga];
        const u8* back = fpga_manage::MCU_RAM_ETH_BACK_PARA_func[fpga];
        if (!up) {
            std::memset(out, 0, n);
        } else {
            if (fm()->read_fpga_ram(para + low24, low24, n, FpgaRam::kParaPage, fpga) != 1)
                return refuse();
            for (u32 a = low24; a < low24 + n; ++a) {
                int b = back_index(int(a));
                if (b >= 0)
                    para[a] = back[b];
            }
            if (low24 <= 117 && low24 + n > 116 && halve)
                ZevRamPara::put16(para, 116, u16(ZevRamPara::get16(para, 116) / 2));
            std::memcpy(out, para + low24, n);
        }
    } else if (type == 1 || type == 2 || type == 4) {
        if ((address & 0xFF0FFF) + n > u32(kPage))
            return refuse();
        u8 ramPage = 0;
        u8* page = area_page(type, sub, fpga, &ramPage);
        if (page) {
            if (!up) {
                std::memset(out, 0, n);
            } else {
                if (fm()->read_fpga_ram(page, low12, n, ramPage, fpga) != 1)
                    return refuse();
                std::memcpy(out, page, n);
            }
        }
    } else if (type == 5) {
        if (low24 + n > u32(kPage))
            return refuse();
        fpga_manage::read_command_page(out, n);
    } else if (low24 + n > u32(kPage)) {
        return refuse();
    }
    body[pc::kStatus] = 0;
    return len + 1;
}

void message_deal::set_para_sync()
{
    if (!fm())
        return;
    // Copied before the apply mutex is taken, which comes first in the order.
    u8 para[8] = {};
    fpga_manage::read_para_page(0, 56, para, sizeof para);
    u16 w = u16(ZevRamPara::get16(para, 4) + ZevRamPara::get16(para, 0));
    u16 h = u16(ZevRamPara::get16(para, 6) + ZevRamPara::get16(para, 2));
    if (w < 64)
        w = 64;
    if (h < 64)
        h = 64;
    // Compared and written in one step: the panel writes the LED size too.
    c331_apply_if(1, [w, h] {
        if (ZevRamPara::img16(Img::kLedWidth) == w && ZevRamPara::img16(Img::kLedHeight) == h)
            return false;
        u8* im = ZevRamPara::p_zevrampara_config;
        std::memset(im + 1408, 0, 4);
        std::memset(im + 1416, 0, 4);
        ZevRamPara::put16(im, Img::kSpliceMode, 0);
        const int w0 = ZevRamPara::layerOffset(0);
        ZevRamPara::put16(im, w0 + Img::kLayerX, 0);
        ZevRamPara::put16(im, w0 + Img::kLayerY, 0);
        for (int off : {Img::kOut1Width, 1420, Img::kLedWidth, w0 + Img::kLayerW})
            ZevRamPara::put16(im, off, w);
        for (int off : {Img::kOut1Height, 1422, Img::kLedHeight, w0 + Img::kLayerH})
            ZevRamPara::put16(im, off, h);
        for (int win = 1; win < 6; ++win)
            ZevRamPara::put16(im, ZevRamPara::layerOffset(win) + Img::kLayerEnable, 0);
        return true;
    });
}

QString g_rcv_sync_led;

int message_deal::param_save(u8* body, int /*length*/)
{
    const u8 port = body[pc::kPort];
    const u8 f = (port == 1 || port == 2) ? u8(port - 1) : 0;
    const u8 s = (port == 1 || port == 2) ? u8(port + 1) : FpgaFlash::kFlash0;
    body[pc::kStatus] = 1;
    if (debugOn() && g_rcv_sync_led != "OK")
        zevlog::debug(lcLink(), "\n %s\n", g_rcv_sync_led.toUtf8().constData());
    set_para_sync();
    // Only the first FPGA's flash is fitted: the other is refused before any
    // bus traffic.
    if (!fm() || !fm()->p_drv || s != FpgaFlash::kFlash0)
        return 1;
    fpga_drv* drv = fm()->p_drv;
    const u32 base = FpgaRam::kStoredParaAddress;
    // The program operation wants four spare bytes in front of the data.
    u8 page[FpgaFlash::kWriteHeadroom + kPage];
    u8 marker[FpgaFlash::kWriteHeadroom + 1] = {0, 0, 0, 0, 0xAA};
    fpga_manage::read_para_page(f, 0, page + FpgaFlash::kWriteHeadroom, kPage);
    u8 check[1 + kPage];
    bool ok = drv->FPGA_SPI_FLASH_VBYONE_ERASE(s, base / FpgaFlash::kSectorSize, 0, 1) == 1 &&
              drv->FPGA_SPI_FLASH_VBYONE_WRITE(s, base + 1, page, kPage) == 1 &&
              drv->FPGA_SPI_FLASH_VBYONE_WRITE(s, base, marker, 1) == 1 &&
              drv->FPGA_SPI_FLASH_VBYONE_READ(s, base, sizeof check, check) == 1 && check[0] == 0xAA &&
              std::memcmp(check + 1, page + FpgaFlash::kWriteHeadroom, kPage) == 0;
    if (!ok)
        return 1;
    {
        FpgaParaLock lock;
        std::memcpy(fpga_manage::MCU_RAM_PARA_func[f], check + 1, kPage);
        fm()->Q64_back_mcu_set_net_para(f);
    }
    body[pc::kStatus] = 0;
    return 1;
}

int message_deal::get_card_version(u8* body, int /*length*/)
{
    u8* o = body + pc::kData;
    if (protocol_phy::is_box(protocol_phy::dest(body))) {
        const u8 v[12] = {g_update_status, 8, 0x52, 0x8B, 11, 1, 0x30, 3, 0x26, 2, 0, 0};
        std::memcpy(o, v, sizeof v);
    } else {
        const u8 f = ram_fpga(body);
        const u8 v[12] = {fpga_link::mirror(f, 21),
                          0,
                          15,
                          11,
                          11,
                          fpga_link::mirror(f, 28),
                          fpga_link::mirror(f, 29),
                          fpga_link::mirror(f, 30),
                          fpga_link::mirror(f, 31),
                          0,
                          0,
                          0};
        std::memcpy(o, v, sizeof v);
    }
    const u32 t = G_timeTicks.load() / 20;
    for (int i = 0; i < 4; ++i)
        o[12 + i] = u8(t >> (8 * i));
    body[pc::kStatus] = 0;
    return 17;
}

int message_deal::get_card_uid(u8* body, int /*length*/)
{
    const bool box = protocol_phy::is_box(protocol_phy::dest(body));
    body[pc::kStatus] = 1;
    if (!fm() || !fm()->p_drv)
        return box ? 1 : 0;
    if (fm()->p_drv->FPGA_SPI_FLASH_SSTF016B_RD_UID(FpgaFlash::kFlash0, body + pc::kData) != 1)
        return 1;
    body[pc::kStatus] = 0;
    return 9;
}

void message_deal::FPGA_Ex_ram_update()
{
    u8* ex = fpga_manage::MCU_RAM_EXTEND;
    ex[72] = 1;
    ex[49] = 0x9F;
    ex[28] = fpga_link::mirror(0, 64);
    ex[73] = 0;
    ex[74] = 0;
}

void message_deal::Time_to_RAM()
{
    QString now;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        now = QDateTime::currentDateTime().toString("yyyy/MM/dd/hh/mm/ss/ddd");
    }
    const QStringList f = now.split("/");
    u8* ex = fpga_manage::MCU_RAM_EXTEND;
    const int year = f.value(0).toInt();
    ex[16] = bcd(year % 100);
    ex[17] = bcd(year / 100);
    for (int i = 1; i <= 5; ++i)
        ex[17 + i] = bcd(f.value(i).toInt());
    ex[23] = 0;
    // Running time of the screen from the record.
    const CLOCK_RECORD_STATE r = fm() ? fm()->clock_record.snapshot() : g_clock_record;
    put_le(ex + 76, r.total + r.minutes2, 4);
    put_le(ex + 80, r.minutes, 4);
    put_le(ex + 84, r.entry_index, 3);
    ex[87] = 0;
    std::memcpy(ex + 88, r.start_time, 7);
    ex[95] = 0xFF;
    put_le(ex + 96, r.minutes2, 4);
}

int message_deal::write_rtc_time(u8* body, int length)
{
    // Seven BCD fields from byte 10: year, century, month, day, hour,
    // minute, second.
    u8 fields[7];
    std::memcpy(fields, body + pc::kStatus, 7);
    body[pc::kStatus] = 1;
    if (length < pc::kStatus + 7)
        return 1;
    if (!clock_record_run::set_system_clock_bcd(fields))
        return 1;
    if (fm())
        fm()->clock_record.dealwith_record_timing();
    body[pc::kStatus] = 0;
    return 1;
}
