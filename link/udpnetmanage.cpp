#include "link/udpnetmanage.h"

#include <cstdio>
#include <utility>
#include <poll.h>

#include "core/logMsg.h"
#include "core/utils.h"
#include "link/message_remote.h"
#include "core/logging.h"

u8 g_udpnetmode = 1;

udpnetManage* udpnetManage::p_udpnetManage = nullptr;

namespace
{
port_rules udp_rules(u8 marker, int replyLimit)
{
    port_rules r;
    r.passby_marker = marker;
    r.reply_limit = replyLimit;
    r.max_peers = udpnetManage::kMaxSenders;
    return r;
}
} // namespace

udpnetManage* udpnetManage::pInstance()
{
    if (!p_udpnetManage) {
        p_udpnetManage = new udpnetManage();
        if (message_remote* remote = message_remote::installed())
            remote->load_property();
        p_udpnetManage->initialize();
    }
    return p_udpnetManage;
}

udpnetManage::udpnetManage()
    : p5008_(p5008_server_, udp_rules(PASSBY_UDP, kBroadcastLimit)),
      p10005_(p10005_server_, udp_rules(PASSBY_NONE, kDatagramLimit))
{
}

int udpnetManage::open()
{
    if (!g_udpnetmode)
        return 255;
    const std::pair<UdpServer*, int> servers[] = {
        {&p5008_server_, kPort}, {&wifi_, kWifiPort}, {&p10005_server_, kSecondPort}};
    int rc = 0;
    for (const auto& [server, port] : servers)
        if (server->initialize(port) != 0)
            rc = 255;
    return rc;
}

int udpnetManage::initialize()
{
    open();
    const bool started = threads_.start(udpacceptThread, &p5008_, [this] { p5008_.stop(); }) &&
                         threads_.start(udpacceptThread_10005, &p10005_, [this] { p10005_.stop(); }) &&
                         threads_.start(udp_13769_acceptThread, this, [this] {
                             wifi_stopping_ = true;
                             wifi_answers_.wake();
                         });
    return started ? 0 : 255;
}

void* udpnetManage::udp_13769_acceptThread(void* arg)
{
    auto* self = static_cast<udpnetManage*>(arg);
    while (!self->wifi_stopping_.load())
        self->wifi_pass(-1);
    return nullptr;
}

void udpnetManage::set_wifi_side(const wifi_side& side)
{
    std::lock_guard<std::mutex> lock(wifi_side_mutex_);
    wifi_side_ = side;
}

bool udpnetManage::queue_13769_answer(const u8* data, int length, const sockaddr_in& to)
{
    if (!data || length < 0)
        return false;
    link_reply r;
    r.wire.assign(data, data + length);
    r.peer = to;
    return wifi_answers_.push(std::move(r));
}

void udpnetManage::wifi_pass(int maxWaitMs)
{
    wifi_side side;
    {
        std::lock_guard<std::mutex> lock(wifi_side_mutex_);
        side = wifi_side_;
    }
    const int pause = maxWaitMs < 0 ? command_port::kFailurePauseMs : maxWaitMs;
    bool running = g_udpnetmode && side.running && side.handle && side.running();
    if (!running) {
        // Datagrams wait in the socket until the access point runs.
        pollfd w{wifi_answers_.wake_fd(), POLLIN, 0};
        if (poll(&w, 1, maxWaitMs) < 0)
            poll(nullptr, 0, pause);
        if (w.revents & POLLIN)
            wifi_answers_.drain_wake();
        return;
    }
    if (wifi_.recvData(1, maxWaitMs, wifi_answers_.wake_fd()) != 0)
        poll(nullptr, 0, pause);
    if (!wifi_.datagrams.empty()) {
        udp_datagram& d = wifi_.datagrams.front();
        // One the handler does not accept is dropped, or it would stand in
        // front of every later one for ever.
        if (side.handle(d.data.data(), int(d.data.size()), d.from) != 0 && debugOn())
            zevlog::debug(lcLink(), "wifi datagram of %zu bytes not accepted\n", d.data.size());
        wifi_.datagrams.pop_front();
    }
    link_reply r;
    while (wifi_answers_.pop(r))
        wifi_.sendData(r.wire.data(), int(r.wire.size()), r.peer);
}
