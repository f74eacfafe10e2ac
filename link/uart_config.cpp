#include "link/uart_config.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include <sys/eventfd.h>

#include "core/utils.h"
#include "link/net_socket.h"
#include "link/protocol_phy.h"
#include "core/logging.h"

int g_BPS = 115200;
int g_dataLen = 32;

link_send_list::link_send_list()
{
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0)
        zevlog::warnErrno(lcLink(), "link send list: eventfd");
}

link_send_list::~link_send_list()
{
    if (wake_fd_ >= 0)
        close(wake_fd_);
}

bool link_send_list::push(link_reply reply)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (list_.size() >= kMaxQueued)
            return false;
        list_.push_back(std::move(reply));
    }
    wake();
    return true;
}

void link_send_list::wake()
{
    if (wake_fd_ < 0)
        return;
    uint64_t one = 1;
    // A full counter already wakes the thread: nothing to do then.
    if (write(wake_fd_, &one, sizeof one) < 0 && errno != EAGAIN)
        zevlog::warnErrno(lcLink(), "link send list: wake");
}

bool link_send_list::pop(link_reply& out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (list_.empty())
        return false;
    out = std::move(list_.front());
    list_.pop_front();
    return true;
}

size_t link_send_list::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return list_.size();
}

void link_send_list::drain_wake()
{
    drain_wake_fd(wake_fd_);
}

namespace
{
std::mutex registry_mutex;
passby_link* links[PASSBY_4G + 1] = {};
// The link whose frame is out to the cards; the last ticket given out, and
// while the cards leave frames unanswered, the last one given out before the
// latest give-up (0: the cards answer). Under registry_mutex.
passby_link* owner = nullptr;
u32 last_ticket = 0;
u32 silent_upto = 0;

// Holds the card side's service lock for a scope.
class ServiceLock
{
  public:
    explicit ServiceLock(pthread_mutex_t* m) : m_(m) { pthread_mutex_lock(m_); }
    ~ServiceLock() { pthread_mutex_unlock(m_); }
    ServiceLock(const ServiceLock&) = delete;
    ServiceLock& operator=(const ServiceLock&) = delete;

  private:
    pthread_mutex_t* m_;
};

// The answer sink of the FPGA manager: the card answer goes to the link
// marked in g_passby_trans_port.
bool answer_marked_link(const u8* body, int length)
{
    u8 marker = g_passby_trans_port.load();
    passby_link* link = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        if (marker >= PASSBY_SERIAL && marker <= PASSBY_4G)
            link = links[marker];
    }
    if (!link)
        return false;
    g_passby_trans_port = PASSBY_NONE;
    return link->queue_answer(body, length);
}
} // namespace

passby_link::passby_link(u8 marker, link_send_list& list) : marker_(marker), list_(list)
{
    passby::set_answer_sink(&answer_marked_link);
    std::lock_guard<std::mutex> lock(registry_mutex);
    if (marker_ <= PASSBY_4G)
        links[marker_] = this;
}

passby_link::~passby_link()
{
    std::lock_guard<std::mutex> lock(registry_mutex);
    if (marker_ <= PASSBY_4G && links[marker_] == this)
        links[marker_] = nullptr;
    if (owner == this)
        owner = nullptr;
}

void passby_link::release()
{
    waiting_ = false;
    std::lock_guard<std::mutex> lock(registry_mutex);
    if (owner == this)
        owner = nullptr;
}

u32 passby_link::ticket()
{
    std::lock_guard<std::mutex> lock(registry_mutex);
    if (++last_ticket == 0)
        last_ticket = 1;
    return last_ticket;
}

passby_link::outcome passby_link::start(u8* body, int length, const link_reply& destination, u32 ticket)
{
    passby::card_side c = passby::cards();
    if (!c.lock || !c.forward || !c.service)
        return outcome::done;
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        // g_passby_trans_port names one link: a second frame out at once
        // would take the first one's answer.
        if (owner && owner != this)
            return outcome::busy;
        owner = this;
        // A backlog behind an unanswered frame must not cost the full wait
        // per frame.
        const bool backlog = ticket != 0 && silent_upto != 0 && int32_t(ticket - silent_upto) <= 0;
        limit_ = backlog ? kPassbyRetryTicks : kPassbyGiveUpTicks;
    }
    {
        std::lock_guard<std::mutex> lock(dest_mutex_);
        dest_.conn = destination.conn;
        dest_.peer = destination.peer;
    }
    bool awaited;
    {
        ServiceLock lock(c.lock);
        answered_ = false;
        g_passby_trans_port = marker_;
        c.forward(unsigned(length), body);
        awaited = !c.awaited || c.awaited();
        if (!awaited) {
            u8 mine = marker_;
            g_passby_trans_port.compare_exchange_strong(mine, PASSBY_NONE);
        }
    }
    // The frame may have waited its turn: it counts as host traffic now, so
    // the service looks for the answer.
    note_host_traffic();
    if (!awaited) {
        release();
        return outcome::done;
    }
    since_ = G_timeTicks.load();
    waiting_ = true;
    // The worker serves the cards' answers too: it looks at once.
    wake_fpga_worker();
    return outcome::waiting;
}

bool passby_link::turn()
{
    if (!waiting_)
        return false;
    passby::card_side c = passby::cards();
    if (!answered_ && c.lock && c.service) {
        ServiceLock lock(c.lock);
        c.service();
    }
    if (!answered_) {
        if (Utils::getTimeSpace(since_) < limit_)
            return true;
        if (c.lock) {
            // Under the service lock no answer can slip in between the test
            // and the reset of the mark.
            ServiceLock lock(c.lock);
            if (!answered_) {
                u8 mine = marker_;
                g_passby_trans_port.compare_exchange_strong(mine, PASSBY_NONE);
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        silent_upto = answered_ ? 0 : last_ticket;
    }
    release();
    return false;
}
bool passby_link::queue_answer(const u8* body, int length)
{
    if (!body || length <= 0)
        return false;
    link_reply r;
    r.wire.resize(size_t(protocol_phy::escaped_capacity(length)));
    int w = protocol_phy::data_re_transf_meaning(r.wire.data(), body, length, nullptr, int(r.wire.size()));
    if (w <= 0)
        return false;
    r.wire.resize(size_t(w));
    {
        std::lock_guard<std::mutex> lock(dest_mutex_);
        r.conn = dest_.conn;
        r.peer = dest_.peer;
    }
    bool queued = list_.push(std::move(r));
    answered_ = true;
    return queued;
}

void passby_queue::push(const u8* body, int length)
{
    frames_.push_back({passby_link::ticket(), std::vector<u8>(body, body + length)});
}

void passby_queue::turn()
{
    while (!frames_.empty()) {
        if (waiting_) {
            if (link_.turn())
                return;
            frames_.pop_front();
            waiting_ = false;
            continue;
        }
        card_frame& f = frames_.front();
        passby_link::outcome o = link_.start(f.body.data(), int(f.body.size()), link_reply(), f.ticket);
        if (o == passby_link::outcome::busy)
            return;
        if (o == passby_link::outcome::waiting) {
            waiting_ = true;
            continue;
        }
        frames_.pop_front();
    }
}
