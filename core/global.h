// Globals shared across the subsystems. Flags that threads share without a
// lock are atomics of the documented width.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include <QString>

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;

// The 10 ms tick count. It is a plain counter (set and advanced by whoever
// drives it, as tests do) until follow_clock(): from then on it counts whole
// 10 ms periods of the monotonic clock on top of its value at that moment,
// so every thread reads the present tick and a late GUI tick loses nothing.
class TickCounter
{
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPeriod{10};

    u32 load() const { return at(Clock::now()); }
    void store(u32 value);
    operator u32() const { return load(); }
    TickCounter& operator=(u32 value)
    {
        store(value);
        return *this;
    }
    u32 operator+=(u32 ticks);
    u32 operator++() { return *this += 1; }
    u32 operator++(int) { return (*this += 1) - 1; }

    // The count at the moment now.
    u32 at(Clock::time_point now) const;
    void follow_clock(Clock::time_point now);
    bool following() const { return start_ns_.load() >= 0; }

  private:
    static int64_t ns(Clock::time_point t);
    std::atomic<u32> base_{0};
    std::atomic<int64_t> start_ns_{-1};
};
extern TickCounter G_timeTicks;

// Restart request and the tick it was stamped at.
extern std::atomic<u8> g_app_reset_flag;
extern std::atomic<u32> G_reboot_tickTicks;

// Debug printing is on while this holds 254.
extern std::atomic<u8> g_debugSwitch;
inline bool debugOn()
{
    return g_debugSwitch.load(std::memory_order_relaxed) == 254;
}

// UI language (0 zh, 1 en, 2 ru, 3 vn, 4 tw) and the set of enabled ones.
extern std::atomic<u8> g_language;
extern std::atomic<u32> g_lcd_lang_valid;
constexpr u32 kDefaultLcdLangValid = 0x1001F;

// Network settings as configured. The five texts are read and replaced only
// through Utils::net_identity and its setters, under their mutex; the ports
// are replaced on the PC links and the GUI thread and read everywhere.
extern std::atomic<int> g_port;
extern std::atomic<int> g_int_tcp_port;
extern QString g_str_ip;
extern QString g_srt_mask;
extern QString g_str_gateway;
extern QString g_str_mac;
extern QString g_str_barcode;
// Replaced by every settings reload (a PC link, the GUI thread).
extern std::atomic<u32> g_zev_max_pixel;
extern char g_pid[33]; // 32-character device id

// Cloud settings loaded at start-up.
extern QString g_Nubo_cloudserverip;
extern int g_Nubo_cloudserverport;
extern QString g_Nubo_clouduserid;
extern QString g_Nubo_controllername;
extern u8 g_Nubo_cloud;

// LED output set-up request and its step (under Utils::_led_para_init_mutex),
// and the output-freeze request.
extern std::atomic<u8> g_set_led_para;
extern std::atomic<u8> g_set_led_setup;
extern std::atomic<u8> g_freeze_out;

// Update in progress, and whether the board's start command is current.
extern std::atomic<u8> g_update_flag;
extern u8 g_update_status;
// Read and replaced only through Utils::usb_grade_path and its setter.
extern QString g_usb_grade_path;
// Scan-parameter file chosen on the smart-mapping page (empty: none). Written
// on the GUI thread only while no job runs; the load job reads it after the
// post that publishes it.

// Size of the staging buffer fileBuf_tarvo (core/staging.h), the largest file
// a transfer or an upgrade stages.
constexpr u32 kFileBufSize = 0x500000;

// Host traffic notes: the receiving-card jobs pause while a host is active.
extern std::atomic<u8> pc_cmd_valid;
extern std::atomic<u32> pc_cmd_time;
// Notes a host frame (the two words above); the first frame of a burst wakes
// the FPGA worker, so it sees the traffic at once rather than after its idle
// pause.
void note_host_traffic();
void wake_fpga_worker();
// The FPGA worker's pause between passes: at most usec, cut short by a wake.
void wait_fpga_worker(unsigned usec);
// The link waiting for a pass-through answer: 1 serial, 2 TCP, 3 UDP 5008,
// 4 the 4G link.
extern std::atomic<u8> g_passby_trans_port;

// Front panel: page with the keys, current window, user-mode page state.
extern std::atomic<u8> g_page_focus;
extern std::atomic<u8> g_image_current;
extern std::atomic<u8> g_mode_shortcut_key;
extern std::atomic<u8> g_mode_select;
extern std::atomic<u8> g_zev_keys;

// Map of crop numbers in use: bit 40 x source + crop number.
extern u8 g_cut_source_state[30];

// Input start-up gate (2 once the timings are in the image) and LED output
// state seen by the input side.
extern std::atomic<u8> g_source_online;
extern std::atomic<u32> g_fpga_lcd_on;

// The one PC file-write transfer.
struct ZevFileDeal {
    int32_t mtd_fd = -1;
    u8 kind = 0;
    QString path;
    u32 size = 0;
};
extern ZevFileDeal g_zev_file_deal_para;

// A calendar time read from the system clock.
struct TimeRealType {
    u16 year = 0;
    u8 month = 0;
    u8 day = 0;
    u8 hour = 0;
    u8 minute = 0;
    u8 second = 0;
    u8 week = 0;
};

// Cloud property block (device id text, 12-byte identity at 25, server IPv4
// and u16 port after it) and the 4G module's status window (byte 0 = 0xAA
// when valid, byte 56 = online state).
extern u8 g_4G_property[132];
extern u8 g_4G_RAM[256];
