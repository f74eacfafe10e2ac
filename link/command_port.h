// One command port of the network servers (TCP 5005 and 10002, UDP 5008 and
// 10005), whatever its socket layer: frames are cut per peer (a TCP
// connection, a UDP sender) from what the socket layer reads, answered by the
// port's own dispatcher in each peer's order and the replies sent back to the
// peer that asked. On a control port frames for the receiving cards wait in
// its pass-through queue and go out one at a time while the other frames are
// answered; card answers come back on its send list (passby::queue_answer,
// uart_config.h) for the peer whose frame is out.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <pthread.h>

#include "link/pc_answerer.h"
#include "link/uart_config.h"

// What a command port needs of its socket layer.
class port_transport
{
  public:
    // Where the socket layer hands what it read.
    class sink
    {
      public:
        virtual ~sink() = default;
        // Bytes from one peer: key names the peer, to says where its replies go.
        virtual void take(uint64_t key, const link_reply& to, const u8* data, size_t length) = 0;
        // The peer has gone (a closed connection).
        virtual void left(uint64_t key) = 0;
        // Whether the peer's bytes are to wait in the socket for now.
        virtual bool paused(uint64_t key) const = 0;
    };
    virtual ~port_transport() = default;
    // Waits at most waitMs (-1: until something comes) for a peer's bytes or
    // for wakeFd (an eventfd, emptied when it woke the wait) and hands what it
    // read to s: 0, or 255 on a failure of the wait or the socket.
    virtual int receive(int waitMs, int wakeFd, sink& s) = 0;
    // Sends one reply whole to its peer: 0, or 255.
    virtual int send(const link_reply& to, const u8* data, int length) = 0;
};

// How a port treats its peers.
struct port_rules {
    // The control port's pass-through marker (it then also notes host
    // traffic); PASSBY_NONE for a port that hands every frame to its
    // dispatcher.
    u8 passby_marker = PASSBY_NONE;
    // A stream can be held back: a peer with kMaxPassing card frames queued
    // is not read, and its later frames wait. A datagram sender cannot: its
    // further card frames are dropped.
    bool holds_back = false;
    // Every frame is answered, with the header and check byte at least, and
    // the replies to one read go out in one write; else only a handler's
    // reply is sent, one per frame.
    bool answers_every_frame = false;
    // Largest reply on the wire; a larger one is refused with status 1 and no
    // data. 0: no limit.
    int reply_limit = 0;
    // Peers with a frame in progress kept; past this the least recently heard
    // one is forgotten. 0: the socket layer bounds them.
    size_t max_peers = 0;
};

class command_port : private port_transport::sink
{
  public:
    enum : u8 { IDLE = 0, WAIT_CARDS = 1, LOCAL_REPLY = 2 };

    command_port(port_transport& transport, const port_rules& rules);
    ~command_port() override;
    command_port(const command_port&) = delete;
    command_port& operator=(const command_port&) = delete;

    // One pass: waits at most maxWaitMs (-1: until woken) for bytes, a peer
    // or a queued answer, then answers, passes cards through and sends.
    void pass(int maxWaitMs);
    // Passes until stop(), each waiting only for what can wake it: a peer,
    // a queued answer, the stop.
    void run();
    // The body of a port's thread: run() of the command_port given.
    static void* thread(void* port);
    // Ends run(), from any thread.
    void stop();

    // Notes host traffic and passes card frames through.
    const bool control;
    std::atomic<u8> state{IDLE};
    // Card answers (control port only).
    link_send_list answers;

    // Longest frame, start to end byte, a peer may send.
    static constexpr size_t kFrameLimit = 0x20000;
    // Frames of one peer and of the whole port in the pass-through queue.
    static constexpr unsigned kMaxPassing = 16;
    static constexpr size_t kMaxPassingTotal = 64;
    // While frames for the cards are queued, their answer (or the turn of
    // another link's) is looked for every millisecond.
    static constexpr int kCardWaitMs = 1;
    // A socket layer that fails is tried again after this pause, not in a
    // spin.
    static constexpr int kFailurePauseMs = 1000;

  private:
    struct peer {
        peer() : assembler(kFrameLimit) {}
        frame_assembler assembler;
        // Frames cut and held back, oldest first, and where their replies go.
        std::deque<std::vector<u8>> frames;
        link_reply to;
        // Its frames in the pass-through queue.
        unsigned passing = 0;
        u32 used = 0;
        bool gone = false;
    };
    // Frames for the cards (un-escaped body with its BCC); the first one is
    // out while the state is WAIT_CARDS.
    struct card_frame {
        uint64_t peer;
        u32 ticket;
        link_reply to;
        std::vector<u8> body;
    };
    enum class handled { done, held };

    void take(uint64_t key, const link_reply& to, const u8* data, size_t length) override;
    void left(uint64_t key) override;
    bool paused(uint64_t key) const override;

    // Frames for the cards or held back: the port goes on turning.
    bool turning() const;
    peer& entry(uint64_t key);
    handled handle(uint64_t key, const link_reply& to, const u8* frame, int length);
    void reply(const link_reply& to, const u8* data, int length);
    void flush(const link_reply& to);
    void serve_held();
    void pass_cards();
    void card_frame_done();

    port_transport& transport_;
    const port_rules rules_;
    pc_answerer desk_;
    std::unique_ptr<passby_link> passby_;
    // Peers with a frame in progress, frames held back or card frames out.
    std::map<uint64_t, peer> peers_;
    u32 uses_ = 0;
    // Cuts the bytes of a peer that has no entry.
    frame_assembler loose_{kFrameLimit};
    std::deque<card_frame> passing_;
    // Replies to the read being handled, when they go out in one write.
    std::vector<u8> batch_;
    std::atomic<bool> stopping_{false};
};

// The threads of a manager's ports. Declared after what the threads use, it
// is destroyed first: each thread is stopped and waited for.
class port_threads
{
  public:
    port_threads() = default;
    port_threads(const port_threads&) = delete;
    port_threads& operator=(const port_threads&) = delete;
    ~port_threads();

    // Starts entry(arg), which runs until stop is called: false after
    // logging "create accept thread failed".
    bool start(void* (*entry)(void*), void* arg, std::function<void()> stop);

  private:
    struct started {
        pthread_t thread;
        std::function<void()> stop;
    };
    std::vector<started> threads_;
};
