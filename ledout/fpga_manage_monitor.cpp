// A change of the monitor output: the FPGA measures the new picture, then
// the LCD size and the column and row tables that scale it are set up. Also
// the raw data-phase write of the LCD registers.
#include <cstring>

#include <QMutexLocker>

#include "chips/sii9022.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"

namespace
{
constexpr u8 kLcdPage = 0; // where the FPGA puts the measured size
constexpr unsigned kLcdSizeAt = 424;
constexpr u8 kColumnPage = 35;
constexpr u8 kRowPage = 34;
constexpr unsigned kColumnLines = 1024;
constexpr unsigned kRowLines = 768;
constexpr u32 kMonitorDelay = 100;

// Largest line count whose table (n / 8 + 2 bytes) fits size bytes.
constexpr unsigned maxLines(unsigned size)
{
    return 8 * (size - 2);
}

void setLine(unsigned char* table, unsigned line, bool on)
{
    const unsigned bit = (line - 1) % 8, byte = (line - 1) / 8;
    if (on)
        table[byte] = u8(table[byte] | (1u << bit));
    else
        table[byte] = u8(table[byte] & ~(1u << bit));
}
} // namespace

int fpga_manage::write_LCD_register(unsigned int command, unsigned char* data, unsigned char fpga, unsigned char length)
{
    if (fpga > 1 || (length && !data))
        return 0;
    const int fd = fpga == 0 ? fpga_vbyone1_fd : fpga_vbyone2_fd;
    if (fd < 0 || !fpga_drv::lines_mapped())
        return 0;
    const u32 cmdLine = fpga == 0 ? FpgaPad::CMD_FPGA0 : FpgaPad::CMD_FPGA1;
    const u32 csOwn = fpga == 0 ? FpgaPad::CS_FPGA0 : FpgaPad::CS_FPGA1;
    const u32 csOther = fpga == 0 ? FpgaPad::CS_FPGA1 : FpgaPad::CS_FPGA0;

    QMutexLocker lock(&Utils::_spi_mutex);
    fpga_drv::set_line(cmdLine, true);
    fpga_drv::set_line(csOwn, false);
    fpga_drv::set_line(csOther, true);
    // Every byte goes in the data phase.
    fpga_drv::set_line(cmdLine, false);
    const u8 first = u8(command);
    bool ok = p_drv->SPI_Transfer_Write(fd, &first, 1) > 0;
    for (unsigned i = 0; ok && i < length; ++i)
        ok = p_drv->SPI_Transfer_Write(fd, data + i, 1) > 0;
    fpga_drv::set_line(FpgaPad::CS_FPGA0, true);
    fpga_drv::set_line(FpgaPad::CS_FPGA1, true);
    return ok ? 1 : 0;
}

void fpga_manage::set_lcd_change_flag()
{
    monitor_state[0] = 3;
    monitor_state[1] = 3;
}

void fpga_manage::set_9022_para(int fpga)
{
    if (fpga < 0 || fpga > 1 || !SiI9022::p_9022)
        return;
    u32 expected = 3;
    if (SiI9022::p_9022->check_9022(fpga) != 0)
        monitor_state[fpga].compare_exchange_strong(expected, 4);
}

void fpga_manage::check_monitor_change(unsigned char fpga)
{
    if (fpga > 1)
        return;
    switch (monitor_state[fpga].load()) {
    case 1:
        write_to_register(FpgaReg::kHandshake, 0x10, 0x00, fpga);
        monitor_state[fpga] = 2;
        monitor_stamp[fpga] = G_timeTicks.load();
        break;
    case 2: {
        if (Utils::getTimeSpace(monitor_stamp[fpga]) <= monitor_delay[fpga])
            break;
        u8 size[4];
        if (read_fpga_ram(size, 116, sizeof size, kLcdPage, fpga) == 1) {
            {
                FpgaParaLock lock;
                std::memcpy(MCU_RAM_PARA_func[fpga] + 116, size, sizeof size);
            }
            if (ZevRamPara::get16(size, 0) != 0 && ZevRamPara::get16(size, 2) != 0)
                monitor_state[fpga] = 3;
        }
        monitor_stamp[fpga] = G_timeTicks.load();
        break;
    }
    case 4:
        set_fpga_lcd_wh(fpga);
        write_to_register(FpgaReg::kCommand, 0x01, 0x01, fpga);
        write_to_register(FpgaReg::kHandshake, 0x10, 0x10, fpga);
        monitor_state[fpga] = 0;
        monitor_delay[fpga] = kMonitorDelay;
        break;
    default:
        break;
    }
}

int fpga_manage::set_fpga_lcd_wh(unsigned char fpga)
{
    if (fpga > 1)
        return 0;
    u16 width, height;
    {
        C331Lock lock;
        width = ZevRamPara::img16(Img::kLedWidth);
        height = ZevRamPara::img16(Img::kLedHeight);
    }
    const u8 size[8] = {0, 0, 0, 0, u8(width), u8(width >> 8), u8(height), u8(height >> 8)};
    {
        FpgaParaLock lock;
        std::memcpy(MCU_RAM_PARA_func[fpga] + kLcdSizeAt, size, sizeof size);
        if (write_fpga_ram(size, kLcdSizeAt, sizeof size, FpgaRam::kParaPage, fpga) != 1)
            return 0;
    }
    return set_fpga_row_col_ram(width, height, fpga);
}

int fpga_manage::set_fpga_row_col_ram(unsigned short width, unsigned short height, unsigned char fpga)
{
    if (fpga > 1 || width > maxLines(kColumnTable) || height > maxLines(kRowTable))
        return 0;
    u8* table = MCU_RAM_DEFAULT;
    std::memset(table, 0, kColumnTable);
    row_col_calcul_ram(width, kColumnLines, table);
    if (write_fpga_ram(table, 0, FpgaRam::kPageSize, kColumnPage, fpga) != 1 ||
        write_fpga_ram(table + FpgaRam::kPageSize, FpgaRam::kPageSize, kColumnTable - FpgaRam::kPageSize, kColumnPage,
                       fpga) != 1)
        return 0;
    std::memset(table, 0, kRowTable);
    row_col_calcul_ram(height, kRowLines, table);
    return write_fpga_ram(table, 0, kRowTable, kRowPage, fpga);
}

void fpga_manage::row_col_calcul_ram(unsigned int n, unsigned int m, unsigned char* table)
{
    if (n == 0 || m == 0 || !table)
        return;
    std::memset(table, 0, n / 8);
    if (n <= m) {
        std::memset(table, 0xFF, m / 8);
        return;
    }
    const float r = float(n) / float(m);
    const unsigned last = unsigned(float(m) * r) - 1;
    for (unsigned k = 1; k <= last; ++k)
        setLine(table, k, false);
    for (unsigned i = 1; i < m; ++i) {
        const unsigned line = unsigned(float(i) * r);
        if (line >= 1 && line <= last)
            setLine(table, line, true);
    }
    const unsigned bit = (last - 1) % 8, byte = (last - 1) / 8;
    if (bit == 7)
        table[byte + 1] = 0xFF;
    else
        table[byte] = u8(table[byte] | (0xFFu << (bit + 1)));
}
