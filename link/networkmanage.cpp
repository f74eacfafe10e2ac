#include "link/networkmanage.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>

#include "core/logMsg.h"
#include "core/utils.h"

u8 g_networkMode = 1;

networkManage* networkManage::p_networkManage = nullptr;

networkManage::port_link::port_link(bool isControl)
    : control(isControl), work(pc::kWorkSize), work_dirty(pc::kWorkSize), out(pc::kWireSize)
{
    if (control)
        passby = std::make_unique<passby_link>(PASSBY_TCP, answers);
}

networkManage* networkManage::pInstance()
{
    if (!p_networkManage) {
        p_networkManage = new networkManage();
        p_networkManage->initialize();
    }
    return p_networkManage;
}

networkManage::networkManage() = default;
networkManage::~networkManage() = default;

int networkManage::open()
{
    int rc = 0;
    if (g_networkMode && control_.server.initialize(g_port) != 0)
        rc = 255;
    if (second_.server.initialize(kSecondPort) != 0)
        rc = 255;
    return rc;
}

int networkManage::initialize()
{
    open();
    if (pthread_create(&threads_[0], nullptr, acceptThread, this) != 0 ||
        pthread_create(&threads_[1], nullptr, acceptThread_10002, this) != 0) {
        writeLogMsg(LOG_ERROR, "create accept thread failed");
        return 255;
    }
    return 0;
}

void* networkManage::acceptThread(void* arg)
{
    auto* self = static_cast<networkManage*>(arg);
    for (;;)
        self->port_pass(self->control_, kIdleWaitMs);
    return nullptr;
}

void* networkManage::acceptThread_10002(void* arg)
{
    auto* self = static_cast<networkManage*>(arg);
    for (;;)
        self->port_pass(self->second_, kIdleWaitMs);
    return nullptr;
}

void networkManage::port_pass(port_link& p, int maxWaitMs)
{
    int wait = maxWaitMs;
    // While frames for the cards are queued, their answer (or the turn of
    // another link's) is looked for every millisecond.
    if (!p.passing.empty())
        wait = std::min(wait, kCardWaitMs);
    auto paused = [&p](uint64_t id) {
        auto it = p.conns.find(id);
        return it != p.conns.end() && !it->second.frames.empty();
    };
    if (p.server.recvData(wait, p.answers.wake_fd(), paused) != 0)
        poll(nullptr, 0, wait);
    take_pieces(p);

    for (auto it = p.conns.begin(); it != p.conns.end();) {
        port_link::connection& c = it->second;
        serve(p, it->first, c);
        if (!c.replies.empty()) {
            p.server.sendData(c.replies.data(), int(c.replies.size()), it->first);
            c.replies.clear();
        }
        // A connection that left keeps its entry until its frames are done.
        if (c.gone && c.frames.empty() && c.passing == 0)
            it = p.conns.erase(it);
        else
            ++it;
    }
    pass_cards(p);
    link_reply r;
    while (p.answers.pop(r))
        p.server.sendData(r.wire.data(), int(r.wire.size()), r.conn);
}

void networkManage::take_pieces(port_link& p)
{
    for (uint64_t id : p.server.closed) {
        auto it = p.conns.find(id);
        if (it != p.conns.end())
            it->second.gone = true;
    }
    p.server.closed.clear();
    while (!p.server.pieces.empty()) {
        TcpServer::piece piece = std::move(p.server.pieces.front());
        p.server.pieces.pop_front();
        port_link::connection& c = p.conns.try_emplace(piece.conn, kFrameLimit).first->second;
        c.assembler.feed(piece.data.data(), piece.data.size(),
                         [&c](const u8* bytes, int length) { c.frames.emplace_back(bytes, bytes + length); });
    }
}

void networkManage::serve(port_link& p, uint64_t id, port_link::connection& c)
{
    while (!c.frames.empty()) {
        const std::vector<u8>& f = c.frames.front();
        if (p.control)
            note_host_traffic();
        int len = p.phy.accept_frame(f.data(), int(f.size()), p.work.data(), int(p.work.size()), &p.work_dirty);
        if (len < 0) {
            c.frames.pop_front();
            continue;
        }
        if (p.control && protocol_phy::is_pass_through(p.work.data())) {
            if (len + 1 >= kPassbyMaxFrame) {
                c.frames.pop_front();
                continue;
            }
            if (c.passing >= kMaxPassing)
                return;
            // The check byte was verified; the cards get the whole body with it.
            p.passing.push_back({id, passby_link::ticket(), std::vector<u8>(p.work.begin(), p.work.begin() + len + 1)});
            ++c.passing;
            c.frames.pop_front();
            continue;
        }
        c.frames.pop_front();
        const bool cardsOut = p.state == WAIT_CARDS;
        if (!cardsOut)
            p.state = LOCAL_REPLY;
        // Even without a handler's reply the client gets the header and BCC.
        int n = p.deal.message_group_deal(p.work.data(), len, 5, id);
        int w = protocol_phy::build_reply(p.work.data(), int(p.work.size()), std::max(n, 0), p.out.data(),
                                          int(p.out.size()), &p.work_dirty);
        if (w > 0 && !c.gone)
            c.replies.insert(c.replies.end(), p.out.begin(), p.out.begin() + w);
        if (!cardsOut)
            p.state = IDLE;
    }
}

void networkManage::card_frame_done(port_link& p)
{
    auto it = p.conns.find(p.passing.front().conn);
    if (it != p.conns.end() && it->second.passing > 0)
        --it->second.passing;
    p.passing.pop_front();
    p.state = IDLE;
}

void networkManage::pass_cards(port_link& p)
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
        dest.conn = f.conn;
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
