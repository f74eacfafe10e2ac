#include "remote/uart_inout_4G.h"

#include <fcntl.h>

#include <QMutexLocker>

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

Kq_uart_inout_4G::Kq_uart_inout_4G() : serial_line({PASSBY_4G, false, &reconnect_request}) {}

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

void Kq_uart_inout_4G::reconnect_request(link_send_list& sends)
{
    QMutexLocker lock(&Utils::_reconfig_4g_mutex);
    if (!g_reconfig_4g)
        return;
    g_reconfig_4g = 0;
    link_reply r;
    r.wire = property_frame();
    sends.push(std::move(r));
}
