#include "link/networkmanage.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>

#include "core/logMsg.h"
#include "core/utils.h"

u8 g_networkMode = 1;

networkManage* networkManage::p_networkManage = nullptr;

networkManage::port_link::port_link(bool isControl) : control(isControl), work(pc::kWorkSize), out(pc::kWireSize)
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
    if (p.state == WAIT_CARDS)
        wait = std::min(wait, kCardWaitMs);
    else if (!p.frames.empty())
        wait = 0;
    bool readClients = p.frames.size() < kMaxFrames;
    if (p.server.recvData(wait, p.answers.wake_fd(), readClients) != 0)
        poll(nullptr, 0, wait);
    p.answers.drain_wake();
    take_pieces(p);

    while (p.state == IDLE && !p.frames.empty()) {
        port_link::frame f = std::move(p.frames.front());
        p.frames.pop_front();
        handle_frame(p, f);
    }

    if (p.state == WAIT_CARDS && !p.passby->turn())
        p.state = IDLE;
    link_reply r;
    while (p.answers.pop(r))
        p.server.sendData(r.wire.data(), int(r.wire.size()), r.conn);
}

void networkManage::take_pieces(port_link& p)
{
    for (uint64_t id : p.server.closed)
        p.assembly.erase(id);
    p.server.closed.clear();
    while (!p.server.pieces.empty()) {
        TcpServer::piece piece = std::move(p.server.pieces.front());
        p.server.pieces.pop_front();
        auto it = p.assembly.try_emplace(piece.conn, kFrameLimit).first;
        frame_assembler& a = it->second;
        bool touched = a.collecting();
        uint64_t conn = piece.conn;
        a.feed(piece.data.data(), piece.data.size(), [&p, conn](const u8* bytes, int length) {
            p.frames.push_back({conn, std::vector<u8>(bytes, bytes + length)});
        });
        touched = touched || a.collecting() ||
                  std::find(piece.data.begin(), piece.data.end(), pc::kStart) != piece.data.end();
        // A piece that starts or continues a frame ends the wait for cards.
        if (touched && p.state == WAIT_CARDS) {
            p.passby->end();
            p.state = IDLE;
        }
    }
}

void networkManage::handle_frame(port_link& p, const port_link::frame& f)
{
    if (p.control) {
        note_host_traffic();
    }
    int len = p.phy.accept_frame(f.bytes.data(), int(f.bytes.size()), p.work.data(), int(p.work.size()));
    if (len < 0)
        return;
    if (p.control && protocol_phy::is_pass_through(p.work.data())) {
        // The check byte was verified; the cards get the whole body with it.
        p.work[size_t(len)] = Utils::BCC(p.work.data(), unsigned(len));
        link_reply dest;
        dest.conn = f.conn;
        p.state = WAIT_CARDS;
        if (!p.passby->start(p.work.data(), len + 1, dest))
            p.state = IDLE;
        return;
    }
    p.state = LOCAL_REPLY;
    // Even without a handler's reply the client gets the header and BCC.
    int n = p.deal.message_group_deal(p.work.data(), len, 5);
    int w =
        protocol_phy::build_reply(p.work.data(), int(p.work.size()), std::max(n, 0), p.out.data(), int(p.out.size()));
    if (w > 0)
        p.server.sendData(p.out.data(), w, f.conn);
    p.state = IDLE;
}
