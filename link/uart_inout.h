// The RS-485 control link on serial port 2: one receive thread cuts PC frames
// out of the byte stream, passes frames for the receiving cards through to
// the FPGA and answers every other frame on the same line.
//
// Frames for the cards wait in the link's pass-through queue and go out one
// at a time while the other frames are answered. Card answers reach this link
// through passby::queue_answer (uart_config.h) while g_passby_trans_port
// holds 1; they are appended to the send list behind any local reply and sent
// by the receive thread. The port is not read while cut frames wait, so no
// reply is ever dropped: the PC's bytes wait in the line's buffer instead.
#pragma once

#include <atomic>
#include <deque>
#include <vector>

#include <pthread.h>

#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "link/serial_modules.h"
#include "link/uart_config.h"

class Kq_uart_inout
{
  public:
    // Creates the link on first call and opens port 2 read-write, without a
    // controlling terminal, non-blocking; starts the receive thread.
    static Kq_uart_inout* pInstance();
    static Kq_uart_inout* p_uart_inout;

    Kq_uart_inout();
    ~Kq_uart_inout();
    Kq_uart_inout(const Kq_uart_inout&) = delete;
    Kq_uart_inout& operator=(const Kq_uart_inout&) = delete;

    // Opens the port and starts the receive thread: 0, also when the port
    // cannot be opened (the link stays silent); 255 when the thread cannot
    // be created.
    int usart1_init(int port, int speed, int flags);
    // Opens the port without a thread; the descriptor or a negative value.
    int open_port(int port, int speed, int flags);
    // Sends every queued reply, empties the list and notes host traffic.
    int send_uart_data();

    static void* receive_thread(void* arg);
    // One pass of the receive thread: waits at most maxWaitMs for bytes or a
    // queued reply, handles what came, then the reply step.
    void receive_pass(int maxWaitMs);

    enum : u8 { IDLE = 0, WAIT_CARDS = 1, LOCAL_REPLY = 2 };
    u8 state() const { return link_state_.load(); }
    int descriptor() const { return fd_; }
    link_send_list& send_list() { return send_list_; }

    // Longest frame, start to end byte, the link gathers.
    static constexpr size_t kFrameLimit = 65555;
    // Bound of an idle wait: frames and queued replies wake the thread at
    // once, so the bound only limits how long an idle link sleeps.
    static constexpr int kIdleWaitMs = 1000;
    // Shorter turns while the cards' answer is awaited.
    static constexpr int kCardWaitMs = 1;
    // Local replies gathered before they are written out.
    static constexpr size_t kSendBatch = 64;

  private:
    // Handles one cut frame; false when it must wait for a place in the
    // pass-through queue.
    bool handle_frame(const u8* frame, int length);
    void pass_cards();

    int fd_ = -1;
    serial_modules* serial_;
    protocol_phy* phy_;
    message_deal* deal_;
    link_send_list send_list_;
    passby_link passby_{PASSBY_SERIAL, send_list_};
    std::atomic<u8> link_state_{IDLE};
    frame_assembler assembler_{kFrameLimit};
    std::deque<std::vector<u8>> frames_;
    // Frames for the cards; while it is full, the next one stops the
    // handling of the frames behind it.
    passby_queue passing_{passby_};
    Uart_Rec_Send_Data* record_;
    std::vector<u8> work_;
    int work_dirty_ = pc::kWorkSize;
    std::vector<u8> send_buf_;
    std::vector<u8> out_;
    pthread_t thread_{};
};
