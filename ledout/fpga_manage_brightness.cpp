// Brightness of the LED screen (manual, half-hour time table, automatic from
// a multifunction card), its record in the FPGA's flash, the daily screen
// on/off times, and the requests to the multifunction card.
#include <chrono>
#include <cstring>
#include <functional>

#include <QMutexLocker>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_manage_jobs.h"
#include "video/c331_manage.h"

using namespace FpgaCards;

namespace
{
constexpr u32 kBriRecordAddress = FpgaRam::kBrightnessSector * FpgaFlash::kSectorSize;
constexpr u32 kOnOffRecordAddress = FpgaRam::kOnOffSector * FpgaFlash::kSectorSize;
constexpr unsigned kBriRecordSize = 57;
constexpr unsigned kOnOffRecordSize = 50;
constexpr u8 kModeManualPc = 0;
constexpr u8 kModeTablePc = 1;
constexpr u8 kModeAuto = 2;
constexpr u8 kModeAutoSlow = 3;
constexpr u8 kModeManualImage = 16;
constexpr u8 kModeTableStored = 17;
constexpr u8 kMinBrightness = 15;
constexpr u32 kVmfSensorAddress = 0x02000000;
constexpr u32 kVmfWaitTicks = 35;
constexpr u32 kVmfMisses = 10;

bool isTableMode(u8 m)
{
    return m == kModeTablePc || m == kModeTableStored;
}

u8 fromBcd(u8 b)
{
    return u8((b >> 4) * 10 + (b & 0x0F));
}

// The screen level of an image percent (0 to 100, more counts as 100).
u8 level_of(u16 percent)
{
    return u8((percent > 100 ? 100 : percent) * 255u / 100u);
}
// The nearest percent of a level. One level is less than half a percent,
// so every percent comes back from its own level as set.
u16 percent_of(u8 level)
{
    return u16((level * 100u + 127u) / 255u);
}
// Whether the image's percent already stands for the level: it reads back
// as that percent, or the level is the minimum the percent was raised to.
bool names_level(u16 percent, u8 level)
{
    return percent_of(level) == percent || (level == kMinBrightness && level_of(percent) < kMinBrightness);
}
} // namespace

namespace vmf
{
int port()
{
    FpgaParaLock lock;
    const u8* page = fpga_manage::MCU_RAM_PARA_func[0];
    for (unsigned p = 0; p < kPorts; ++p)
        if (page[kStatusAt[p]] != 0)
            return int(p);
    return -1;
}

u16 address(unsigned port)
{
    return u16(0x4000 + (port % 4) * 0x1000);
}

int packet(u8* b, u16 address, u8 group, const u8* data, unsigned n)
{
    const u8 head[10] = {u8(address), u8(address >> 8), 0x00, 0xF0, 0x10, vmf::kCode, 0x03, 0x00, 0x00, group};
    std::memcpy(b, head, sizeof head);
    std::memcpy(b + 10, data, n);
    b[10 + n] = Utils::BCC(b, 10 + n);
    return int(11 + n);
}

void wait(fpga_manage* m, unsigned char fpga, const std::function<void()>& check)
{
    const u32 start = G_timeTicks.load();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m->vmf_wait_ms);
    while (g_change.vmf_answer_state == 0) {
        {
            FpgaServiceLock lock(m);
            m->reg_IRQ_Dealwith(fpga, 0);
            if (fpga == 0)
                m->reg_IRQ_Dealwith(1, 0);
        }
        check();
        if (g_change.vmf_answer_state != 0 || Utils::getTimeSpace(start) > kVmfWaitTicks ||
            std::chrono::steady_clock::now() >= deadline)
            return;
        usleep(500);
    }
}
} // namespace vmf

// ---- records ----

