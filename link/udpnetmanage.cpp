#include "link/udpnetmanage.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>

#include "core/logMsg.h"
#include "core/utils.h"
#include "remote/message_deal_4g.h"

u8 g_udpnetmode = 1;

udpnetManage* udpnetManage::p_udpnetManage = nullptr;

namespace
{
uint64_t sender_key(const sockaddr_in& a)
{
    return (uint64_t(a.sin_addr.s_addr) << 16) | a.sin_port;
}
} // namespace

udpnetManage::port_link::port_link(bool isControl) : control(isControl), work(pc::kWorkSize), out(pc::kWireSize)
{
    if (control)
        passby = std::make_unique<passby_link>(PASSBY_UDP, answers);
}

udpnetManage* udpnetManage::pInstance()
{
    if (!p_udpnetManage) {
        p_udpnetManage = new udpnetManage();
        message_deal_4g::get_4G_property();
        p_udpnetManage->initialize();
    }
    return p_udpnetManage;
}

udpnetManage::udpnetManage() = default;
udpnetManage::~udpnetManage() = default;

int udpnetManage::open()
{
    if (!g_udpnetmode)
        return 255;
    int rc = 0;
    if (p5008_.server.initialize(kPort) != 0)
        rc = 255;
    if (wifi_.initialize(kWifiPort) != 0)
        rc = 255;
    if (p10005_.server.initialize(kSecondPort) != 0)
        rc = 255;
    return rc;
}

int udpnetManage::initialize()
{
    open();
    if (pthread_create(&threads_[0], nullptr, udpacceptThread, this) != 0 ||
        pthread_create(&threads_[1], nullptr, udpacceptThread_10005, this) != 0 ||
        pthread_create(&threads_[2], nullptr, udp_13769_acceptThread, this) != 0) {
        writeLogMsg(LOG_ERROR, "create accept thread failed");
        return 255;
    }
    return 0;
}

void* udpnetManage::udpacceptThread(void* arg)
{
    auto* self = static_cast<udpnetManage*>(arg);
    for (;;)
        self->port_pass(self->p5008_, kIdleWaitMs);
    return nullptr;
}

void* udpnetManage::udpacceptThread_10005(void* arg)
{
    auto* self = static_cast<udpnetManage*>(arg);
    for (;;)
        self->port_pass(self->p10005_, kIdleWaitMs);
    return nullptr;
}

void* udpnetManage::udp_13769_acceptThread(void* arg)
{
    auto* self = static_cast<udpnetManage*>(arg);
    for (;;)
        self->wifi_pass(kIdleWaitMs);
    return nullptr;
}

void udpnetManage::port_pass(port_link& p, int maxWaitMs)
{
    int wait = maxWaitMs;
    if (p.state == WAIT_CARDS)
        wait = std::min(wait, kCardWaitMs);
    else if (!p.frames.empty())
        wait = 0;
    int rc;
    if (p.frames.size() < kMaxFrames) {
        rc = p.server.recvData(p.control ? 0 : 1, wait, p.answers.wake_fd());
    } else {
        pollfd w{p.answers.wake_fd(), POLLIN, 0};
        rc = poll(&w, 1, wait) < 0 ? 255 : 0;
    }
    if (rc != 0)
        poll(nullptr, 0, wait);
    p.answers.drain_wake();
    take_datagrams(p);

    while (p.state == IDLE && !p.frames.empty()) {
        port_link::frame f = std::move(p.frames.front());
        p.frames.pop_front();
        handle_frame(p, f);
    }

    if (p.state == WAIT_CARDS && !p.passby->turn())
        p.state = IDLE;
    link_reply r;
    while (p.answers.pop(r))
        p.server.sendData(r.wire.data(), int(r.wire.size()), r.peer);
}

void udpnetManage::take_datagrams(port_link& p)
{
    while (!p.server.datagrams.empty()) {
        udp_datagram d = std::move(p.server.datagrams.front());
        p.server.datagrams.pop_front();
        uint64_t key = sender_key(d.from);
        auto it = p.senders.find(key);
        if (it == p.senders.end()) {
            if (p.senders.size() >= kMaxSenders) {
                auto oldest = std::min_element(p.senders.begin(), p.senders.end(), [](const auto& a, const auto& b) {
                    return a.second.used < b.second.used;
                });
                p.senders.erase(oldest);
            }
            it = p.senders.emplace(key, port_link::sender(kFrameLimit)).first;
        }
        port_link::sender& s = it->second;
        s.used = ++p.uses;
        bool touched = s.assembler.collecting() || std::find(d.data.begin(), d.data.end(), pc::kStart) != d.data.end();
        const sockaddr_in reply_to = d.reply_to;
        s.assembler.feed(d.data.data(), d.data.size(), [&p, &reply_to](const u8* bytes, int length) {
            p.frames.push_back({reply_to, std::vector<u8>(bytes, bytes + length)});
        });
        // Senders between frames need no assembly state.
        if (!s.assembler.collecting())
            p.senders.erase(it);
        // A datagram that starts or continues a frame ends the wait for cards.
        if (touched && p.state == WAIT_CARDS) {
            p.passby->end();
            p.state = IDLE;
        }
    }
}

void udpnetManage::handle_frame(port_link& p, const port_link::frame& f)
{
    if (p.control) {
        note_host_traffic();
    }
    int len = p.phy.accept_frame(f.bytes.data(), int(f.bytes.size()), p.work.data(), int(p.work.size()));
    if (len < 0) {
        if (debugOn())
            printf("\n frame error!!!!!!!");
        return;
    }
    if (p.control && protocol_phy::is_pass_through(p.work.data())) {
        // The check byte was verified; the cards get the whole body with it.
        p.work[size_t(len)] = Utils::BCC(p.work.data(), unsigned(len));
        link_reply dest;
        dest.peer = f.reply_to;
        p.state = WAIT_CARDS;
        if (!p.passby->start(p.work.data(), len + 1, dest))
            p.state = IDLE;
        return;
    }
    p.state = LOCAL_REPLY;
    int n = p.deal.message_group_deal(p.work.data(), len, 5);
    if (n > 0) {
        int w = protocol_phy::build_reply(p.work.data(), int(p.work.size()), n, p.out.data(), int(p.out.size()));
        if (w > 0)
            p.server.sendData(p.out.data(), w, f.reply_to);
    }
    p.state = IDLE;
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
    bool running = g_udpnetmode && side.running && side.handle && side.running();
    if (!running) {
        // Datagrams wait in the socket until the access point runs.
        pollfd w{wifi_answers_.wake_fd(), POLLIN, 0};
        if (poll(&w, 1, maxWaitMs) < 0)
            poll(nullptr, 0, maxWaitMs);
        wifi_answers_.drain_wake();
        return;
    }
    int wait = wifi_.datagrams.empty() ? maxWaitMs : std::min(maxWaitMs, 1);
    if (wifi_.datagrams.size() < kMaxWifiDatagrams) {
        if (wifi_.recvData(1, wait, wifi_answers_.wake_fd()) != 0)
            poll(nullptr, 0, wait);
    } else {
        poll(nullptr, 0, wait);
    }
    wifi_answers_.drain_wake();
    if (!wifi_.datagrams.empty()) {
        udp_datagram& d = wifi_.datagrams.front();
        if (side.handle(d.data.data(), int(d.data.size()), d.from) == 0)
            wifi_.datagrams.pop_front();
    }
    link_reply r;
    while (wifi_answers_.pop(r))
        wifi_.sendData(r.wire.data(), int(r.wire.size()), r.peer);
}
