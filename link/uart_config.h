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

    // A link that cannot send for this long has a dead peer; more is dropped.
    static constexpr size_t kMaxQueued = 256;

  private:
    mutable std::mutex mutex_;
    std::deque<link_reply> list_;
    int wake_fd_ = -1;
};

// Markers of g_passby_trans_port.
enum : u8 { PASSBY_SERIAL = 1, PASSBY_TCP = 2, PASSBY_UDP = 3, PASSBY_NONE = 255 };

// A link waiting for the cards' answer gives up after this many ticks; once
// the cards let a frame go unanswered, the frames that were already queued
// behind it wait only kPassbyRetryTicks each, until an answer comes again.
constexpr u32 kPassbyGiveUpTicks = 200;
constexpr u32 kPassbyRetryTicks = 30;
// The cards take frames shorter than this; a longer one is not queued.
constexpr int kPassbyMaxFrame = 1024;

namespace passby
{
// The receiving-card side of the pass-through, installed once by the FPGA
// manager when it can forward frames:
//   lock     its service lock (held around forward and service, and by the
//            FPGA worker around its own interrupt service);
//   forward  Dealwith1_PC_to_eth: forwards an un-escaped PC frame, BCC
//            included;
//   service  reg_IRQ_Dealwith(0, 0): one turn of the interrupt service;
//   awaited  after forward, with the lock held: whether the frame reached a
//            port with link and cards, so that an answer can come.
// While none is installed, frames for the cards are dropped without a reply.
struct card_side {
    pthread_mutex_t* lock = nullptr;
    int (*forward)(unsigned int length, unsigned char* frame) = nullptr;
    void (*service)() = nullptr;
    bool (*awaited)() = nullptr;
};
void install(const card_side& side);
bool installed();

// For the interrupt service, with the service lock held: queues a card answer
// (un-escaped body, BCC included) on the link marked in g_passby_trans_port,
// for the client or sender of that link's last pass-through frame, and resets
// the mark to 255. False when no link is marked: the answer is dropped.
bool queue_answer(const u8* body, int length);
} // namespace passby

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
