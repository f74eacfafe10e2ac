#include "remote/uart_inout_4G.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>

#include <QMutexLocker>

#include "core/logMsg.h"
#include "core/utils.h"
#include "remote/message_deal_cloud_4g.h"
#include "remote/networkclient_manage.h"

Kq_uart_inout_4G* Kq_uart_inout_4G::p_uart_inout_4G = nullptr;

Kq_uart_inout_4G* Kq_uart_inout_4G::pInstance()
{
    if (!p_uart_inout_4G) {
        p_uart_inout_4G = new Kq_uart_inout_4G();
        p_uart_inout_4G->usart_init(kPort, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    return p_uart_inout_4G;
}

Kq_uart_inout_4G::Kq_uart_inout_4G() : record_(new Uart_Rec_Send_Data()), work_(pc::kWorkSize), out_(pc::kWireSize) {}

Kq_uart_inout_4G::~Kq_uart_inout_4G()
{
    delete record_;
}

int Kq_uart_inout_4G::open_port(int port, int speed, int flags)
{
    fd_ = serial_.serial_init(port, speed, flags);
    record_->fd = fd_;
    return fd_;
}

int Kq_uart_inout_4G::usart_init(int port, int speed, int flags)
{
    if (open_port(port, speed, flags) < 0)
        return 0;
    if (pthread_create(&thread_, nullptr, receive_thread_4G, this) != 0) {
        writeLogMsg(LOG_ERROR, "create 4G receive_thread failed");
        return 255;
    }
    return 0;
}

void* Kq_uart_inout_4G::receive_thread_4G(void* arg)
{
    auto* self = static_cast<Kq_uart_inout_4G*>(arg);
    for (;;)
        self->receive_pass(kIdleWaitMs);
    return nullptr;
}

std::vector<u8> Kq_uart_inout_4G::property_frame()
{
    const std::string text = message_deal_cloud_4g::property();
    std::vector<u8> body = {u8(pc::kAddrPc), u8(pc::kAddrPc >> 8), 0x00, 0xF1, 0, 0, 0, 0, 0, 0xC4};
    body.insert(body.end(), text.begin(), text.end());
    body.push_back(Utils::BCC(body.data(), unsigned(body.size())));
    std::vector<u8> wire(size_t(protocol_phy::escaped_capacity(int(body.size()))));
    const int w =
        protocol_phy::data_re_transf_meaning(wire.data(), body.data(), int(body.size()), nullptr, int(wire.size()));
    wire.resize(size_t(w > 0 ? w : 0));
    return wire;
}

void Kq_uart_inout_4G::receive_pass(int maxWaitMs)
{
    {
        QMutexLocker lock(&Utils::_reconfig_4g_mutex);
        if (g_reconfig_4g) {
            g_reconfig_4g = 0;
            link_reply r;
            r.wire = property_frame();
            send_list_.push(std::move(r));
        }
    }
    int wait = passing_.empty() ? maxWaitMs : std::min(maxWaitMs, kCardWaitMs);
    pollfd p[2] = {{fd_, POLLIN, 0}, {send_list_.wake_fd(), POLLIN, 0}};
    int ready = poll(p, 2, wait);
    if (ready < 0 && errno != EINTR)
        poll(nullptr, 0, wait);
    send_list_.drain_wake();

    if (fd_ >= 0 && ready > 0 && p[0].revents) {
        int n = serial_.recv_uart_data(*record_, uart_read_size());
        if (n > 0) {
            assembler_.feed(record_->data, size_t(n),
                            [this](const u8* frame, int length) { handle_frame(frame, length); });
        } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // A closed line reports hang-up for ever: keep an idle pace.
            poll(nullptr, 0, wait);
        }
    }

    const bool was = passing_.waiting();
    passing_.turn();
    if (passing_.waiting())
        link_state_ = WAIT_CARDS;
    else if (was)
        link_state_ = IDLE;
    if (send_list_.size() > 0)
        send_uart_data();
    if (link_state_ == LOCAL_REPLY)
        link_state_ = IDLE;
}

void Kq_uart_inout_4G::handle_frame(const u8* frame, int length)
{
    int len = protocol_phy::accept_frame(frame, length, work_.data(), int(work_.size()));
    if (len < 0)
        return;
    if (protocol_phy::is_pass_through(work_.data())) {
        // The cards take short frames only; a full queue drops the frame,
        // as a modem line has no way to hold its sender back.
        if (len + 1 < kPassbyMaxFrame && !passing_.full()) {
            work_[size_t(len)] = Utils::BCC(work_.data(), unsigned(len));
            passing_.push(work_.data(), len + 1);
        }
    } else {
        if (link_state_ != WAIT_CARDS)
            link_state_ = LOCAL_REPLY;
        int n = deal_.message_group_deal(work_.data(), len, 5);
        if (n > 0) {
            int w = protocol_phy::build_reply(work_.data(), int(work_.size()), n, out_.data(), int(out_.size()));
            if (w > 0) {
                link_reply r;
                r.wire.assign(out_.begin(), out_.begin() + w);
                send_list_.push(std::move(r));
            }
        }
    }
    note_host_traffic();
}

int Kq_uart_inout_4G::send_uart_data()
{
    link_reply r;
    bool sent = false;
    while (send_list_.pop(r)) {
        if (serial_.uart_write(fd_, r.wire.data(), int(r.wire.size())) < 0 && debugOn())
            printf("4G uart send error: %d bytes not sent\n", int(r.wire.size()));
        sent = true;
    }
    if (sent)
        note_host_traffic();
    return 0;
}
