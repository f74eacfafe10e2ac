// Receiving-card packets: the builders, sending one packet to one port or to
// several, the acknowledged send, and the route patterns that place the
// cards of a smart-mapping route on the screen.
#include <cstring>

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>

#include "core/logging.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"

using namespace FpgaCards;

namespace
{
// Transmit hardware of each port pair (ports 2k and 2k+1).
struct TxPair {
    u8 page;   // TX RAM page
    u8 lenReg; // low 8 bits of length - 1
    u8 hiReg;  // bits 8-9 of length - 1, two bits per pair
    u8 hiShift;
    u8 selReg;   // one bit per port
    u8 startReg; // start bit of the pair
    u8 startBit;
    u8 readyReg; // busy bit of the pair
    u8 readyBit;
};
constexpr TxPair kTx[8] = {
    {3, 26, 27, 0, 132, 130, 4, 129, 1},    {5, 134, 27, 2, 132, 130, 5, 129, 3},
    {7, 136, 27, 4, 132, 130, 6, 129, 5},   {9, 138, 27, 6, 132, 130, 7, 129, 7},
    {11, 154, 158, 0, 148, 146, 4, 145, 1}, {13, 155, 158, 2, 148, 146, 5, 145, 3},
    {15, 156, 158, 4, 148, 146, 6, 145, 5}, {17, 157, 158, 6, 148, 146, 7, 145, 7},
};
constexpr u32 kSendReadyTicks = 300;
// Pause between two looks at a busy port: the bus stays free for others.
constexpr useconds_t kPollSleepUs = 200;
// Checks of the acknowledged send before a retry, and retries before it fails.
constexpr u32 kSureChecksPerRetry = 29;
constexpr u8 kSureRetries = 3;
constexpr u32 kSureRestartTicks = 81;
constexpr u8 kGroupWriteRam = 0x60;
constexpr u8 kGroupWriteReg = 0xA0;
constexpr u8 kGroupSave = 0x81;
constexpr u8 kGroupReconfig = 0x84;
constexpr u8 kGroupActivate = 0xB4;
constexpr u8 kGroupSearch = 0x10;
constexpr u16 kPositionAddress = 0x180;

// Link bits of the 16 ports; none while the FPGA is not up.
u16 portLinks(fpga_manage* m)
{
    if (fpga_manage::shadow_reg(0, FpgaReg::kState) != 3)
        return 0;
    m->read_from_register(128, 0);
    m->read_from_register(144, 0);
    return u16(fpga_manage::shadow_reg(0, 144) << 8 | fpga_manage::shadow_reg(0, 128));
}

bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Header of a packet built by the system: destination, the controller as
// source, 0x10, code 'g', routing 1, the port byte and 0.
void header(u8* b, u16 dest, u8 portByte, u8 group)
{
    b[0] = u8(dest);
    b[1] = u8(dest >> 8);
    b[2] = 0x00;
    b[3] = 0xF0;
    b[4] = 0x10;
    b[5] = kCodeJob;
    b[6] = 0x01;
    b[7] = portByte;
    b[8] = 0;
    b[9] = group;
}

// Appends the BCC to a packet of length - 1 bytes and records its length.
int finish(u8* b, unsigned length)
{
    b[length - 1] = Utils::BCC(b, length - 1);
    g_send_para.frame_len = u16(length);
    return int(length);
}

bool fits(unsigned length)
{
    return length <= kMaxPacket;
}

// Packet with group data copied from byte 10.
int withData(u8* buffer, u16 dest, u8 portByte, u8 group, const u8* data, unsigned short length)
{
    const unsigned total = kHeader + length + 1u;
    if (!buffer || (length && !data) || !fits(total))
        return 0;
    header(buffer, dest, portByte, group);
    if (length)
        std::memcpy(buffer + kHeader, data, length);
    return finish(buffer, total);
}

// A route pattern: runs along rows or columns; which row or column the
// first run takes, which end each run starts from, and whether runs turn.
struct Route {
    bool byRows;
    bool runsFromEnd;  // first run along the last row (bottom) or column (right)
    bool firstFromEnd; // first run starts at the right end (rows) or bottom (columns)
    bool serpentine;
};
constexpr Route kRoutes[17] = {
    {true, false, false, false},  // 0: no pattern
    {true, true, true, true},     // 1 bottom right, leftwards, serpentine upwards
    {true, true, false, true},    // 2 bottom left
    {true, false, true, true},    // 3 top right
    {true, false, false, true},   // 4 top left
    {false, true, true, true},    // 5 bottom right, upwards, serpentine leftwards
    {false, true, false, true},   // 6 top right, downwards
    {false, false, false, true},  // 7 top left, downwards
    {false, false, true, true},   // 8 bottom left, upwards
    {true, true, true, false},    // 9 bottom right, each row right to left
    {true, false, false, false},  // 10 top left, each row left to right
    {true, true, false, false},   // 11 bottom left, each row left to right
    {false, false, false, false}, // 12 as 14: what the smart-mapping page shows
    {false, true, true, false},   // 13 bottom right, each column bottom to top
    {false, false, false, false}, // 14 top left, each column top to bottom
    {false, false, true, false},  // 15 bottom left, each column bottom to top
    {false, true, false, false},  // 16 top right, each column top to bottom
};
} // namespace

