#include "remote/remote_links.h"

#include <QMutexLocker>

#include "core/utils.h"
#include "remote/message_deal_4g.h"
#include "remote/networkclient_manage.h"
#include "remote/q64_wifi_config.h"
#include "remote/uart_inout_4G.h"

int remote_links::deal_4g(u8* body, int length)
{
    message_deal_4g handler;
    return handler.message_deal_4G(body, length);
}

int remote_links::load_property()
{
    return message_deal_4g::get_4G_property();
}

bool remote_links::set_identity(const QString& barcode)
{
    return message_deal_4g::set_identity(barcode);
}

void remote_links::settings_installed()
{
    Utils::system_mutex(QString("rm -rf ") + message_deal_4g::kBarcodeFile);
    message_deal_4g::get_4G_property();
    {
        QMutexLocker lock(&Utils::_reconfig_4g_mutex);
        g_reconfig_4g = 1;
    }
    {
        QMutexLocker lock(&Utils::_reconfig_device_nubocloud_mutex);
        if (g_rconfig_device_nubocloud == 0)
            g_rconfig_device_nubocloud = 1;
    }
    // Both threads sleep until there is something for them.
    if (Kq_uart_inout_4G* modem = Kq_uart_inout_4G::p_uart_inout_4G)
        modem->wake();
    cloud_server_changed();
}

void remote_links::cloud_server_changed()
{
    if (networkclient_Manage* cloud = networkclient_Manage::p_networkclient_Manage)
        cloud->wake();
}

bool remote_links::cloud_connected()
{
    networkclient_Manage* cloud = networkclient_Manage::p_networkclient_Manage;
    return cloud && cloud->connected.load();
}

bool remote_links::wifi(wifi_settings* out)
{
    Q64_WIFI_CONFIG* w = Q64_WIFI_CONFIG::p_wifi;
    if (!w)
        return false;
    out->first = w->setting(Q64_WIFI_CONFIG::FIRST).toInt();
    out->ap_hwaddr = w->setting(Q64_WIFI_CONFIG::AP_HWADDR);
    out->tcp_port = w->setting(Q64_WIFI_CONFIG::TCP_PORT).toInt();
    out->ap_address = w->setting(Q64_WIFI_CONFIG::AP_ADDRESS);
    out->sta_hwaddr = w->setting(Q64_WIFI_CONFIG::STA_HWADDR);
    out->sta_port = w->setting(Q64_WIFI_CONFIG::STA_PORT).toInt();
    out->sta_address = w->setting(Q64_WIFI_CONFIG::STA_ADDRESS);
    out->sta_mask = w->setting(Q64_WIFI_CONFIG::STA_MASK);
    out->sta_gateway = w->setting(Q64_WIFI_CONFIG::STA_GATEWAY);
    return true;
}
