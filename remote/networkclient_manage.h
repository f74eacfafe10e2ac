// The cloud client: while a cloud server is configured (g_Nubo_cloud, a
// dotted IPv4 address and a port from the cloud settings) its thread keeps a
// TCP connection to it, logs in, sends a heartbeat every 30 s, and answers
// the server's commands in "KQOC" frames (protocol_phy_cloud_4g.h), over TLS
// while the certificate file is present, else over plain TCP (cloud_tls.h).
// A reconnect request (g_rconfig_device_nubocloud) drops the connection so
// the next turn connects with the current settings.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <pthread.h>

#include "core/global.h"
#include "link/tcpclinet.h"
#include "remote/cloud_tls.h"
#include "remote/protocol_phy_cloud_4g.h"

// Reconnect requests of the 4G link (under Utils::_reconfig_4g_mutex) and
// of the cloud client (under Utils::_reconfig_device_nubocloud_mutex).
extern u8 g_reconfig_4g;
extern u8 g_rconfig_device_nubocloud;

class networkclient_Manage
{
  public:
    // Creates the client on first call and starts acceptThread.
    static networkclient_Manage* pInstance();
    static networkclient_Manage* p_networkclient_Manage;

    networkclient_Manage();
    // Stops the thread and waits for it.
    ~networkclient_Manage();
    networkclient_Manage(const networkclient_Manage&) = delete;
    networkclient_Manage& operator=(const networkclient_Manage&) = delete;

    int initialize();
    static void* acceptThread(void* arg);
    // One turn of the thread: reconnect request, connect while configured,
    // heartbeat, one receive step of at most the client's wait, answers.
    // Returns how long the thread may sleep then: 0 not at all, -1 until
    // woken (nothing to connect to), else the milliseconds until the next
    // try.
    int client_pass();
    // The thread looks at the settings and the reconnect request again.
    void wake();

    // 1 while connected to the cloud server.
    std::atomic<u8> connected{0};

    // Sends one body as a frame of the given code: 0, else 255.
    int send_body(u16 code, const std::string& body);

    static constexpr u32 kHeartbeatTicks = 3000;
    // Pause after a failed connection before the next try.
    static constexpr u32 kRetryTicks = 500;

  private:
    bool configured(std::string* ip, int* port) const;
    // Connects over TLS or plain TCP as the certificate file says: true
    // when connected.
    bool open(const std::string& ip, int port);
    // One receive step into the frame cutter: false when the link is gone.
    bool receive(std::vector<cloud_frame_cutter::frame>& frames);
    void drop();

    TcpClinet client_;
    cloud_tls_socket tls_;
    cloud_frame_cutter cutter_;
    u32 heartbeat_stamp_ = 0;
    u32 retry_stamp_ = 0;
    bool tried_ = false;
    int wake_fd_ = -1;
    std::atomic<bool> stopping_{false};
    bool started_ = false;
    pthread_t thread_{};
};
