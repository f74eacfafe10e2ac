#include "remote/q64_wifi_config.h"

std::atomic<u8> g_wifi_reset_flag{0};

Q64_WIFI_CONFIG* Q64_WIFI_CONFIG::p_wifi = nullptr;
std::atomic<u32> Q64_WIFI_CONFIG::wifi_reset_timeticks{0};
std::atomic<u32> Q64_WIFI_CONFIG::wifi_ap_timeticks{0};
std::atomic<u8> Q64_WIFI_CONFIG::wifi_ap_state{0};

void Q64_WIFI_CONFIG::set_wifi_reset_flag()
{
    g_wifi_reset_flag = 1;
    wifi_reset_timeticks = G_timeTicks.load();
}
