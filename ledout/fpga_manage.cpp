#include "ledout/fpga_manage.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include <QMutexLocker>

#include "board/board.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/rcv_recovery_file.h"

fpga_manage* fpga_manage::p_fpga_manage = nullptr;

u8* fpga_manage::MCU_REG_func[2] = {nullptr, nullptr};
u8* fpga_manage::MCU_RAM_PARA_func[2] = {nullptr, nullptr};
pthread_mutex_t fpga_manage::para_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
u8* fpga_manage::MCU_RAM_RX_func[2] = {nullptr, nullptr};
u8* fpga_manage::MCU_RAM_TX_func[2] = {nullptr, nullptr};
u8* fpga_manage::MCU_RAM_ETH_PARA_func[2] = {nullptr, nullptr};
u8* fpga_manage::MCU_RAM_ETH_BACK_PARA_func[2] = {nullptr, nullptr};
u8 fpga_manage::MCU_RAM_CMD[FpgaRam::kPageSize];
std::mutex fpga_manage::cmd_mutex_;
bool fpga_manage::cmd_pending_ = false;
u8 fpga_manage::cmd_fields_[FpgaRam::kPageSize];
unsigned fpga_manage::cmd_held_from_ = FpgaRam::kPageSize;
unsigned fpga_manage::cmd_held_to_ = 0;
u8 fpga_manage::MCU_RAM_EXTEND[FpgaRam::kPageSize];
u8 fpga_manage::MCU_RAM_ZOOM[FpgaRam::kPageSize];
u8 fpga_manage::MCU_RAM_DEFAULT[2 * FpgaRam::kPageSize];

namespace
{
constexpr u8 kRamType = 1;
constexpr u8 kRegType = 2;
constexpr u8 kVersion[4] = {1, 17, 0, 0};

bool isShadowOnly(unsigned reg)
{
    return reg >= FpgaReg::kShadowOnlyFirst && reg <= FpgaReg::kUnusedLast;
}
} // namespace

