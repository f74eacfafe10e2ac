#include "core/global.h"

#include <chrono>

#include "core/wake_flag.h"

TickCounter G_timeTicks;
std::atomic<u8> g_app_reset_flag{0};
std::atomic<u32> G_reboot_tickTicks{0};
std::atomic<u8> g_debugSwitch{254};
std::atomic<u8> g_language{1};
std::atomic<u32> g_lcd_lang_valid{kDefaultLcdLangValid};

std::atomic<int> g_port{5005};
std::atomic<int> g_int_tcp_port{5005};
QString g_str_ip;
QString g_srt_mask;
QString g_str_gateway;
QString g_str_mac;
QString g_str_barcode;
std::atomic<u32> g_zev_max_pixel{0};
char g_pid[33] = {0};

QString g_Nubo_cloudserverip;
int g_Nubo_cloudserverport = 0;
QString g_Nubo_clouduserid;
QString g_Nubo_controllername;
u8 g_Nubo_cloud = 0;

std::atomic<u8> g_set_led_para{0};
std::atomic<u8> g_set_led_setup{0};
std::atomic<u8> g_freeze_out{0};

std::atomic<u8> g_update_flag{0};
u8 g_update_status = 0;
QString g_usb_grade_path;

std::atomic<u8> pc_cmd_valid{0};
std::atomic<u32> pc_cmd_time{0};
std::atomic<u8> g_passby_trans_port{255};

std::atomic<u8> g_page_focus{0};
std::atomic<u8> g_image_current{0};
std::atomic<u8> g_mode_shortcut_key{0};
std::atomic<u8> g_mode_select{0};
std::atomic<u8> g_zev_keys{0};

u8 g_cut_source_state[30];

std::atomic<u8> g_source_online{0};
std::atomic<u32> g_fpga_lcd_on{0};

ZevFileDeal g_zev_file_deal_para;

u8 g_4G_property[132];
u8 g_4G_RAM[256];

namespace
{
// Never destroyed: a link may still wake the FPGA worker while the process
// ends.
WakeFlag& g_worker_wake = *new WakeFlag;
} // namespace

int64_t TickCounter::ns(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

u32 TickCounter::at(Clock::time_point now) const
{
    const int64_t start = start_ns_.load();
    const u32 base = base_.load();
    if (start < 0 || ns(now) < start)
        return base;
    const int64_t period = std::chrono::duration_cast<std::chrono::nanoseconds>(kPeriod).count();
    return base + u32(uint64_t(ns(now) - start) / uint64_t(period));
}

void TickCounter::store(u32 value)
{
    // Following the clock, the base is set so that the count reads value now.
    base_ = value - (at(Clock::now()) - base_.load());
}

u32 TickCounter::operator+=(u32 ticks)
{
    base_ += ticks;
    return load();
}

void TickCounter::follow_clock(Clock::time_point now)
{
    if (!following())
        start_ns_ = ns(now);
}

void note_host_traffic()
{
    pc_cmd_time = G_timeTicks.load();
    if (pc_cmd_valid.exchange(1) == 0)
        wake_fpga_worker();
}

void wake_fpga_worker()
{
    g_worker_wake.wake();
}

void wait_fpga_worker(unsigned usec)
{
    g_worker_wake.wait_for(std::chrono::microseconds(usec));
}