// The records are read into buffers of the worker's own: a command page the
// PC wrote and has not yet run is not overwritten.
void fpga_manage::record_bright_change()
{
    if (shadow_reg(0, FpgaReg::kState) != 3)
        return;
    u8 record[kBriRecordSize];
    u8 first = 0;
    if (!p_drv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kFlash0, kBriRecordAddress, 1, &first) || first != 0xAA ||
        !p_drv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kFlash0, kBriRecordAddress, kBriRecordSize, record)) {
        bri_task_on = 0;
        bri_mode = 255;
        bri_value = 16;
        write_to_register(FpgaReg::kManualBri, 0xFF, 16, 0);
        return;
    }
    Brightness_init(record);
}

void fpga_manage::Brightness_init(const unsigned char* record)
{
    const u8 mode = record[8];
    bri_mode = mode;
    bri_last_index = 255;
    bri_change = 0;
    bri_repeat = 0;
    bri_task_on = 0;
    vmf_miss = 0;
    if (mode == kModeManualPc || mode == kModeManualImage) {
        write_to_register(FpgaReg::kManualBri, 0xFF, record[9], 0);
        bri_value = record[9];
        bri_task_on = 1;
    } else if (isTableMode(mode)) {
        std::memcpy(HalfHourValue, record + 9, sizeof HalfHourValue);
        bri_task_on = 1;
    } else if (mode == kModeAuto) {
        bri_task_on = 1;
    }
}

void fpga_manage::OnOff_time(const unsigned char* page)
{
    std::lock_guard<std::mutex> lock(onoff_mutex);
    onoff_count = page[8] > 4 ? 4 : page[8];
    for (unsigned e = 0; e < 4; ++e) {
        const u8* t = page + 9 + 4 * e;
        onoff[e] = ONOFF_ENTRY{fromBcd(t[0]), fromBcd(t[1]), fromBcd(t[2]), fromBcd(t[3]), 1, 1};
    }
}

void fpga_manage::record_onoff_time(unsigned char flash)
{
    if (shadow_reg(0, FpgaReg::kState) != 3 && flash != FpgaFlash::kFlash0)
        return;
    u8 record[kOnOffRecordSize];
    u8 first = 0;
    if (!p_drv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kFlash0, kOnOffRecordAddress, 1, &first) || first != 0xAA)
        return;
    if (!p_drv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kFlash0, kOnOffRecordAddress, kOnOffRecordSize, record))
        return;
    OnOff_time(record);
    write_to_register(FpgaReg::kOnOffStored, 0xFF, 1, 0);
}

// ---- applying ----

int fpga_manage::Brightness_hand_dealwith(unsigned char request)
{
    // A request without a pending image change is the start-up apply: the
    // stored mode stays in force and its record is not rewritten.
    const bool imageChange = request && bri_set_flag.load();
    const bool startup = request && !imageChange;
    const u8 mode = bri_mode.load();
    const bool fromImage = imageChange || (startup && !bri_task_on.load());
    if (startup && bri_task_on.load()) {
        if (isTableMode(mode)) {
            TimeRealType t;
            IT8563WE_Get(&t);
            bri_value = HalfHourValue[half_hour_index(t.hour, t.minute)];
            write_to_register(FpgaReg::kManualBri, 0xFF, bri_value, 0);
        } else if (mode == kModeAuto || mode == kModeAutoSlow) {
            write_to_register(FpgaReg::kManualBri, 0xFF, bri_value, 0);
        }
    }
    const u16 image = ZevRamPara::locked16(Img::kBrightness);
    u8 value = 0;
    if (fromImage) {
        value = level_of(image);
        if (mode != kModeManualImage && mode != kModeTableStored && value < kMinBrightness)
            value = kMinBrightness;
        write_to_register(FpgaReg::kManualBri, 0xFF, value, 0);
        bri_value = value;
    }
    read_from_register(128, 0);
    read_from_register(144, 0);
    const u16 links = u16(shadow_reg(0, 144) << 8 | shadow_reg(0, 128));
    if (links) {
        {
            FpgaParaLock lock;
            MCU_RAM_PARA_func[0][256] = 1;
        }
        if (!fromImage) {
            value = shadow_reg(0, FpgaReg::kManualBri);
            if (mode != kModeAuto && mode != kModeManualImage && mode != kModeTableStored)
                value = u8(value * 16 - 1);
            if (!names_level(image, value)) {
                const u16 percent = percent_of(value);
                // Written with its shadow and as applied: the apply pass
                // sees no edit.
                {
                    C331Lock lock;
                    ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kBrightness, percent);
                    ZevRamPara::put16(ZevRamPara::p_zevrampara_shadow, Img::kBrightness, percent);
                    c331_manage::take_as_applied(Img::kBrightness, percent);
                }
                ZevRamPara::test_signal(1);
            }
        }
        write_to_register(FpgaReg::kBrightness, 0xFF, value, 0);
        write_to_register(FpgaReg::kVboControl, 0x04, 0x04, 0);
    }
    if (imageChange) {
        u8 record[kBriRecordSize] = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, kModeManualImage};
        std::memset(record + 9, shadow_reg(0, FpgaReg::kManualBri), 48);
        u8 stored[kBriRecordSize];
        const bool same =
            p_drv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kFlash0, kBriRecordAddress, kBriRecordSize, stored) &&
            std::memcmp(stored, record, kBriRecordSize) == 0;
        if (!same && erase_sector(FpgaRam::kBrightnessSector)) {
            u8 buffer[FpgaFlash::kWriteHeadroom + kBriRecordSize];
            std::memcpy(buffer + FpgaFlash::kWriteHeadroom, record, kBriRecordSize);
            p_drv->FPGA_SPI_FLASH_VBYONE_WRITE(FpgaFlash::kFlash0, kBriRecordAddress, buffer, kBriRecordSize);
        }
        Brightness_init(record);
    }
    return 1;
}

