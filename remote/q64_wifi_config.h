// The box's own Wi-Fi access point: its state and the reset request the
// other-settings page raises when the operator switches Wi-Fi on.
#pragma once

#include <atomic>

#include "core/global.h"

// 1 asks the Wi-Fi thread to stop the access point and start it again.
extern std::atomic<u8> g_wifi_reset_flag;

class Q64_WIFI_CONFIG
{
  public:
    static Q64_WIFI_CONFIG* p_wifi;

    // Raises the reset request and stamps it with the tick.
    void set_wifi_reset_flag();

    static std::atomic<u32> wifi_reset_timeticks;
    static std::atomic<u32> wifi_ap_timeticks;
    // 0 to 3; 3 = access point up.
    static std::atomic<u8> wifi_ap_state;
};