const u8 fpga_manage::RAM1[256] = {
    0x00, 0x05, 0x00, 0x04, 0x76, 0x05, 0xD2, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x56, 0x05, 0x00, 0x03, 0xD9, 0xB8, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

std::atomic<u8> ScreenState{1};
SEND_PARA g_send_para;
MAPPING_LINE_PARA line_type;
std::atomic<u8> g_usb_grade{0};
std::atomic<u8> g_usb_grade_outcome{USB_FINISHED};
FPGA_TIMER g_change;

bool SEND_PARA::post(u8 job)
{
    if (job == JOB_NONE || g_usb_grade.load() != 0)
        return false;
    u16 cur = job_word.load();
    while ((cur & 0xFF) == JOB_NONE)
        if (job_word.compare_exchange_weak(cur, u16(job))) {
            wake_fpga_worker();
            return true;
        }
    return false;
}

void SEND_PARA::set_step(u8 step)
{
    u16 cur = job_word.load();
    while (!job_word.compare_exchange_weak(cur, u16((cur & 0xFF) | (step << 8)))) {
    }
}

fpga_manage* fpga_manage::pInstance()
{
    if (!p_fpga_manage) {
        p_fpga_manage = new fpga_manage();
        p_fpga_manage->initialize();
        rcvRecovery::check_file_dir(rcvRecovery::kSmartDir);
        rcvRecovery::check_file_dir(rcvRecovery::kRecoveryDir);
    }
    return p_fpga_manage;
}

fpga_manage::fpga_manage()
{
    writeLogMsg(LOG_BANNER, "====fpga_manage::fpga_manage()=====");
    p_drv = new fpga_drv();
    // Set once: a PC link's clock command writes the record beside the worker.
    clock_record.drv = p_drv;
    std::memset(reg_shadow_, 0, sizeof reg_shadow_);
    std::memset(ram_para_, 0, sizeof ram_para_);
    std::memset(ram_rx_, 0, sizeof ram_rx_);
    std::memset(ram_tx_, 0, sizeof ram_tx_);
    std::memset(ram_eth_, 0, sizeof ram_eth_);
    std::memset(ram_eth_back_, 0, sizeof ram_eth_back_);
    std::memset(HalfHourValue, 0x0F, sizeof HalfHourValue);
    rcv_file = new rcvRecovery();
    for (int f = 0; f < 2; ++f) {
        MCU_REG_func[f] = reg_shadow_[f];
        MCU_RAM_PARA_func[f] = ram_para_[f];
        MCU_RAM_RX_func[f] = ram_rx_[f];
        MCU_RAM_TX_func[f] = ram_tx_[f];
        MCU_RAM_ETH_PARA_func[f] = ram_eth_[f];
        MCU_RAM_ETH_BACK_PARA_func[f] = ram_eth_back_[f];
    }
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    for (auto& m : reg_mutex)
        pthread_mutex_init(&m, &attr);
    pthread_mutexattr_destroy(&attr);
    pthread_mutex_init(&irq_mutex, nullptr);
}

int fpga_manage::initialize()
{
    int result = 0;
    fpga_vbyone1_fd = p_drv->initialize_vbyne1(0);
    if (debugOn())
        zevlog::debug(lcLedout(), "\n fpga_vbyone1_fd fd = %d \n", fpga_vbyone1_fd);
    fpga_vbyone1_flash_fd = p_drv->initialize_vbyne1(2);
    if (debugOn())
        zevlog::debug(lcLedout(), "\n fpga_vbyone1_flash_fd fd = %d \n", fpga_vbyone1_flash_fd);
    if (fpga_vbyone1_fd < 0 || fpga_vbyone1_flash_fd < 0)
        result = 255;
    if (map_lines() != 0)
        result = 255;
    return result;
}

int fpga_manage::map_lines()
{
    board::Pads& pads = board::current().pads();
    if (pads.map() != 0) {
        writeLogMsg(LOG_ERROR, "fpga control lines cannot be mapped: no LED output");
        return 255;
    }
    pads.write16(0x207944, 0x0000);
    pads.write16(0x207940, 0x0000);
    pads.write16(0x207948, 0x0010);
    pads.write16(0x001F1C, 0x0001);
    return 0;
}

unsigned int fpga_manage::fpga_cmd_to_spi_data(unsigned int type, unsigned int page, unsigned int address,
                                               unsigned int read)
{
    return (read & 1) | ((type & 0x0F) << 1) | ((page & 0xFF) << 8) | ((address & 0xFFF) << 16);
}

unsigned int fpga_manage::fpga_reg_cmd_to_spi_data(unsigned int type, unsigned int page, unsigned int reg,
                                                   unsigned int read, unsigned int mask)
{
    return (read & 1) | ((type & 0x0F) << 1) | ((page & 0xFF) << 8) | ((reg & 0xFF) << 16) | ((mask & 0xFF) << 24);
}

int fpga_manage::transaction(unsigned char fpga, unsigned int command, const u8* tx, u8* rx, unsigned int len)
{
    if (fpga > 1)
        return 0;
    const int fd = fpga == 0 ? fpga_vbyone1_fd : fpga_vbyone2_fd;
    if (fd < 0 || !fpga_drv::lines_mapped())
        return 0;
    const u32 cmdLine = fpga == 0 ? FpgaPad::CMD_FPGA0 : FpgaPad::CMD_FPGA1;
    const u32 csOwn = fpga == 0 ? FpgaPad::CS_FPGA0 : FpgaPad::CS_FPGA1;
    const u32 csOther = fpga == 0 ? FpgaPad::CS_FPGA1 : FpgaPad::CS_FPGA0;
    const u8 word[4] = {u8(command), u8(command >> 8), u8(command >> 16), u8(command >> 24)};

    QMutexLocker lock(&Utils::_spi_mutex);
    fpga_drv::set_line(cmdLine, true);
    fpga_drv::set_line(csOwn, false);
    fpga_drv::set_line(csOther, true);
    bool ok = p_drv->SPI_Transfer_Write(fd, word, 4) > 0;
    fpga_drv::set_line(cmdLine, false);
    if (ok)
        ok = p_drv->SPI_Transfer(fd, tx, rx, int(len)) > 0;
    fpga_drv::set_line(FpgaPad::CS_FPGA0, true);
    fpga_drv::set_line(FpgaPad::CS_FPGA1, true);
    return ok ? 1 : 0;
}

int fpga_manage::read_fpga_register(unsigned int reg, unsigned char* out, unsigned char fpga)
{
    if (reg >= FpgaReg::kCount || !out)
        return 0;
    const u8 tx = 0xFF;
    u8 rx = 0;
    if (!transaction(fpga, fpga_reg_cmd_to_spi_data(kRegType, 0, reg, 1, 0), &tx, &rx, 1))
        return 0;
    *out = rx;
    return 1;
}

int fpga_manage::write_fpga_register(unsigned int reg, unsigned char value, unsigned char fpga, unsigned char mask)
{
    if (reg >= FpgaReg::kCount)
        return 0;
    return transaction(fpga, fpga_reg_cmd_to_spi_data(kRegType, 0, reg, 0, mask), &value, nullptr, 1);
}

int fpga_manage::read_from_register(unsigned char reg, unsigned char fpga)
{
    if (fpga > 1 || reg >= FpgaReg::kCount || isShadowOnly(reg))
        return 0;
    FpgaRegLock lock(this, fpga);
    u8 value;
    if (!read_fpga_register(reg, &value, fpga))
        return 0;
    set_shadow_reg(fpga, reg, value);
    return 1;
}

u8 fpga_manage::shadow_reg(unsigned char fpga, unsigned char reg)
{
    u8* shadow = MCU_REG_func[fpga & 1];
    if (!shadow || reg >= FpgaReg::kCount)
        return 0;
    return __atomic_load_n(&shadow[reg], __ATOMIC_RELAXED);
}

void fpga_manage::set_shadow_reg(unsigned char fpga, unsigned char reg, u8 value)
{
    u8* shadow = MCU_REG_func[fpga & 1];
    if (shadow && reg < FpgaReg::kCount)
        __atomic_store_n(&shadow[reg], value, __ATOMIC_RELAXED);
}

int fpga_manage::write_to_register(unsigned char reg, unsigned char mask, unsigned char value, unsigned char fpga)
{
    return merge_write(reg, mask, value, fpga, true);
}

int fpga_manage::write_to_0x00_register(unsigned char reg, unsigned char mask, unsigned char value, unsigned char fpga)
{
    return merge_write(reg, mask, value, fpga, false);
}

int fpga_manage::merge_write(unsigned char reg, unsigned char mask, unsigned char value, unsigned char fpga,
                             bool mirror)
{
    if (fpga > 1 || reg >= FpgaReg::kCount || (reg > FpgaReg::kShadowOnlyLast && reg <= FpgaReg::kUnusedLast))
        return 0;
    // The blackout bit goes into the image with the register, under the
    // apply mutex taken before the register lock (the order of
    // core/para_apply.h); a pending LED set-up switches the screen without it.
    const bool blackout = mirror && reg == FpgaReg::kScreen && mask == 0x04 && g_set_led_para.load() == 0;
    std::optional<C331Lock> image;
    if (blackout)
        image.emplace();
    bool runPage = false;
    int written;
    {
        FpgaRegLock lock(this, fpga);
        if (reg >= FpgaReg::kShadowOnlyFirst && reg <= FpgaReg::kShadowOnlyLast) {
            set_shadow_reg(fpga, reg, u8((shadow_reg(fpga, reg) & ~mask) | (value & mask)));
            return 1;
        }
        // Without the register's present value the merge would overwrite the
        // bits outside the mask.
        if (!read_from_register(reg, fpga))
            return 0;
        u8 v = u8((shadow_reg(fpga, reg) & ~mask) | (value & mask));
        if (mirror && reg == FpgaReg::kCommand) {
            runPage = v & 0x04;
            v &= u8(~0x06);
        }
        // The screen state follows every write of register 0, the start-up's
        // screen commands included, so the PC never reads "on" for a screen
        // held off; only the image's blackout word is left to the mirroring form.
        if (reg == FpgaReg::kScreen) {
            const bool off = v & 0x04;
            ScreenState = off ? 0 : 1;
            if (blackout)
                ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kBlackout, off ? 1 : 0);
            __atomic_store_n(&MCU_RAM_EXTEND[29], ScreenState.load(), __ATOMIC_RELAXED);
        }
        set_shadow_reg(fpga, reg, v);
        written = write_fpga_register(reg, v, fpga, mask);
    }
    image.reset();
    if (blackout)
        ZevRamPara::test_signal(1);
    // The page runs with no lock held: it takes the apply mutex and the
    // register lock in their order itself.
    if (runPage)
        run_command_page();
    return written;
}

