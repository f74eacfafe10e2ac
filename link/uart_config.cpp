#include "link/uart_config.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include <sys/eventfd.h>

#include "core/utils.h"
#include "link/protocol_phy.h"

int g_BPS = 115200;
int g_dataLen = 32;

link_send_list::link_send_list()
{
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0)
        perror("link send list: eventfd");
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
    if (wake_fd_ >= 0) {
        uint64_t one = 1;
        // A full counter already wakes the thread: nothing to do then.
        if (write(wake_fd_, &one, sizeof one) < 0 && errno != EAGAIN)
            perror("link send list: wake");
    }
    return true;
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
    if (wake_fd_ < 0)
        return;
    uint64_t count;
    // Non-blocking: EAGAIN just means nothing was pushed.
    if (read(wake_fd_, &count, sizeof count) < 0 && errno != EAGAIN)
        perror("link send list: drain");
}

namespace
{
std::mutex registry_mutex;
passby_link* links[PASSBY_4G + 1] = {};

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
}

bool passby_link::start(u8* body, int length, const link_reply& destination)
{
    passby::card_side c = passby::cards();
    if (!c.lock || !c.forward || !c.service)
        return false;
    {
        std::lock_guard<std::mutex> lock(dest_mutex_);
        dest_.conn = destination.conn;
        dest_.peer = destination.peer;
    }
    ServiceLock lock(c.lock);
    answered_ = false;
    g_passby_trans_port = marker_;
    c.forward(unsigned(length), body);
    pc_cmd_time = G_timeTicks.load();
    since_ = G_timeTicks.load();
    waiting_ = true;
    return true;
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
    if (answered_) {
        waiting_ = false;
        return false;
    }
    if (Utils::getTimeSpace(since_) >= kPassbyGiveUpTicks) {
        if (c.lock) {
            ServiceLock lock(c.lock);
            u8 mine = marker_;
            g_passby_trans_port.compare_exchange_strong(mine, PASSBY_NONE);
        }
        waiting_ = false;
        return false;
    }
    return true;
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