const u8 fpga_manage::SEND_BRI_SAVE_CMD[13] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0x66, 0x01,
                                               0x00, 0x00, 0x81, 0x09, 0x00, 0x00};
const u8 fpga_manage::SEND_BRI_ETH_REG[15] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0x66, 0x01, 0x00,
                                              0x00, 0xA0, 0x01, 0x08, 0x00, 0x08, 0x00};
const u8 fpga_manage::SEND_BRI_ETH_CMD[20] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0x66, 0x01, 0x00, 0x00, 0x60,
                                              0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0x00};
const u8 fpga_manage::SEARCH_CARD_BUF[15] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0xAA, 0xFF, 0x00,
                                             0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
const u8 fpga_manage::SEND_READ_VMF_RAM0_CMD[19] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61,
                                                    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};

void fpga_manage::get_rcvcard_x_y(int index, unsigned short* x, unsigned short* y)
{
    const MAPPING_LINE_PARA& l = line_type;
    if (!x || !y || l.pattern == 0 || l.pattern > 16 || l.rows == 0 || l.cols == 0)
        return;
    const int rows = l.rows, cols = l.cols;
    if (index < 0 || index >= rows * cols)
        index = rows * cols - 1;
    const Route& r = kRoutes[l.pattern];
    const int runLength = r.byRows ? cols : rows;
    const int runCount = r.byRows ? rows : cols;
    const int run = index / runLength;
    int pos = index % runLength;
    const bool reversed = r.firstFromEnd != (r.serpentine && (run & 1));
    if (reversed)
        pos = runLength - 1 - pos;
    const int line = r.runsFromEnd ? runCount - 1 - run : run;
    const int col = r.byRows ? pos : line;
    const int row = r.byRows ? line : pos;
    *x = u16(col * l.cab_width);
    *y = u16(row * l.cab_height);
}

int fpga_manage::rcv_card_cmd_create(unsigned char* buffer, unsigned char port)
{
    if (!buffer)
        return 0;
    unsigned short x = 0, y = 0;
    get_rcvcard_x_y(g_send_para.card_index, &x, &y);
    x = u16(x + line_type.x_origin);
    y = u16(y + line_type.y_origin);
    header(buffer, card_address(port, g_send_para.card_index), u8(port + 1), kGroupWriteRam);
    const u8 data[12] = {
        u8(kPositionAddress), u8(kPositionAddress >> 8), 0, 0, 4, 0, 0, 0, u8(x), u8(x >> 8), u8(y), u8(y >> 8)};
    std::memcpy(buffer + kHeader, data, sizeof data);
    return finish(buffer, 23);
}

int fpga_manage::load_write_ram_cmd_create(unsigned char port, unsigned short card, unsigned int address,
                                           const unsigned char* data, unsigned short length, unsigned char* buffer,
                                           unsigned char all)
{
    const unsigned total = length + 19u;
    if (!buffer || (length && !data) || !fits(total))
        return 0;
    header(buffer, all ? kAllCards : card_address(port, card), u8(port + 1), kGroupWriteRam);
    const u8 head[8] = {
        u8(address), u8(address >> 8), u8(address >> 16), u8(address >> 24), u8(length), u8(length >> 8), 0, 0};
    std::memcpy(buffer + kHeader, head, sizeof head);
    if (length)
        std::memcpy(buffer + 18, data, length);
    return finish(buffer, total);
}

int fpga_manage::load_write_reg_cmd_create(unsigned char port, unsigned short card, const unsigned char* data,
                                           unsigned short length, unsigned char* buffer, unsigned char all)
{
    return withData(buffer, all ? kAllCards : card_address(port, card), 0, kGroupWriteReg, data, length);
}