int fpga_manage::write_fpga_ram(const unsigned char* data, unsigned int address, unsigned int length,
                                unsigned char page, unsigned char fpga)
{
    if (!data || length == 0 || uint64_t(address) + length > FpgaRam::kAddressSpace)
        return 0;
    return transaction(fpga, fpga_cmd_to_spi_data(kRamType, page, address, 0), data, nullptr, length);
}

int fpga_manage::read_fpga_ram(unsigned char* out, unsigned int address, unsigned int length, unsigned char page,
                               unsigned char fpga)
{
    if (!out || length == 0 || uint64_t(address) + length > FpgaRam::kAddressSpace)
        return 0;
    std::vector<u8> tx(length, 0xFF);
    return transaction(fpga, fpga_cmd_to_spi_data(kRamType, page, address, 1), tx.data(), out, length);
}

void fpga_manage::FPGA_to_RAM(unsigned char fpga)
{
    if (fpga > 1)
        return;
    u8 regs[4];
    for (u8 r = 28; r <= 31; ++r) {
        read_from_register(r, fpga);
        regs[r - 28] = shadow_reg(fpga, r);
    }
    set_command_fields(12, regs, sizeof regs);
}

void fpga_manage::Version_to_RAM()
{
    set_command_fields(24, kVersion, sizeof kVersion);
}

