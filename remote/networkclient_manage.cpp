#include "remote/networkclient_manage.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QMutexLocker>

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/net_check.h"
#include "link/net_socket.h"
#include "remote/message_deal_cloud_4g.h"
#include "core/logging.h"

u8 g_reconfig_4g = 0;
u8 g_rconfig_device_nubocloud = 0;

networkclient_Manage* networkclient_Manage::p_networkclient_Manage = nullptr;

networkclient_Manage* networkclient_Manage::pInstance()
{
    if (!p_networkclient_Manage) {
        p_networkclient_Manage = new networkclient_Manage();
        p_networkclient_Manage->initialize();
    }
    return p_networkclient_Manage;
}

networkclient_Manage::networkclient_Manage() : wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (wake_fd_ < 0)
        zevlog::warnErrno(lcRemote(), "cloud client: eventfd");
}

networkclient_Manage::~networkclient_Manage()
{
    if (started_) {
        stopping_ = true;
        wake();
        pthread_join(thread_, nullptr);
    }
    if (wake_fd_ >= 0)
        close(wake_fd_);
}

int networkclient_Manage::initialize()
{
    if (pthread_create(&thread_, nullptr, acceptThread, this) != 0) {
        writeLogMsg(LOG_ERROR, "create cloud client thread failed");
        return 255;
    }
    started_ = true;
    return 0;
}

void* networkclient_Manage::acceptThread(void* arg)
{
    auto* self = static_cast<networkclient_Manage*>(arg);
    while (!self->stopping_.load()) {
        const int sleep = self->client_pass();
        if (sleep == 0)
            continue;
        // Without a wake descriptor the settings are looked at once a second.
        pollfd p{self->wake_fd_, POLLIN, 0};
        const int ready = poll(&p, 1, self->wake_fd_ < 0 ? 1000 : sleep);
        if (ready > 0)
            drain_wake_fd(self->wake_fd_);
        else if (ready < 0 && errno != EINTR)
            poll(nullptr, 0, 1000);
    }
    return nullptr;
}

void networkclient_Manage::wake()
{
    uint64_t one = 1;
    if (wake_fd_ >= 0 && write(wake_fd_, &one, sizeof one) < 0 && errno != EAGAIN)
        zevlog::warnErrno(lcRemote(), "cloud client: wake");
}

bool networkclient_Manage::configured(std::string* ip, int* port) const
{
    const Utils::CloudSettings cloud = Utils::cloud_settings();
    if (!cloud.on || !net_check::ipv4(cloud.server) || !net_check::port(cloud.port))
        return false;
    *ip = cloud.server.toStdString();
    *port = cloud.port;
    return true;
}

bool networkclient_Manage::open(const std::string& ip, int port)
{
    QList<QSslCertificate> authorities;
    if (!cloud_tls_socket::certificates(authorities))
        return client_.sockerConnect(ip.c_str(), port) == 1;
    // A certificate file that holds none leaves the link down rather than
    // in the clear.
    return tls_.open(ip, port, authorities, TcpClinet::kWaitMs);
}

bool networkclient_Manage::receive(std::vector<cloud_frame_cutter::frame>& frames)
{
    if (tls_.is_open()) {
        std::vector<u8> got;
        if (!tls_.receive(got, TcpClinet::kRecordSize, TcpClinet::kWaitMs))
            return false;
        cutter_.feed(got.data(), got.size(), frames);
        return true;
    }
    u8 gone = 0;
    client_.recvData(&gone);
    if (gone || client_.socket() < 0)
        return false;
    while (!client_.records.empty()) {
        const TcpClinet::record& r = client_.records.front();
        cutter_.feed(r.data.data(), size_t(r.count), frames);
        client_.records.pop_front();
    }
    return true;
}

void networkclient_Manage::drop()
{
    tls_.close();
    client_.Close();
    client_.records.clear();
    cutter_.reset();
    connected = 0;
}

int networkclient_Manage::send_body(u16 code, const std::string& body)
{
    if (!connected.load())
        return 255;
    const std::vector<u8> f = protocol_phy_cloud_4g::build(code, body);
    if (tls_.is_open()) {
        if (tls_.send(f.data(), f.size(), TcpClinet::kWaitMs))
            return 0;
        drop();
        return 255;
    }
    if (client_.sendData(f.data(), int(f.size()), client_.socket()) != 0) {
        if (client_.socket() < 0)
            drop();
        return 255;
    }
    return 0;
}

int networkclient_Manage::client_pass()
{
    {
        QMutexLocker lock(&Utils::_reconfig_device_nubocloud_mutex);
        if (g_rconfig_device_nubocloud) {
            g_rconfig_device_nubocloud = 0;
            drop();
            tried_ = false;
        }
    }
    std::string ip;
    int port = 0;
    if (!configured(&ip, &port)) {
        if (connected.load())
            drop();
        // Nothing to connect to until the settings change.
        return -1;
    }
    if (!connected.load()) {
        const u32 since = Utils::getTimeSpace(retry_stamp_);
        if (tried_ && since < kRetryTicks)
            return int((kRetryTicks - since) * TickCounter::kPeriod.count());
        tried_ = true;
        retry_stamp_ = G_timeTicks.load();
        if (!open(ip, port))
            return 0;
        connected = 1;
        heartbeat_stamp_ = G_timeTicks.load();
        send_body(cloud::kCommand, message_deal_cloud_4g::login());
        return 0;
    }
    if (Utils::getTimeSpace(heartbeat_stamp_) >= kHeartbeatTicks) {
        heartbeat_stamp_ = G_timeTicks.load();
        send_body(cloud::kCommand, message_deal_cloud_4g::heartbeat());
    }
    std::vector<cloud_frame_cutter::frame> frames;
    if (!receive(frames)) {
        drop();
        return 0;
    }
    for (const cloud_frame_cutter::frame& f : frames) {
        std::string answer;
        if (message_deal_cloud_4g::deal(f.body.data(), f.body.size(), answer) == message_deal_cloud_4g::ANSWER)
            send_body(cloud::kAnswer, answer);
    }
    return 0;
}