u8 fpga_manage::half_hour_index(unsigned hour, unsigned minute)
{
    const unsigned sum = minute + 60 * hour;
    unsigned index = sum / 30;
    if (sum >= 1440)
        index -= 1;
    return u8(index > 47 ? 47 : index);
}

// ---- the task ----

void fpga_manage::Extension_function()
{
    if (bri_reload.exchange(0))
        record_bright_change();
    if (bri_task_on.load())
        Brightness_task();
    if (shadow_reg(0, FpgaReg::kOnOffStored) == 1)
        dealwith_onoff();
}

void fpga_manage::Brightness_task()
{
    const u32 since = Utils::getTimeSpace(g_change.bri_task_stamp);
    const u8 mode = bri_mode.load();
    if (mode == kModeAuto) {
        if (since < 200)
            return;
        g_change.bri_task_stamp = G_timeTicks.load();
        Brightness_auto_change();
        return;
    }
    if (since < 1000)
        return;
    g_change.bri_task_stamp = G_timeTicks.load();
    if (isTableMode(mode))
        Brightness_time_change();
    else if (mode == kModeManualPc || mode == kModeManualImage)
        Brightness_hand_change();
    else if (mode == kModeAutoSlow)
        Brightness_auto_change();
}

void fpga_manage::Brightness_hand_change()
{
    if (bri_change) {
        bri_change = 0;
        bri_repeat = 0;
    }
    if (bri_repeat >= 5)
        return;
    ++bri_repeat;
    Brightness_hand_dealwith(0);
}

void fpga_manage::Brightness_time_change()
{
    const u8 index = half_hour_index(time_real.hour, time_real.minute);
    if (index == bri_last_index && !bri_change) {
        if (bri_repeat < 2) {
            ++bri_repeat;
            Brightness_hand_dealwith(0);
        }
        return;
    }
    bri_value = HalfHourValue[index];
    write_to_register(FpgaReg::kManualBri, 0xFF, HalfHourValue[index], 0);
    Brightness_hand_dealwith(0);
    bri_last_index = index;
    bri_repeat = 0;
    bri_change = 0;
    Brightness_hand_dealwith(0);
}

void fpga_manage::Brightness_auto_change()
{
    Brightness_check_VMF();
    Brightness_read_VMF_value();
    Brightness_auto_filter();
    Brightness_hand_dealwith(0);
}

void fpga_manage::Brightness_check_VMF()
{
    const int p = vmf::port();
    g_change.vmf_address = p < 0 ? 0 : vmf::address(unsigned(p));
    g_change.vmf_group = p < 0 ? 0 : u8(p / 4 + 1);
}

