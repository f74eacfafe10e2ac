#include "link/serial_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/logging.h"

serial_line::serial_line(const line_rules& rules)
    : rules_(rules), passby_(rules.passby_marker, send_list_), record_(new Uart_Rec_Send_Data())
{
}

serial_line::~serial_line()
{
    if (!started_)
        return;
    stopping_ = true;
    send_list_.wake();
    pthread_join(thread_, nullptr);
}

int serial_line::open_port(int port, int speed, int flags)
{
    fd_ = serial_.serial_init(port, speed, flags);
    record_->fd = fd_;
    return fd_;
}

int serial_line::start(int port, int speed, int flags, int lowestFd, void* (*entry)(void*), const char* failure)
{
    if (open_port(port, speed, flags) < lowestFd)
        return 0;
    if (pthread_create(&thread_, nullptr, entry, this) != 0) {
        writeLogMsg(LOG_ERROR, failure);
        return 255;
    }
    started_ = true;
    return 0;
}

void* serial_line::thread(void* line)
{
    auto* self = static_cast<serial_line*>(line);
    while (!self->stopping_.load())
        self->receive_pass(-1);
    return nullptr;
}

void serial_line::receive_pass(int maxWaitMs)
{
    if (rules_.on_pass)
        rules_.on_pass(send_list_);
    // Frames for the cards, or frames waiting for their place among them,
    // keep the line turning.
    int wait = maxWaitMs;
    if (!passing_.empty() || !frames_.empty())
        wait = wait < 0 ? kCardWaitMs : std::min(wait, kCardWaitMs);
    const int pause = wait < 0 ? kGonePauseMs : wait;
    // Frames still waiting are handled before anything more is read.
    const bool readPort = frames_.empty();
    pollfd p[2] = {{readPort ? fd_ : -1, POLLIN, 0}, {send_list_.wake_fd(), POLLIN, 0}};
    int ready = poll(p, 2, wait);
    if (ready < 0 && errno != EINTR)
        poll(nullptr, 0, pause);
    if (ready > 0 && (p[1].revents & POLLIN))
        send_list_.drain_wake();

    if (readPort && fd_ >= 0 && ready > 0 && p[0].revents) {
        int n = serial_.recv_uart_data(*record_, uart_read_size());
        if (n > 0) {
            assembler_.feed(record_->data, size_t(n),
                            [this](const u8* frame, int length) { frames_.emplace_back(frame, frame + length); });
        } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // The line is gone: no spin.
            poll(nullptr, 0, pause);
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
    pc_answerer::replied();
    if (state_ == LOCAL_REPLY)
        state_ = IDLE;
}

void serial_line::pass_cards()
{
    const bool was = passing_.waiting();
    passing_.turn();
    if (passing_.waiting())
        state_ = WAIT_CARDS;
    else if (was)
        state_ = IDLE;
}

bool serial_line::handle_frame(const u8* frame, int length)
{
    const int len = desk_.accept(frame, length);
    if (len < 0)
        return true;
    if (protocol_phy::is_pass_through(desk_.body())) {
        // The cards take short frames only.
        if (len + 1 >= kPassbyMaxFrame)
            return true;
        if (passing_.full()) {
            if (rules_.holds_back)
                return false;
        } else {
            // The check byte was verified; the cards get the whole body with it.
            passing_.push(desk_.body(), len + 1);
        }
    } else {
        const bool cardsOut = state_ == WAIT_CARDS;
        if (!cardsOut)
            state_ = LOCAL_REPLY;
        const int w = desk_.answer(len);
        if (w > 0) {
            link_reply r;
            r.wire.assign(desk_.reply(), desk_.reply() + w);
            send_list_.push(std::move(r));
        }
    }
    note_host_traffic();
    return true;
}

int serial_line::send_uart_data()
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
    if (serial_.uart_write(fd_, send_buf_.data(), int(send_buf_.size())) < 0 && debugOn())
        zevlog::debug(lcLink(), "uart send error: %zu bytes not sent\n", send_buf_.size());
    note_host_traffic();
    return 0;
}
