// A PC-protocol line on a serial port (the RS-485 link, the 4G modem): one
// receive thread cuts PC frames out of the byte stream, passes frames for the
// receiving cards through with the line's own marker and answers every other
// frame on the same line.
//
// Frames for the cards wait in the line's pass-through queue and go out one
// at a time while the other frames are answered. Card answers reach the line
// through passby::queue_answer (uart_config.h) while g_passby_trans_port holds
// its marker; they are appended to the send list behind any local reply and
// sent by the receive thread. The port is not read while cut frames wait, so
// no reply is ever dropped: the PC's bytes wait in the line's buffer instead.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

#include <pthread.h>

#include "link/pc_answerer.h"
#include "link/serial_modules.h"
#include "link/uart_config.h"

// How a line treats its frames.
struct line_rules {
    // Its mark in g_passby_trans_port.
    u8 passby_marker = PASSBY_NONE;
    // While the pass-through queue is full, a card frame waits and stops the
    // frames behind it; else it is dropped.
    bool holds_back = false;
    // Called at the start of every pass, on the receive thread.
    void (*on_pass)(link_send_list& sends) = nullptr;
};

class serial_line
{
  public:
    explicit serial_line(const line_rules& rules);
    // Stops the receive thread and waits for it.
    ~serial_line();
    serial_line(const serial_line&) = delete;
    serial_line& operator=(const serial_line&) = delete;

    // Opens the port without a thread; the descriptor or a negative value.
    int open_port(int port, int speed, int flags);
    // Sends every queued reply in one write, empties the list and notes host
    // traffic.
    int send_uart_data();

    // One pass of the receive thread: waits at most maxWaitMs (-1: until
    // woken) for bytes or a queued reply, handles what came, then the reply
    // step.
    void receive_pass(int maxWaitMs);
    // The thread looks at its line again (a reconnect request, the stop).
    void wake() { send_list_.wake(); }

    enum : u8 { IDLE = 0, WAIT_CARDS = 1, LOCAL_REPLY = 2 };
    u8 state() const { return state_.load(); }
    int descriptor() const { return fd_; }
    link_send_list& send_list() { return send_list_; }

    // Longest frame, start to end byte, the line gathers.
    static constexpr size_t kFrameLimit = 65555;
    // Shorter turns while the cards' answer is awaited.
    static constexpr int kCardWaitMs = 1;
    // A line that is gone (a closed terminal reports hang-up for ever) or
    // fails is looked at again after this pause.
    static constexpr int kGonePauseMs = 1000;
    // Local replies gathered before they are written out.
    static constexpr size_t kSendBatch = 64;

    // The body of a line's thread: passes of the serial_line given until it
    // goes.
    static void* thread(void* line);

  protected:
    // Opens the port and starts entry(this): 0, also when the port cannot be
    // opened (a descriptor below lowestFd: the line stays silent); 255 after
    // logging failure when the thread cannot be created.
    int start(int port, int speed, int flags, int lowestFd, void* (*entry)(void*), const char* failure);

  private:
    // Handles one cut frame; false when it must wait for a place in the
    // pass-through queue.
    bool handle_frame(const u8* frame, int length);
    void pass_cards();

    const line_rules rules_;
    int fd_ = -1;
    serial_modules serial_;
    pc_answerer desk_;
    link_send_list send_list_;
    passby_link passby_;
    passby_queue passing_{passby_};
    std::atomic<u8> state_{IDLE};
    frame_assembler assembler_{kFrameLimit};
    std::deque<std::vector<u8>> frames_;
    std::unique_ptr<Uart_Rec_Send_Data> record_;
    std::vector<u8> send_buf_;
    std::atomic<bool> stopping_{false};
    bool started_ = false;
    pthread_t thread_{};
};
