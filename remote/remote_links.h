// The cloud, 4G and Wi-Fi links as the PC protocol reaches them
// (message_remote.h): start-up installs one.
#pragma once

#include "link/message_remote.h"

class remote_links : public message_remote
{
  public:
    int deal_4g(u8* body, int length) override;
    int load_property() override;
    bool set_identity(const QString& barcode) override;
    void settings_installed() override;
    void cloud_server_changed() override;
    bool cloud_connected() override;
    bool wifi(wifi_settings* out) override;
};