int fpga_manage::load_write_user_defined_cmd_create(unsigned char port, unsigned short card, const unsigned char* data,
                                                    unsigned short length, unsigned char* buffer, unsigned char all)
{
    const unsigned total = length + 10u;
    if (!buffer || (length && !data) || !fits(total))
        return 0;
    header(buffer, all ? kAllCards : card_address(port, card), 0, 0);
    if (length)
        std::memcpy(buffer + 9, data, length);
    return finish(buffer, total);
}

int fpga_manage::rcv_active_firmware_cmd_create(unsigned char port, unsigned short card, const unsigned char* data,
                                                unsigned short length, unsigned char* buffer)
{
    return withData(buffer, card_address(port, card), u8(port + 1), kGroupActivate, data, length);
}

int fpga_manage::rcv_reconfig_cmd_create(unsigned char port, unsigned short card, const unsigned char* data,
                                         unsigned short length, unsigned char* buffer)
{
    return withData(buffer, card_address(port, card), u8(port + 1), kGroupReconfig, data, length);
}

int fpga_manage::ram_reset_cmd_create(unsigned char* buffer, const SCAN_PARA& scan, unsigned char port)
{
    const u8 data[4] = {scan.reg, scan.mask, 1, scan.value};
    return withData(buffer, u16(card_address(port, 0) + kFirstCards), u8(port + 1), kGroupWriteReg, data, 4);
}

int fpga_manage::save_para_cmd_create(unsigned char* buffer, unsigned char port)
{
    const u8 data[2] = {0xFF, 0x00};
    return withData(buffer, kAllCards, u8(port + 1), kGroupSave, data, 2);
}

int fpga_manage::save_para2flash_cmd_create(unsigned char port, unsigned short card, unsigned char* buffer,
                                            unsigned char all)
{
    const u8 data[2] = {0xFF, 0x00};
    return withData(buffer, all ? kAllCards : card_address(port, card), 0, kGroupSave, data, 2);
}

int fpga_manage::mapping_enable_cmd_create(unsigned char port, unsigned char* buffer)
{
    const u8 data[4] = {3, 0x0F, 1, u8(g_send_para.mapping_state.load())};
    return withData(buffer, kAllCards, u8(port + 1), kGroupWriteReg, data, 4);
}

int fpga_manage::load_search_rxc_cmd_create(unsigned char port, const unsigned char* data, unsigned short length,
                                            unsigned char* buffer)
{
    return withData(buffer, u16(card_address(port, 0) + kFirstCards), u8(port + 1), kGroupSearch, data, length);
}

u16 fpga_manage::get_port_card_num(unsigned char port)
{
    if (port >= kPorts)
        return 0;
    return para16(0, kCountAt[port]);
}

u16 fpga_manage::check_netport_card(unsigned char fpga)
{
    FpgaParaLock lock;
    const u8* page = MCU_RAM_PARA_func[fpga & 1];
    u16 total = 0;
    for (unsigned p = 0; p < kPorts; ++p)
        total = u16(total + ZevRamPara::get16(page, kCountAt[p]));
    return total;
}

bool fpga_manage::port_usable(unsigned port, u16 links)
{
    return port < kPorts && (links & (1u << port)) && get_port_card_num(u8(port)) != 0;
}

u16 fpga_manage::port_links()
{
    return portLinks(this);
}

int fpga_manage::wait_fpga_send_ready(unsigned char port, unsigned char fpga)
{
    if (port >= kPorts || fpga > 1)
        return 0;
    const TxPair& t = kTx[port / 2];
    const u32 start = G_timeTicks.load();
    // Ticks do not advance while the GUI thread waits: it looks once.
    const bool once = onGuiThread();
    for (;;) {
        if (read_from_register(t.readyReg, fpga) && !(shadow_reg(fpga, t.readyReg) & (1u << t.readyBit)))
            return 1;
        if (once || Utils::getTimeSpace(start) >= kSendReadyTicks)
            return 0;
        usleep(kPollSleepUs);
    }
}

