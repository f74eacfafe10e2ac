#include "link/uart_inout.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>

#include "core/logMsg.h"
#include "core/utils.h"

Kq_uart_inout* Kq_uart_inout::p_uart_inout = nullptr;

Kq_uart_inout* Kq_uart_inout::pInstance()
{
    if (!p_uart_inout) {
        p_uart_inout = new Kq_uart_inout();
        p_uart_inout->usart1_init(2, g_BPS, O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    return p_uart_inout;
}

Kq_uart_inout::Kq_uart_inout()
    : serial_(new serial_modules()), phy_(new protocol_phy()), deal_(new message_deal()),
      record_(new Uart_Rec_Send_Data()), work_(pc::kWorkSize), out_(pc::kWireSize)
{
}

Kq_uart_inout::~Kq_uart_inout()
{
    delete record_;
    delete deal_;
    delete phy_;
    delete serial_;
}

int Kq_uart_inout::open_port(int port, int speed, int flags)
{
    fd_ = serial_->serial_init(port, speed, flags);
    record_->fd = fd_;
    return fd_;
}

int Kq_uart_inout::usart1_init(int port, int speed, int flags)
{
    if (open_port(port, speed, flags) < 1)
        return 0;
    if (pthread_create(&thread_, nullptr, receive_thread, this) != 0) {
        writeLogMsg(LOG_ERROR, "create uart receive_thread failed");
        return 255;
    }
    return 0;
}

void* Kq_uart_inout::receive_thread(void* arg)
{
    auto* self = static_cast<Kq_uart_inout*>(arg);
    for (;;)
        self->receive_pass(kIdleWaitMs);
    return nullptr;
}

void Kq_uart_inout::receive_pass(int maxWaitMs)
{
    int wait = passing_.empty() ? maxWaitMs : std::min(maxWaitMs, kCardWaitMs);
    // Frames still waiting are handled before anything more is read.
    const bool readPort = frames_.empty();
    pollfd p[2] = {{readPort ? fd_ : -1, POLLIN, 0}, {send_list_.wake_fd(), POLLIN, 0}};
    int ready = poll(p, 2, wait);
    if (ready < 0 && errno != EINTR)
        poll(nullptr, 0, wait);
    if (ready > 0 && (p[1].revents & POLLIN))
        send_list_.drain_wake();

    if (readPort && fd_ >= 0 && ready > 0 && p[0].revents) {
        int n = serial_->recv_uart_data(*record_, uart_read_size());
        if (n > 0) {
            assembler_.feed(record_->data, size_t(n),
                            [this](const u8* frame, int length) { frames_.emplace_back(frame, frame + length); });
        } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // The line is gone (a closed terminal reports hang-up for ever):
            // keep the pace of an idle pass instead of spinning.
            poll(nullptr, 0, wait);
        }
    }

    while (!frames_.empty()) {
        if (!handle_frame(frames_.front().data(), int(frames_.front().size())))
            break;
        frames_.pop_front();
        if (send_list_.size() >= kSendBatch)
            send_uart_data();
    }
    pass_cards();
    if (send_list_.size() > 0)
        send_uart_data();
    if (link_state_ == LOCAL_REPLY)
        link_state_ = IDLE;
}

void Kq_uart_inout::pass_cards()
{
    const bool was = passing_.waiting();
    passing_.turn();
    if (passing_.waiting())
        link_state_ = WAIT_CARDS;
    else if (was)
        link_state_ = IDLE;
}

bool Kq_uart_inout::handle_frame(const u8* frame, int length)
{
    int len = phy_->accept_frame(frame, length, work_.data(), int(work_.size()), &work_dirty_);
    if (len < 0)
        return true;
    if (protocol_phy::is_pass_through(work_.data())) {
        if (len + 1 >= kPassbyMaxFrame)
            return true;
        if (passing_.full())
            return false;
        // The check byte was verified; the cards get the whole body with it.
        passing_.push(work_.data(), len + 1);
    } else {
        const bool cardsOut = link_state_ == WAIT_CARDS;
        if (!cardsOut)
            link_state_ = LOCAL_REPLY;
        int n = deal_->message_group_deal(work_.data(), len, 5);
        if (n > 0) {
            int w = protocol_phy::build_reply(work_.data(), int(work_.size()), n, out_.data(), int(out_.size()),
                                              &work_dirty_);
            if (w > 0) {
                link_reply r;
                r.wire.assign(out_.begin(), out_.begin() + w);
                send_list_.push(std::move(r));
            }
        }
    }
    note_host_traffic();
    return true;
}

int Kq_uart_inout::send_uart_data()
{
    link_reply r;
    send_buf_.clear();
    bool any = false;
    // Everything queued goes out in one write: one turn of the line's
    // direction instead of one per reply.
    while (send_list_.pop(r)) {
        send_buf_.insert(send_buf_.end(), r.wire.begin(), r.wire.end());
        any = true;
    }
    if (!any)
        return 0;
    if (serial_->uart_write(fd_, send_buf_.data(), int(send_buf_.size())) < 0 && debugOn())
        printf("uart send error: %zu bytes not sent\n", send_buf_.size());
    note_host_traffic();
    return 0;
}