void fpga_manage::PHY_status_to_RAM()
{
    const u8 zeros[4] = {};
    set_command_fields(30, zeros, sizeof zeros);
}

void fpga_manage::pc_write_command_page(const u8* data, unsigned length)
{
    std::lock_guard<std::mutex> lock(cmd_mutex_);
    std::memcpy(MCU_RAM_CMD, data, std::min<size_t>(length, sizeof MCU_RAM_CMD));
    // Only a command is kept for its run: nothing else would run.
    cmd_pending_ = length > 0 && data[0] == 0xAA;
}

void fpga_manage::read_command_page(u8* out, unsigned length)
{
    std::lock_guard<std::mutex> lock(cmd_mutex_);
    std::memcpy(out, MCU_RAM_CMD, std::min<size_t>(length, sizeof MCU_RAM_CMD));
}

void fpga_manage::set_command_fields(unsigned offset, const u8* data, unsigned length)
{
    if (offset >= sizeof MCU_RAM_CMD)
        return;
    length = std::min<unsigned>(length, unsigned(sizeof MCU_RAM_CMD) - offset);
    std::lock_guard<std::mutex> lock(cmd_mutex_);
    std::memcpy(cmd_fields_ + offset, data, length);
    if (!cmd_pending_) {
        std::memcpy(MCU_RAM_CMD + offset, data, length);
        return;
    }
    cmd_held_from_ = std::min(cmd_held_from_, offset);
    cmd_held_to_ = std::max(cmd_held_to_, offset + length);
}

void fpga_manage::take_command_page(u8* out)
{
    std::lock_guard<std::mutex> lock(cmd_mutex_);
    std::memcpy(out, MCU_RAM_CMD, sizeof MCU_RAM_CMD);
    cmd_pending_ = false;
    if (cmd_held_from_ < cmd_held_to_)
        std::memcpy(MCU_RAM_CMD + cmd_held_from_, cmd_fields_ + cmd_held_from_, cmd_held_to_ - cmd_held_from_);
    cmd_held_from_ = sizeof MCU_RAM_CMD;
    cmd_held_to_ = 0;
}

