#include "link/command_port.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/logging.h"

command_port::command_port(port_transport& transport, const port_rules& rules)
    : control(rules.passby_marker != PASSBY_NONE), transport_(transport), rules_(rules)
{
    if (control)
        passby_ = std::make_unique<passby_link>(rules.passby_marker, answers);
}

command_port::~command_port() = default;

void command_port::run()
{
    while (!stopping_.load())
        pass(-1);
}

void* command_port::thread(void* port)
{
    static_cast<command_port*>(port)->run();
    return nullptr;
}

void command_port::stop()
{
    stopping_ = true;
    answers.wake();
}

void command_port::pass(int maxWaitMs)
{
    int wait = maxWaitMs;
    if (turning())
        wait = wait < 0 ? kCardWaitMs : std::min(wait, kCardWaitMs);
    if (transport_.receive(wait, answers.wake_fd(), *this) != 0)
        poll(nullptr, 0, wait < 0 ? kFailurePauseMs : wait);
    serve_held();
    if (control)
        pass_cards();
    link_reply r;
    while (answers.pop(r))
        transport_.send(r, r.wire.data(), int(r.wire.size()));
    pc_answerer::replied();
    // A peer keeps its entry only while something of it is left.
    for (auto it = peers_.begin(); it != peers_.end();) {
        const peer& p = it->second;
        if ((p.gone || !p.assembler.collecting()) && p.frames.empty() && p.passing == 0)
            it = peers_.erase(it);
        else
            ++it;
    }
}

bool command_port::turning() const
{
    if (!passing_.empty())
        return true;
    for (const auto& held : peers_)
        if (!held.second.frames.empty())
            return true;
    return false;
}

command_port::peer& command_port::entry(uint64_t key)
{
    auto it = peers_.find(key);
    if (it == peers_.end()) {
        if (rules_.max_peers && peers_.size() >= rules_.max_peers) {
            auto oldest = std::min_element(peers_.begin(), peers_.end(),
                                           [](const auto& a, const auto& b) { return a.second.used < b.second.used; });
            peers_.erase(oldest);
        }
        it = peers_.try_emplace(key).first;
    }
    it->second.used = ++uses_;
    return it->second;
}

void command_port::take(uint64_t key, const link_reply& to, const u8* data, size_t length)
{
    auto it = peers_.find(key);
    peer* known = it == peers_.end() ? nullptr : &it->second;
    if (known)
        known->used = ++uses_;
    // Most reads hold whole frames: a peer without an entry is cut with the
    // port's own assembler and needs no entry of its own.
    frame_assembler& a = known ? known->assembler : loose_;
    if (!known)
        loose_.reset();
    a.feed(data, length, [&](const u8* frame, int n) {
        auto held = peers_.find(key);
        // Behind frames held back, a frame waits its turn.
        if ((held != peers_.end() && !held->second.frames.empty()) || handle(key, to, frame, n) == handled::held) {
            peer& p = entry(key);
            p.to = to;
            p.frames.emplace_back(frame, frame + n);
        }
    });
    if (!known && loose_.collecting())
        std::swap(entry(key).assembler, loose_);
    flush(to);
}

void command_port::left(uint64_t key)
{
    auto it = peers_.find(key);
    // Its frames are still handled; what is sent to it is lost.
    if (it != peers_.end())
        it->second.gone = true;
}

bool command_port::paused(uint64_t key) const
{
    auto it = peers_.find(key);
    return it != peers_.end() && !it->second.frames.empty();
}

command_port::handled command_port::handle(uint64_t key, const link_reply& to, const u8* frame, int length)
{
    if (control)
        note_host_traffic();
    const int len = desk_.accept(frame, length);
    if (len < 0) {
        if (debugOn())
            zevlog::debug(lcLink(), "\n frame error!!!!!!!");
        return handled::done;
    }
    u8* body = desk_.body();
    if (control && protocol_phy::is_pass_through(body)) {
        if (len + 1 >= kPassbyMaxFrame)
            return handled::done;
        auto it = peers_.find(key);
        const unsigned mine = it == peers_.end() ? 0 : it->second.passing;
        if (mine >= kMaxPassing || passing_.size() >= kMaxPassingTotal) {
            if (rules_.holds_back)
                return handled::held;
            if (debugOn())
                zevlog::debug(lcLink(), "card frame dropped: %zu queued\n", passing_.size());
            return handled::done;
        }
        ++entry(key).passing;
        // The check byte was verified; the cards get the whole body with it.
        passing_.push_back({key, passby_link::ticket(), to, std::vector<u8>(body, body + len + 1)});
        return handled::done;
    }
    const bool cardsOut = state == WAIT_CARDS;
    if (!cardsOut)
        state = LOCAL_REPLY;
    const int w = desk_.answer(len, rules_.answers_every_frame, rules_.reply_limit, key);
    if (w > 0)
        reply(to, desk_.reply(), w);
    if (!cardsOut)
        state = IDLE;
    return handled::done;
}

void command_port::reply(const link_reply& to, const u8* data, int length)
{
    if (rules_.answers_every_frame)
        batch_.insert(batch_.end(), data, data + length);
    else
        transport_.send(to, data, length);
}

void command_port::flush(const link_reply& to)
{
    if (batch_.empty())
        return;
    transport_.send(to, batch_.data(), int(batch_.size()));
    batch_.clear();
}

void command_port::serve_held()
{
    for (auto& [key, p] : peers_) {
        if (p.frames.empty())
            continue;
        while (!p.frames.empty() &&
               handle(key, p.to, p.frames.front().data(), int(p.frames.front().size())) == handled::done)
            p.frames.pop_front();
        flush(p.to);
    }
}

void command_port::card_frame_done()
{
    auto it = peers_.find(passing_.front().peer);
    if (it != peers_.end() && it->second.passing > 0)
        --it->second.passing;
    passing_.pop_front();
    state = IDLE;
}

void command_port::pass_cards()
{
    while (!passing_.empty()) {
        if (state == WAIT_CARDS) {
            if (passby_->turn())
                return;
            card_frame_done();
            continue;
        }
        card_frame& f = passing_.front();
        passby_link::outcome o = passby_->start(f.body.data(), int(f.body.size()), f.to, f.ticket);
        if (o == passby_link::outcome::busy)
            return;
        if (o == passby_link::outcome::waiting) {
            state = WAIT_CARDS;
            continue;
        }
        card_frame_done();
    }
}

bool port_threads::start(void* (*entry)(void*), void* arg, std::function<void()> stop)
{
    pthread_t t;
    if (pthread_create(&t, nullptr, entry, arg) != 0) {
        writeLogMsg(LOG_ERROR, "create accept thread failed");
        return false;
    }
    threads_.push_back({t, std::move(stop)});
    return true;
}

port_threads::~port_threads()
{
    for (started& s : threads_)
        s.stop();
    for (started& s : threads_)
        pthread_join(s.thread, nullptr);
}
