// What the PC protocol asks of the cloud, 4G and Wi-Fi links, which sit above
// it. The remote side implements it and start-up installs it; while none is
// installed the protocol answers as a box without those links.
#pragma once

#include <atomic>

#include <QString>

#include "core/global.h"

class message_remote
{
  public:
    virtual ~message_remote() = default;

    // Group 0xC4, the 4G module's text protocol: the reply length n counted
    // from offset 10, 0 for no reply.
    virtual int deal_4g(u8* body, int length) = 0;
    // Reloads g_4G_property from the cloud settings files: 0 when they were
    // loaded.
    virtual int load_property() = 0;
    // A new barcode: its identity goes into g_4G_property and is kept for the
    // cloud; false when it could not be kept on disk.
    virtual bool set_identity(const QString& barcode) = 0;
    // A new cloud settings file is on disk: the identity kept for the cloud
    // is forgotten, the property block reloaded, and the 4G link and the
    // cloud client reconnect.
    virtual void settings_installed() = 0;
    // The cloud server's address or port was set.
    virtual void cloud_server_changed() = 0;
    // Whether the cloud client is connected.
    virtual bool cloud_connected() = 0;

    // The Wi-Fi manager's settings as the device information reads them.
    struct wifi_settings {
        int first = 0;
        QString ap_hwaddr;
        int tcp_port = 0;
        QString ap_address;
        QString sta_hwaddr;
        int sta_port = 0;
        QString sta_address;
        QString sta_mask;
        QString sta_gateway;
    };
    // False while there is no Wi-Fi manager.
    virtual bool wifi(wifi_settings* out) = 0;

    // The installed side; null answers as said above.
    static void install(message_remote* remote) { slot().store(remote); }
    static message_remote* installed() { return slot().load(); }

  private:
    static std::atomic<message_remote*>& slot()
    {
        static std::atomic<message_remote*> remote{nullptr};
        return remote;
    }
};