u16 fpga_manage::para16(unsigned char fpga, unsigned offset)
{
    u8 word[2] = {0, 0};
    read_para_page(fpga, offset, word, sizeof word);
    return ZevRamPara::get16(word, 0);
}

void fpga_manage::read_para_page(unsigned char fpga, unsigned offset, u8* out, unsigned length)
{
    if (offset >= FpgaRam::kPageSize)
        return;
    length = std::min(length, FpgaRam::kPageSize - offset);
    FpgaParaLock lock;
    if (const u8* page = MCU_RAM_PARA_func[fpga & 1])
        std::memcpy(out, page + offset, length);
}

bool fpga_manage::get_fpga_status()
{
    return shadow_reg(0, FpgaReg::kState) == 3 && start[0].vbo_state.load() == 7 && start[0].out_state.load() >= 16 &&
           !(shadow_reg(0, FpgaReg::kScreen) & 0x08);
}

int fpga_manage::get_eth_param_addr(unsigned char port, unsigned short* x, unsigned short* y, unsigned short* w,
                                    unsigned short* h)
{
    static const unsigned short kFirst[4] = {8, 19, 32, 43};
    if (port > 15)
        port = 0;
    unsigned short base;
    if (port < 4)
        base = kFirst[port];
    else if (port < 8)
        base = u16(520 + 8 * (port - 4));
    else
        base = u16(576 + 8 * (port - 8));
    *x = base;
    *y = u16(base + 2);
    *w = u16(base + 4);
    *h = u16(base + 6);
    return 0;
}

int fpga_manage::erase_sector(unsigned int sector)
{
    return p_drv->FPGA_SPI_FLASH_VBYONE_ERASE(FpgaFlash::kFlash0, sector, 0, 1);
}

int fpga_manage::store_command_page(const u8* page, unsigned int sector, unsigned int length)
{
    if (!erase_sector(sector))
        return 0;
    std::vector<u8> buffer(FpgaFlash::kWriteHeadroom + length);
    std::memcpy(buffer.data() + FpgaFlash::kWriteHeadroom, page, length);
    return p_drv->FPGA_SPI_FLASH_VBYONE_WRITE(FpgaFlash::kFlash0, sector * FpgaFlash::kSectorSize, buffer.data(),
                                              length);
}

void fpga_manage::run_command_page()
{
    // The page as the PC left it: what the worker writes meanwhile changes
    // neither what runs nor what is stored.
    u8 page[FpgaRam::kPageSize];
    take_command_page(page);
    if (page[0] != 0xAA)
        return;
    // What is stored is the header and the data behind it; a length that
    // runs past the page is refused.
    const unsigned int stored = (page[6] | (page[7] << 8)) + 8u;
    const bool fits = stored <= FpgaRam::kPageSize;
    const u8 store = page[2];
    switch (page[1]) {
    case 1:
        Checktime(page);
        break;
    case 2:
        OnOff_time(page);
        if (store == 0xAA && fits) {
            if (store_command_page(page, FpgaRam::kOnOffSector, stored))
                write_to_register(FpgaReg::kOnOffStored, 0xFF, 1, 0);
        } else if (store == 0x55) {
            if (erase_sector(FpgaRam::kOnOffSector))
                write_to_register(FpgaReg::kOnOffStored, 0xFF, 0, 0);
        }
        break;
    case 3:
        if (page[8] & 0xEF) {
            if (store == 0xAA && fits) {
                store_command_page(page, FpgaRam::kBrightnessSector, stored);
                bri_reload = 1;
            } else if (store == 0x55) {
                erase_sector(FpgaRam::kBrightnessSector);
                bri_reload = 1;
            }
            g_change.bri_task_stamp = G_timeTicks.load();
        } else {
            write_to_register(FpgaReg::kManualBri, 0xFF, page[9], 0);
            bri_value = page[9];
            Brightness_hand_dealwith(0);
            if (store == 0xAA && fits) {
                store_command_page(page, FpgaRam::kBrightnessSector, stored);
                bri_reload = 1;
            }
        }
        break;
    default:
        break;
    }
    if ((store == 0xAA) && !fits)
        writeLogMsg(LOG_ERROR, "fpga command page: length past the page, not stored");
}
