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

udpnetManage::port_link::port_link(bool isControl)
    : control(isControl), work(pc::kWorkSize), work_dirty(pc::kWorkSize), out(pc::kWireSize)
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
    if (!p.passing.empty())
        wait = std::min(wait, kCardWaitMs);
    if (!p.frames.empty())
        wait = 0;
    int rc;
    if (p.frames.size() < kMaxFrames) {
        rc = p.server.recvData(p.control ? 0 : 1, wait, p.answers.wake_fd());
    } else {
        pollfd w{p.answers.wake_fd(), POLLIN, 0};
        rc = poll(&w, 1, wait) < 0 ? 255 : 0;
        if (w.revents & POLLIN)
            p.answers.drain_wake();
    }
    if (rc != 0)
        poll(nullptr, 0, wait);
    take_datagrams(p);

    while (!p.frames.empty()) {
        port_link::frame f = std::move(p.frames.front());
        p.frames.pop_front();
        handle_frame(p, f);
    }
    if (p.passby)
        pass_cards(p);
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
        const sockaddr_in from = d.from, reply_to = d.reply_to;
        s.assembler.feed(d.data.data(), d.data.size(), [&p, &from, &reply_to](const u8* bytes, int length) {
            p.frames.push_back({from, reply_to, std::vector<u8>(bytes, bytes + length)});
        });
        // Senders between frames need no assembly state.
        if (!s.assembler.collecting())
            p.senders.erase(it);
    }
}

void udpnetManage::handle_frame(port_link& p, const port_link::frame& f)
{
    if (p.control)
        note_host_traffic();
    int len = p.phy.accept_frame(f.bytes.data(), int(f.bytes.size()), p.work.data(), int(p.work.size()), &p.work_dirty);
    if (len < 0) {
        if (debugOn())
            printf("\n frame error!!!!!!!");
        return;
    }
    if (p.control && protocol_phy::is_pass_through(p.work.data())) {
        const uint64_t key = sender_key(f.from);
        unsigned& queued = p.passing_per_sender[key];
        if (queued >= kMaxPassing || p.passing.size() >= kMaxPassingTotal || len + 1 >= kPassbyMaxFrame) {
            if (queued == 0)
                p.passing_per_sender.erase(key);
            if (debugOn())
                printf("card frame dropped: %zu queued\n", p.passing.size());
            return;
        }
        ++queued;
        // The check byte was verified; the cards get the whole body with it.
        p.passing.push_back(
            {key, passby_link::ticket(), f.reply_to, std::vector<u8>(p.work.begin(), p.work.begin() + len + 1)});
        return;
    }
    const bool cardsOut = p.state == WAIT_CARDS;
    if (!cardsOut)
        p.state = LOCAL_REPLY;
    int n = p.deal.message_group_deal(p.work.data(), len, 5, sender_key(f.from));
    if (n > 0) {
        int w = protocol_phy::build_reply(p.work.data(), int(p.work.size()), n, p.out.data(), int(p.out.size()),
                                          &p.work_dirty);
        if (w > (p.control ? kBroadcastLimit : kDatagramLimit))
            w = protocol_phy::build_refusal(p.work.data(), int(p.work.size()), p.out.data(), int(p.out.size()),
                                            &p.work_dirty);
        if (w > 0)
            p.server.sendData(p.out.data(), w, f.reply_to);
    }
    if (!cardsOut)
        p.state = IDLE;
}

void udpnetManage::card_frame_done(port_link& p)
{
    auto it = p.passing_per_sender.find(p.passing.front().sender);
    if (it != p.passing_per_sender.end() && --it->second == 0)
        p.passing_per_sender.erase(it);
    p.passing.pop_front();
    p.state = IDLE;
}

void udpnetManage::pass_cards(port_link& p)
{
    while (!p.passing.empty()) {
        if (p.state == WAIT_CARDS) {
            if (p.passby->turn())
                return;
            card_frame_done(p);
            continue;
        }
        port_link::card_frame& f = p.passing.front();
        link_reply dest;
        dest.peer = f.reply_to;
        passby_link::outcome o = p.passby->start(f.body.data(), int(f.body.size()), dest, f.ticket);
        if (o == passby_link::outcome::busy)
            return;
        if (o == passby_link::outcome::waiting) {
            p.state = WAIT_CARDS;
            continue;
        }
        card_frame_done(p);
    }
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
        if (w.revents & POLLIN)
            wifi_answers_.drain_wake();
        return;
    }
    int wait = wifi_.datagrams.empty() ? maxWaitMs : std::min(maxWaitMs, 1);
    if (wifi_.datagrams.size() < kMaxWifiDatagrams) {
        if (wifi_.recvData(1, wait, wifi_answers_.wake_fd()) != 0)
            poll(nullptr, 0, wait);
    } else {
        poll(nullptr, 0, wait);
        wifi_answers_.drain_wake();
    }
    if (!wifi_.datagrams.empty()) {
        udp_datagram& d = wifi_.datagrams.front();
        // One the handler does not accept is dropped, or it would stand in
        // front of every later one for ever.
        if (side.handle(d.data.data(), int(d.data.size()), d.from) != 0 && debugOn())
            printf("wifi datagram of %zu bytes not accepted\n", d.data.size());
        wifi_.datagrams.pop_front();
    }
    link_reply r;
    while (wifi_answers_.pop(r))
        wifi_.sendData(r.wire.data(), int(r.wire.size()), r.peer);
}
