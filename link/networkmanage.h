// The TCP command servers: the control port (g_port, "TcpPort") and port
// 10002, each a command port (command_port.h) on its own TcpServer with its
// own thread. Only the control port notes host traffic and passes frames
// through to the receiving cards (marker 2 in g_passby_trans_port); a
// connection with kMaxPassing card frames queued is not read until they are
// done. Every frame is answered, and the replies to what one read brought go
// out in one write per connection.
#pragma once

#include "core/net_check.h"
#include "link/command_port.h"
#include "link/tcpserver.h"

// The control server is opened only while this is non-zero.
extern u8 g_networkMode;

class networkManage
{
  public:
    // Made on first call, with its threads.
    static networkManage* pInstance();
    static networkManage* p_networkManage;
    networkManage();

    // Opens both servers without threads; 0 when both listen.
    int open();
    // open(), then acceptThread (control port) and acceptThread_10002: 0, or
    // 255 after "create accept thread failed".
    int initialize();
    static void* acceptThread(void* port) { return command_port::thread(port); }
    static void* acceptThread_10002(void* port) { return command_port::thread(port); }

    using port_link = command_port;
    enum : u8 { IDLE = command_port::IDLE, WAIT_CARDS = command_port::WAIT_CARDS };
    port_link& control_port() { return control_; }
    port_link& port_10002() { return second_; }
    void port_pass(port_link& p, int maxWaitMs) { p.pass(maxWaitMs); }
    static constexpr int kSecondPort = net_check::kSecondTcpPort;
    static constexpr size_t kFrameLimit = command_port::kFrameLimit;

  private:
    TcpServer control_server_;
    TcpServer second_server_;
    command_port control_;
    command_port second_;
    port_threads threads_;
};