int fpga_manage::Send_to_port(const unsigned char* packet, unsigned short length, unsigned short port,
                              unsigned char fpga)
{
    if (!packet || length == 0 || length > kMaxPacket || port >= kPorts || fpga > 1)
        return 0;
    const TxPair& t = kTx[port / 2];
    // A port still busy after the wait is written anyway.
    wait_fpga_send_ready(u8(port), fpga);
    // Each step needs the one before it: a packet is started only when its
    // port, data and length all reached the FPGA.
    const unsigned last = length - 1u;
    const bool sent = write_to_register(t.selReg, 0xFF, u8(1u << (port % 8)), fpga) == 1 &&
                      write_fpga_ram(packet, 0, length, t.page, fpga) == 1 &&
                      write_to_register(t.lenReg, 0xFF, u8(last), fpga) == 1 &&
                      write_to_register(t.hiReg, u8(3u << t.hiShift), u8(((last >> 8) & 3u) << t.hiShift), fpga) == 1 &&
                      write_to_register(t.startReg, 0xF0, u8(1u << t.startBit), fpga) == 1;
    return sent ? 1 : 0;
}

u32 fpga_manage::multi_port_send(const unsigned char* packet, unsigned short length)
{
    passby_sent = 0;
    passby_answered = 0;
    if (packet && length >= 2 && length <= kMaxPacket) {
        u32 mode, mask;
        {
            QMutexLocker lock(&Utils::_fpga_multicast_mutex);
            mode = multicast_mode;
            mask = multicast_mask;
        }
        u16 targets = 0;
        if (mode == 0) {
            const u16 links = portLinks(this);
            for (unsigned p = 0; p < kPorts; ++p)
                if (port_usable(p, links))
                    targets |= u16(1u << p);
        } else {
            targets = u16(mask & 0xFF);
        }
        u8 steered[kMaxPacket];
        std::memcpy(steered, packet, length);
        for (unsigned p = 0; p < kPorts; ++p) {
            if (!(targets & (1u << p)))
                continue;
            const u8 old = steered[1];
            steered[1] = u8((old & 0xCF) | ((p & 3u) << 4));
            steered[length - 1] ^= u8(old ^ steered[1]);
            if (Send_to_port(steered, length, u16(p), 0))
                passby_sent |= 1u << p;
        }
    }
    passby_wait = 1;
    passby_stamp = G_timeTicks.load();
    return passby_sent;
}

int fpga_manage::to_rcv_sure_send(unsigned char mode, unsigned int length, const unsigned char* packet)
{
    switch (mode) {
    case 2:
        sure_stamp = G_timeTicks.load();
        return 1;
    case 3:
        if (Utils::getTimeSpace(sure_stamp) < kSureRestartTicks)
            return 0;
        sure_sent = 0;
        sure_answered = 0;
        sure_retry = 0;
        sure_wait = 0;
        sure_stamp = G_timeTicks.load();
        return 1;
    case 4:
    case 6: {
        const u16 links = portLinks(this);
        for (unsigned k = 0; k < 8; ++k) {
            const unsigned first = mode == 4 ? 2 * k : 2 * k + 1;
            const unsigned second = mode == 4 ? 2 * k + 1 : 2 * k;
            const unsigned port = port_usable(first, links) ? first : port_usable(second, links) ? second : kPorts;
            if (port == kPorts)
                continue;
            if (k < 4)
                write_to_register(131, u8(1u << k), 0, 0);
            if (Send_to_port(packet, u16(length), u16(port), 0))
                sure_sent |= 1u << port;
        }
        sure_stamp = G_timeTicks.load();
        return 1;
    }
    default:
        break;
    }
    const u32 answered = sure_answered.load();
    const u32 missing = sure_sent & ~answered;
    sure_stamp = G_timeTicks.load();
    const u8 done = mode == 5 ? 1 : 9;
    if (!missing) {
        sure_retry = 0;
        if (debugOn()) {
            if (mode == 5)
                zevlog::debug(lcLedout(), "\n half all have ack , %d ,%#x ,%#x,%#x\n", mode, sure_sent, answered,
                              missing);
            else
                zevlog::debug(lcLedout(), "\n all all have ack %d ,%#x ,%#x,%#x\n", mode, sure_sent, answered, missing);
        }
        return done;
    }
    // The caller sends again once per retry, not on every check.
    bool retryNow = false;
    if (++sure_wait > kSureChecksPerRetry) {
        sure_wait = 0;
        ++sure_retry;
        retryNow = true;
    }
    if (sure_retry >= kSureRetries) {
        sure_retry = 0;
        if (debugOn())
            zevlog::debug(lcLedout(), "\n  sending failed ....");
        return done;
    }
    if (retryNow) {
        if (debugOn())
            zevlog::debug(lcLedout(), "\n  try again ....");
        return 2;
    }
    if (debugOn())
        zevlog::debug(lcLedout(), "\n  waiting ....to_rcv_sure_checktimes = %d ,%#x ,%#x,%#x\n", sure_wait, sure_sent,
                      answered, missing);
    return 0;
}
