// The box's Wi-Fi access point on wlan0: its thread brings the access point
// up one step a second (address, DHCP server, hostapd) while the panel has
// Wi-Fi on (image byte 774 = 0), restarts it on request, and answers the
// Wi-Fi clients' text commands on UDP port 13769 while it runs (state 3).
// While neither would act the thread sleeps until a request, a write of the
// parameter image, a new address or a state change wakes it.
//
// Text commands (one a datagram, a trailing line end ignored); every answer
// ends "OK\r\n", or is "ERROR\r\n":
//   AT+CHECKDATA            "+CHECKDATA:<ssid>,<passphrase>,<address>\r\nOK\r\n"
//   AT+SETDATA=<ssid>,<pw>  rewrites "/etc/rtl_hostapd_2G.conf" and restarts
//                           the access point (ssid 1-32 printable characters
//                           without ",", passphrase 8-63)
// Each start rewrites "/etc/rtl_hostapd_2G.conf" (name and passphrase) and
// "/etc/udhcpd.conf" (leases in the access point's /24) before it runs the
// daemons, so the DHCP range always matches the access point's address.
//   AT+RST                  restarts the access point
//   AT+RESTORE              factory name and passphrase, then as AT+RST
//   AT+GETVER               "+GETVER:<version>\r\nOK\r\n"
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include <QString>
#include <QStringList>

#include <netinet/in.h>
#include <pthread.h>

#include "core/global.h"

class udpnetManage;

// A byte the Wi-Fi thread's steps read: every store calls changed, which
// wakes the thread, so a step that can act again is taken up.
class wifi_byte
{
  public:
    constexpr explicit wifi_byte(void (*changed)()) : changed_(changed) {}
    u8 load() const { return value_.load(); }
    operator u8() const { return load(); }
    wifi_byte& operator=(u8 value)
    {
        value_ = value;
        changed_();
        return *this;
    }

  private:
    std::atomic<u8> value_{0};
    void (*const changed_)();
};

// Restart request: 1 asked, 2 stopped, 3 kill all; 0 none.
extern wifi_byte g_wifi_reset_flag;

class Q64_WIFI_CONFIG
{
  public:
    // Creates the manager on first call, reads its files and starts
    // WiFi_Start_Thread.
    static Q64_WIFI_CONFIG* pInstance();
    static Q64_WIFI_CONFIG* p_wifi;

    Q64_WIFI_CONFIG();

    // Asks the thread to restart the access point.
    void set_wifi_reset_flag();

    // Reads the access point's settings and addresses: 0.
    int read_wifi_files();
    // Starts the thread: 0, or 255 when it cannot be created.
    int initialize();
    static void* WiFi_Start_Thread(void* arg);
    // One pass of the thread: the start-up step every 100 ticks, the reset
    // step every 300.
    void wifi_pass();
    // Ticks until wifi_pass has a step to take (at least 1), or kUntilWoken
    // when neither the start-up step nor the reset step would act.
    u32 ticks_to_next_step() const;
    static constexpr u32 kUntilWoken = 0;
    bool start_up_would_act() const;
    static bool reset_would_act();
    // Ends the thread's pause: whatever a step reads may have changed.
    static void wake();
    // The thread's pause: true when woken, false once bound has passed.
    static bool wait_for_wake(std::chrono::milliseconds bound);
    // The pause while no step would act is bounded all the same.
    static constexpr std::chrono::seconds kIdleBound{60};
    void wifi_ap_start_up();
    void wifi_reset();

    // One text datagram from a Wi-Fi client; the answer is queued for it on
    // the UDP manager's 13769 list. 0: consumed.
    int wifi_AT_cmd_manage(const u8* data, int length, const sockaddr_in& from);
    // The answer text for one command (without queueing).
    std::string answer(const std::string& command);

    // Text settings in the order the device information reads them: first
    // setting ("2" once the files were read), access point hardware address,
    // TCP port, access point address, station hardware address, station port
    // ("5005"), station address, mask and gateway.
    enum Setting {
        FIRST = 0,
        AP_HWADDR,
        TCP_PORT,
        AP_ADDRESS,
        STA_HWADDR,
        STA_PORT,
        STA_ADDRESS,
        STA_MASK,
        STA_GATEWAY,
        SETTING_COUNT
    };
    QString setting(Setting s) const;

    // Lets the UDP manager's 13769 thread hand datagrams here.
    static void attach_udp(udpnetManage* udp);

    static std::atomic<u32> wifi_reset_timeticks;
    static std::atomic<u32> wifi_ap_timeticks;
    // The access point's state (3: running). Every change also wakes the
    // UDP 13769 thread, which reads datagrams only while it runs.
    static wifi_byte wifi_ap_state;

    static const char* kHostapdConf;
    static const char* kUdhcpdConf;
    static const char* kVersion;
    // The hostapd lines written when the board has no file.
    static const char* kHostapdBase;

    // The DHCP server's file for an access point at address.
    static QByteArray udhcpd_text(const QString& address);

  private:
    // Replaces both daemon files whole (a power cut leaves the old or the
    // new one); the hostapd file keeps its other lines. False when either
    // cannot be written.
    bool write_ap_files(const QString& ssid, const QString& passphrase, const QString& address);
    // A new name and passphrase, written before they are taken.
    bool set_name(const QString& ssid, const QString& passphrase);
    static bool valid_ssid(const QString& ssid);
    static bool valid_passphrase(const QString& passphrase);
    QString factory_ssid() const;

    mutable std::mutex mutex_;
    QStringList settings_;
    QString ssid_;
    QString passphrase_;
    pthread_t thread_{};
};
