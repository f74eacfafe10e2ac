#include "link/networkmanage.h"

u8 g_networkMode = 1;

networkManage* networkManage::p_networkManage = nullptr;

namespace
{
port_rules tcp_rules(u8 marker)
{
    port_rules r;
    r.passby_marker = marker;
    r.holds_back = true;
    r.answers_every_frame = true;
    return r;
}
} // namespace

networkManage* networkManage::pInstance()
{
    if (!p_networkManage) {
        p_networkManage = new networkManage();
        p_networkManage->initialize();
    }
    return p_networkManage;
}

networkManage::networkManage()
    : control_(control_server_, tcp_rules(PASSBY_TCP)), second_(second_server_, tcp_rules(PASSBY_NONE))
{
}

int networkManage::open()
{
    // Both are tried whatever the first one does.
    const bool control = !g_networkMode || control_server_.initialize(g_port) == 0;
    const bool second = second_server_.initialize(kSecondPort) == 0;
    return control && second ? 0 : 255;
}

int networkManage::initialize()
{
    open();
    const bool started = threads_.start(acceptThread, &control_, [this] { control_.stop(); }) &&
                         threads_.start(acceptThread_10002, &second_, [this] { second_.stop(); });
    return started ? 0 : 255;
}
