// Settings and shared pieces of the wired links: the serial record and speed,
// the send list every link answers from, and the link side of the
// pass-through to the receiving cards.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include <netinet/in.h>
#include <pthread.h>

#include "core/global.h"
#include "ledout/passby.h"

// Speed of the RS-485 link and its read-size factor: one read asks for at
// most (g_dataLen << 10) | 28 bytes.
extern int g_BPS;
extern int g_dataLen;
inline int uart_read_size()
{
    return (g_dataLen << 10) | 28;
}

// One serial buffer record, for both directions and for the 4G link.
constexpr int kUartDataSize = 65556;
struct Uart_Rec_Send_Data {
    u8 data[kUartDataSize];
    int32_t fd = -1;
    int32_t length = 0;
};

// One reply waiting on a link: the wire bytes and where they go (the TCP
// connection's id, the UDP peer; the serial port needs neither).
struct link_reply {
    std::vector<u8> wire;
    uint64_t conn = 0;
    sockaddr_in peer{};
};

// A link's send list. The link thread queues its own replies, the FPGA worker
// the cards' answers, the Wi-Fi side its answers; each append wakes the link
// thread through wake_fd(), and nothing queued is ever replaced.
class link_send_list
{
  public:
    link_send_list();
    ~link_send_list();
    link_send_list(const link_send_list&) = delete;
    link_send_list& operator=(const link_send_list&) = delete;

    // False when the list is full (the reply is dropped).
    bool push(link_reply reply);
    bool pop(link_reply& out);
    size_t size() const;
    // Readable while something was pushed since the last drain_wake().
    int wake_fd() const { return wake_fd_; }
    void drain_wake();
    // Makes wake_fd() readable with nothing pushed: the link thread looks at
    // its state again.
    void wake();

    // A link that cannot send for this long has a dead peer; more is dropped.
    static constexpr size_t kMaxQueued = 256;

  private:
    mutable std::mutex mutex_;
    std::deque<link_reply> list_;
    int wake_fd_ = -1;
};

// The link side of one pass-through link (serial, TCP control port, UDP
// 5008): hands a frame to the cards, polls the service while it waits and
// gives up after kPassbyGiveUpTicks. One frame is out at a time over all
// links, so an answer always goes back to the sender of the frame it answers.
class passby_link
{
  public:
    passby_link(u8 marker, link_send_list& list);
    ~passby_link();
    passby_link(const passby_link&) = delete;
    passby_link& operator=(const passby_link&) = delete;

    enum class outcome {
        waiting, // forwarded; turn() until the answer or the give-up
        busy,    // another link's frame is out: offer this one again later
        done     // nothing to wait for (no card side, or no port that answers)
    };
    // A number for a frame queued for the cards, taken when it is queued.
    static u32 ticket();
    // Marks the link, forwards the frame (un-escaped body with its BCC) and
    // remembers where the answer goes. ticket 0: a frame that was not queued.
    outcome start(u8* body, int length, const link_reply& destination, u32 ticket = 0);
    // One turn of the wait; true while the link still waits.
    bool turn();
    bool waiting() const { return waiting_; }
    u8 marker() const { return marker_; }

    // The answer for this link: escaped and appended to its send list.
    bool queue_answer(const u8* body, int length);

  private:
    void release();

    u8 marker_;
    link_send_list& list_;
    std::mutex dest_mutex_;
    link_reply dest_;
    std::atomic<bool> waiting_{false};
    std::atomic<bool> answered_{false};
    u32 since_ = 0;
    u32 limit_ = kPassbyGiveUpTicks;
};

// The frames of one line link (the RS-485 port, the 4G modem) for the cards:
// sent one at a time in arrival order, each waited for until its answer or
// its give-up, while the line's other frames are answered in between.
class passby_queue
{
  public:
    explicit passby_queue(passby_link& link) : link_(link) {}

    // The link stops reading while this many frames wait.
    static constexpr size_t kMaxFrames = 16;
    bool full() const { return frames_.size() >= kMaxFrames; }
    bool empty() const { return frames_.empty(); }
    // A frame whose answer is out with the cards.
    bool waiting() const { return waiting_; }
    // Queues an un-escaped body with its check byte.
    void push(const u8* body, int length);
    // Sends the next frame when none is out and turns the wait of the one
    // that is; answers go to the link's send list.
    void turn();

  private:
    struct card_frame {
        u32 ticket;
        std::vector<u8> body;
    };
    passby_link& link_;
    std::deque<card_frame> frames_;
    bool waiting_ = false;
};
