// Shared helpers: check codes, tick arithmetic, shell commands, MTD writes,
// IP set-up, and the named mutexes that guard shared resources.
#pragma once

#include <array>
#include <functional>
#include <string>

#include <QMutex>
#include <QString>

#include "core/global.h"

class Utils
{
  public:
    // XOR of the first length bytes; 0 for length 0.
    static u8 BCC(const unsigned char* data, unsigned int length);
    // CRC-16/ARC: polynomial 0x8005 reflected, initial 0, no final XOR.
    static u16 calcCRC16(const unsigned char* data, unsigned int length);
    // Ticks elapsed since start, modulo 2^32.
    static u32 getTimeSpace(u32 start);

    // The GUI tick's timer sleeps while nothing waits on it. Whoever starts
    // something the tick steps (a restart, the update page, a tip) calls
    // wake_tick afterwards, from any thread, and the tick runs every 10 ms
    // again; the main window installs the hook.
    static void wake_tick();
    static void set_tick_wake_hook(void (*hook)());
    // Stamps G_reboot_tickTicks, then sets g_app_reset_flag: the tick runs
    // "reboot" 300 ticks later.
    static void request_restart();

    // Runs one command under _system_mutex; 0 when its status is 0, else 255.
    static int system_mutex(const QString& command, int* status = nullptr);
    // The command's whole output; empty when it cannot be started.
    static std::string shell_exec(const std::string& command, int line_size);

    // Reads of stored files (record files, upgrade packages): n bytes at
    // offset of a regular board file, under _file_deal_mutex, without
    // blocking on anything that is not a regular file. size, when given,
    // receives the file's length (n 0 asks only for that).
    enum { FILE_READ = 0, FILE_MISSING = 1, FILE_DAMAGED = 2 };
    // FILE_MISSING when it does not exist; FILE_DAMAGED when it cannot be
    // opened, is no regular file, ends before offset + n, or a read failed.
    static int read_file_at(const QString& path, uint64_t offset, void* out, size_t n, int64_t* size = nullptr);

    // MTD helpers (erase: 0 done, 8 failed and fd closed; write: 0 or 1).
    static int non_region_erase(int fd, int offset, int length, int unlock);
    static int non_region_write(int fd, unsigned char* data, int length, int offset);

    // Wired network set-up. Only valid addresses reach the shell: a stored
    // address that is not one is replaced by its factory default, and
    // init_resteth refuses invalid arguments with 255.
    static int init_resteth(const QString& ip, const QString& gateway, const QString& mask);
    static int initIPAddress();
    // Points the board's start-up line at the application when it does not
    // yet, then moves a received application ("/data/app/zevQ64N2") over
    // the running one; false, the old application and the start-up line as
    // they were, when either cannot be done.
    static bool install_new_app();
    static constexpr const char* kNewApp = "/data/app/zevQ64N2";
    static constexpr const char* kStartFile = "/data/configs/led_load_config.ini";
    // What is said of a start-up file that cannot be read, at start and at
    // an install alike, so that it is named once.
    static constexpr const char* kStartFileUnread =
        "cannot be read: no application can be installed, the file is kept as it is";
    static void getIPAddress();

    // The cloud server settings (g_Nubo_*), copied and replaced whole under
    // _reconfig_device_nubocloud_mutex: the cloud client thread reads them
    // while a PC link replaces them.
    struct CloudSettings {
        QString server;
        int port = 0;
        QString user;
        QString controller;
        u8 on = 0;
    };
    static CloudSettings cloud_settings();
    static void set_cloud_settings(const CloudSettings& settings);

    // The wired identity (g_str_ip, g_srt_mask, g_str_gateway, g_str_mac,
    // g_str_barcode), copied and replaced under _net_identity_mutex: the PC
    // links replace them while the pages and the cloud link copy them.
    struct NetIdentity {
        QString ip;
        QString mask;
        QString gateway;
        QString mac;
        QString barcode;
    };
    static NetIdentity net_identity();
    static void set_net_identity(const NetIdentity& identity);
    static void set_net_address(const QString& ip, const QString& mask, const QString& gateway);
    static void set_net_mac(const QString& mac);
    static void set_net_barcode(const QString& barcode);
    // The USB upgrade folder (g_usb_grade_path) under the same mutex: a
    // settings reload on a PC link or the GUI thread replaces it while the
    // FPGA worker copies it for an upgrade.
    static QString usb_grade_path();
    static void set_usb_grade_path(const QString& path);

    // The cloud property block g_4G_property, copied and changed whole under
    // _cloud_property_mutex: the cloud link reads it while a PC link
    // replaces the identity or reloads the cloud settings.
    using CloudProperty = std::array<u8, sizeof g_4G_property>;
    static CloudProperty cloud_property();
    static void change_cloud_property(const std::function<void(u8* block)>& change);

    static QMutex _spi_mutex;
    static QMutex _c331_bnk_mutex;
    static QMutex _file_deal_mutex;
    static QMutex _source_hdminfo_mutex;
    static QMutex _test_signal_mutex;
    static QMutex _system_mutex;
    // g_set_led_para and g_set_led_setup: after the apply mutex, and nothing
    // is taken under it (the lock order is in core/para_apply.h).
    static QMutex _led_para_init_mutex;
    static QMutex _bri_set_mutex;
    static QMutex _fpga_multicast_mutex;
    static QMutex _reconfig_4g_mutex;
    static QMutex _reconfig_device_nubocloud_mutex;
    static QMutex _cloud_property_mutex;
    static QMutex _net_identity_mutex;
};

// "sync" after a file write, then the 100 ms settle the board's flash needs.
void syncAndSettle();