void fpga_manage::Brightness_read_VMF_value()
{
    if (!g_change.vmf_address)
        return;
    g_change.vmf_data_flag = 0;
    Send_read_VMF_data_cmd();
    Brightness_VMF_run();
    if (!g_change.vmf_data_flag)
        ++vmf_miss;
}

void fpga_manage::Send_read_VMF_data_cmd()
{
    const u16 a = g_change.vmf_address;
    if (!a || !g_change.vmf_group)
        return;
    const unsigned port = unsigned(g_change.vmf_group - 1) * 4 + ((a >> 12) & 3u);
    const u32 at = kVmfSensorAddress;
    const u8 data[8] = {u8(at), u8(at >> 8), u8(at >> 16), u8(at >> 24), 128, 0, 0, 0};
    u8 b[32];
    vmf_answer_flag = 0;
    Send_to_port(b, u16(vmf::packet(b, a, vmf::kGroupReadRam, data, sizeof data)), u16(port), 0);
}

void fpga_manage::Brightness_VMF_run()
{
    g_change.vmf_answer_state = 0;
    g_change.vmf_expect_group = vmf::kGroupReadRam;
    vmf::wait(this, 0, [this] { VMF_data_back_result(); });
}

void fpga_manage::VMF_data_back_result()
{
    if (!vmf_answer_flag.load())
        return;
    if (vmf_answer_group == vmf::kGroupReadRam && vmf_answer[0] == 0) {
        std::memcpy(vmf_data, vmf_answer + 1, sizeof vmf_data);
        g_change.vmf_data_flag = 1;
        g_change.vmf_answer_state = 1;
    } else {
        FpgaRegLock lock(this, 0);
        set_shadow_reg(0, vmf::kRegErrors, u8(shadow_reg(0, vmf::kRegErrors) + 1));
        g_change.vmf_answer_state = 2;
    }
    vmf_answer_flag = 0;
}

void fpga_manage::Brightness_auto_filter()
{
    if (g_change.vmf_data_flag) {
        g_change.vmf_data_flag = 0;
        vmf_miss = 0;
        if (vmf_data[49] == 0xFF) {
            u8 v = bri_value.load();
            if (v < vmf_data[53])
                ++v;
            else if (v > vmf_data[53])
                --v;
            bri_value = v;
            write_to_register(FpgaReg::kManualBri, 0xFF, v, 0);
        }
    }
    if (vmf_miss >= kVmfMisses) {
        bri_value = 255;
        write_to_register(FpgaReg::kManualBri, 0xFF, 255, 0);
        vmf_miss = 0;
    }
}

// ---- daily on/off ----

void fpga_manage::dealwith_onoff()
{
    const TimeRealType& t = time_real;
    bool on = false, off = false;
    {
        std::lock_guard<std::mutex> lock(onoff_mutex);
        for (unsigned e = 0; e < onoff_count; ++e) {
            ONOFF_ENTRY& x = onoff[e];
            if (x.on_armed && x.on_hour == t.hour && x.on_minute == t.minute) {
                x.on_armed = 0;
                on = true;
            }
        }
        for (unsigned e = 0; e < onoff_count; ++e) {
            ONOFF_ENTRY& x = onoff[e];
            if (x.off_armed && x.off_hour == t.hour && x.off_minute == t.minute) {
                x.off_armed = 0;
                off = true;
            }
        }
        if (on || off)
            onoff_switched = off ? 2 : 1;
        if (t.day != onoff_day) {
            for (auto& x : onoff) {
                x.on_armed = 1;
                x.off_armed = 1;
            }
            onoff_day = t.day;
        }
    }
    // Switched after the table's lock is free: the screen commands take the
    // apply mutex and the register lock.
    if (on)
        SCREEN_fpgactrl_status(1);
    if (off)
        SCREEN_fpgactrl_status(0);
    if (on || off)
        Power_ctrl_reset();
}

// ---- kept but not called by the worker ----
