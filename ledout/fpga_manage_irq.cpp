// The FPGA's interrupt service: reading the cards' answers from the receive
// pages, classifying them (search answers, job acknowledgements, the
// multifunction card, answers for the PC), merging the answers of a frame
// sent to all ports, and the forwarding of PC frames to the cards.
#include <cstring>
#include <mutex>

#include <QMutexLocker>

#include "board/board.h"
#include "core/logging.h"
#include "core/utils.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "ledout/passby.h"

using namespace FpgaCards;

namespace
{
// Receive slots in the order they are served: RX page, length registers,
// data-ready bit and acknowledge bit (set in the first register, cleared in
// the one after it).
struct RxSlot {
    u8 page;
    u8 lenReg;
    u8 hiReg;
    u8 hiShift;
    u8 readyReg;
    u8 readyBit;
    u8 ackReg;
    u8 ackBit;
};
constexpr RxSlot kRx[8] = {
    {2, 24, 25, 0, 129, 0, 130, 0},    {4, 133, 25, 2, 129, 2, 130, 1},   {6, 135, 25, 4, 129, 4, 130, 2},
    {8, 137, 25, 6, 129, 6, 130, 3},   {10, 149, 153, 0, 145, 0, 146, 0}, {12, 150, 153, 2, 145, 2, 146, 1},
    {14, 151, 153, 4, 145, 4, 146, 2}, {16, 152, 153, 6, 145, 6, 146, 3},
};
constexpr unsigned kSlots = 8;
constexpr u8 kReadyMask = 0x55;
// An answer carries its header and the status byte before anything is read.
constexpr unsigned kMinAnswer = 11;
// A search answer's count and status (bytes 11 to 13), and its config id
// and check status (bytes 18 to 22), each followed by the BCC.
constexpr unsigned kMinCount = 15;
constexpr unsigned kMinConfig = 24;
constexpr unsigned kMinPcFrame = 11;
constexpr u8 kGroupSearch = 0x10;
constexpr u8 kGroupReadRam = 0x61;
constexpr u8 kGroupWriteReg = 0xA0;
constexpr u8 kGroupSureAck = 0x39;
constexpr u16 kPcTool = 0xF010;

u16 get16(const u8* p)
{
    return u16(p[0] | (p[1] << 8));
}

bool toController(u16 dest)
{
    return dest >= kController && dest <= 0xF00F;
}

// Sets the port bits (bits 4-5 of the address's high byte at b[at]) and
// keeps the BCC.
void setPortBits(u8* b, unsigned length, unsigned at, unsigned bits)
{
    const u8 old = b[at];
    b[at] = u8((old & 0xCF) | ((bits & 3u) << 4));
    b[length - 1] ^= u8(old ^ b[at]);
}
constexpr unsigned kDestHigh = 1;
// An answer goes to the PC (its destination) from the card (its source): the
// port bits the box put into the card's address come off the source, so the
// PC sees the address it sent to.
constexpr unsigned kSrcHigh = 3;

// Output port (1 to 16) of an answer: its port byte when that names a port of
// this FPGA, else the receive slot's four ports and the source's port bits.
unsigned answerPort(const u8* a, unsigned char fpga, unsigned slot)
{
    unsigned p = a[7];
    if (p > fpga * 16u)
        p -= fpga * 16u;
    if (p >= 1 && p <= kPorts)
        return p;
    return (slot / 2) * 4 + ((get16(a + 2) >> 12) & 3u) + 1;
}

int forwardFrame(unsigned int length, unsigned char* frame)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m ? m->Dealwith1_PC_to_eth(length, frame) : 0;
}

void serviceTurn()
{
    if (fpga_manage* m = fpga_manage::p_fpga_manage)
        m->reg_IRQ_Dealwith(0, 0);
}

bool passbyAwaited()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m && m->passby_expect.load();
}

std::once_flag g_passbyInstalled;
} // namespace

void fpga_manage::install_passby()
{
    std::call_once(g_passbyInstalled, [this] {
        passby::install({&irq_mutex, &forwardFrame, &serviceTurn, &passbyAwaited});
    });
}

void fpga_manage::reg_IRQ_Dealwith(unsigned char fpga, unsigned char force)
{
    if (fpga > 1)
        return;
    install_passby();
    u8* reg = MCU_REG_func[fpga];
    const u8 state = shadow_reg(fpga, FpgaReg::kState);
    if (state != 2 && state != 3)
        return;
    const u32 irqPad = fpga == 0 ? FpgaPad::IRQ_FPGA0 : FpgaPad::IRQ_FPGA1;
    bool pending = force == 1 || irq_mark_[fpga] || (board::current().pads().read16(irqPad) & 1);
    if (!pending) {
        irq_mark_[fpga] = 0;
        // A host waiting for the cards does not rely on the interrupt line
        // alone: the data-ready bits are looked at every other tick.
        const bool awaited = passby_wait.load() || g_passby_trans_port.load() != PASSBY_NONE;
        if (pc_cmd_valid.load() != 1 || !awaited)
            return;
        if (!irq_poll_[fpga]) {
            irq_poll_[fpga] = 1;
            irq_poll_stamp_[fpga] = G_timeTicks.load();
            return;
        }
        if (Utils::getTimeSpace(irq_poll_stamp_[fpga]) <= 1)
            return;
        irq_poll_stamp_[fpga] = G_timeTicks.load();
        check_fpga_net_data_status(fpga);
        if (!irq_mark_[fpga])
            return;
    }
    irq_poll_[fpga] = 0;
    irq_mark_[fpga] = 0;
    write_to_register(FpgaReg::kStatus, 0x20, 0x00, fpga);
    read_from_register(FpgaReg::kStatus, fpga);
    if (shadow_reg(fpga, FpgaReg::kStatus) & 0x40) {
        write_to_register(FpgaReg::kStatus, 0x60, 0x00, fpga);
        read_from_register(FpgaReg::kInputCheck, fpga);
        const u8 check = shadow_reg(fpga, FpgaReg::kInputCheck);
        if (check < 25 || check > 48)
            mark_fpga_down(fpga);
    }
    read_from_register(129, fpga);
    read_from_register(145, fpga);
    if ((reg[129] | reg[145]) & kReadyMask)
        Rcv_data_from_eth(fpga);
    update_eth_state(fpga);
}

void fpga_manage::check_fpga_net_data_status(unsigned char fpga)
{
    if (fpga > 1)
        return;
    read_from_register(129, fpga);
    read_from_register(145, fpga);
    if ((shadow_reg(fpga, 129) | shadow_reg(fpga, 145)) & kReadyMask)
        irq_mark_[fpga] = 1;
}

bool fpga_manage::read_answer(unsigned char fpga, unsigned slot, u8* out, unsigned* length)
{
    const RxSlot& s = kRx[slot];
    read_from_register(s.lenReg, fpga);
    read_from_register(s.hiReg, fpga);
    const u8* reg = MCU_REG_func[fpga];
    const unsigned len = (reg[s.lenReg] | (((reg[s.hiReg] >> s.hiShift) & 3u) << 8)) + 1u;
    *length = len;
    return read_fpga_ram(out, 0, len, s.page, fpga) == 1;
}

void fpga_manage::ack_answer(unsigned char fpga, unsigned slot)
{
    const RxSlot& s = kRx[slot];
    const u8 bit = u8(1u << s.ackBit);
    write_to_register(s.ackReg, bit, bit, fpga);
    write_to_register(u8(s.ackReg + 1), bit, 0, fpga);
}

void fpga_manage::deal_with_search_concurrent(unsigned char fpga)
{
    u8 answer[kMaxPacket];
    for (unsigned slot = 0; slot < kSlots; ++slot) {
        const RxSlot& s = kRx[slot];
        if (!(shadow_reg(fpga, s.readyReg) & (1u << s.readyBit)))
            continue;
        unsigned len = 0;
        if (!read_answer(fpga, slot, answer, &len) || len < kMinAnswer)
            continue;
        if (get16(answer) != kController || answer[9] != kGroupSearch || Utils::BCC(answer, len - 1) != answer[len - 1])
            continue;
        take_search_answer(answer, len, fpga, slot);
        ack_answer(fpga, slot);
    }
}

void fpga_manage::take_search_answer(const u8* answer, unsigned length, unsigned char fpga, unsigned slot)
{
    search_answer |= 1u << (fpga * 8 + slot);
    if (answer[10] == 0)
        Search_concurrent_back_result(answer, u8(slot), fpga, length);
}

void fpga_manage::Search_concurrent_back_result(const unsigned char* frame, unsigned char slot, unsigned char fpga,
                                                unsigned int length)
{
    if (!frame || slot >= kSlots || length < kMinAnswer)
        return;
    update_eth_rcv_num(frame, u8(answerPort(frame, fpga, slot) - 1), fpga, length);
}

void fpga_manage::update_eth_rcv_num(const unsigned char* frame, unsigned char port, unsigned char fpga,
                                     unsigned int length)
{
    if (!frame || port >= kPorts || fpga > 1 || length < kMinCount)
        return;
    {
        FpgaParaLock lock;
        u8* page = MCU_RAM_PARA_func[fpga];
        const unsigned a = kCountAt[port], b = kStatusAt[port];
        page[a] = frame[11];
        page[a + 1] = frame[12];
        page[b] = frame[13];
        write_fpga_ram(page + a, a, b - a + 1, FpgaRam::kParaPage, fpga);
    }
    // The config id only of an answer long enough to carry it.
    if (length < kMinConfig || !check_config_armed.load())
        return;
    const u32 id = u32(frame[18]) | u32(frame[19]) << 8 | u32(frame[20]) << 16 | u32(frame[21]) << 24;
    if (id == check_config_id.load())
        g_send_para.check_status = frame[22];
}

void fpga_manage::Rcv_data_from_eth(unsigned char fpga)
{
    if (fpga > 1)
        return;
    deal_with_search_concurrent(fpga);
    u8* reg = MCU_REG_func[fpga];
    for (u8 r : {u8(129), u8(25), u8(145), u8(153)})
        read_from_register(r, fpga);
    unsigned slot = 0;
    while (slot < kSlots && !(reg[kRx[slot].readyReg] & (1u << kRx[slot].readyBit)))
        ++slot;
    if (slot == kSlots)
        return;
    // Another answer waits: the next pass serves it even without a new edge
    // on the interrupt line.
    for (unsigned other = slot + 1; other < kSlots; ++other)
        if (reg[kRx[other].readyReg] & (1u << kRx[other].readyBit))
            irq_mark_[fpga] = 1;

    u8 a[kMaxPacket];
    unsigned len = 0;
    const bool read = read_answer(fpga, slot, a, &len);
    ack_answer(fpga, slot);
    if (!read || len < kMinAnswer || Utils::BCC(a, len - 1) != a[len - 1])
        return;

    const u16 dest = get16(a), src = get16(a + 2);
    const u8 code = a[5], group = a[9];
    // A search answer that came in behind the one just taken from the same
    // page.
    if (dest == kController && group == kGroupSearch) {
        take_search_answer(a, len, fpga, slot);
        return;
    }
    const bool fromCard = src < kController;
    if (code == kCodeJob && fromCard && toController(dest))
        g_send_para.answer_flag = 1;
    if (group == kGroupSearch && dest == kPcTool && a[10] == 0)
        update_eth_rcv_num(a, u8(answerPort(a, fpga, slot) - 1), fpga, len);
    if ((group == kGroupReadRam || group == kGroupWriteReg) && dest == kController) {
        const unsigned n = len - 10 < sizeof vmf_answer ? len - 10 : sizeof vmf_answer;
        std::memset(vmf_answer, 0, sizeof vmf_answer);
        std::memcpy(vmf_answer, a + 10, n);
        vmf_answer_group = group;
        vmf_answer_flag = 1;
        return;
    }
    if (fromCard && toController(dest) && (code == kCodeJob || code == kCodeBrightness))
        return;
    answer_for_pc(a, len, fpga, slot);
}

void fpga_manage::answer_for_pc(u8* a, unsigned len, unsigned char fpga, unsigned slot)
{
    const u8 portByte = a[7];
    if (!multicast_active.load() && portByte >= 1 && portByte <= 254) {
        setPortBits(a, len, kSrcHigh, 0);
        deliver_answer(a, len);
        return;
    }
    const unsigned port = answerPort(a, fpga, slot);
    if (!multicast_active.load() && portByte == 0) {
        a[7] = u8(port);
        a[len - 1] ^= u8(port);
        setPortBits(a, len, kSrcHigh, 0);
        deliver_answer(a, len);
        return;
    }
    const u32 bit = 1u << (fpga * 16 + port - 1);
    if (a[9] == kGroupSureAck && fpga == 0)
        sure_answered |= bit;
    // Answers after the merged one went out, or to no frame at all, are
    // dropped.
    if (!passby_wait.load())
        return;
    if (a[5] == passby_code)
        passby_answered |= bit;
    if (passby_sent == 0 || (passby_answered & passby_sent) != passby_sent)
        return;
    const u16 cardsAddress = passby_first_cards ? kFirstCards : kAllCards;
    a[2] = u8(cardsAddress);
    a[3] = u8(cardsAddress >> 8);
    a[7] = 255;
    a[len - 1] = Utils::BCC(a, len - 1);
    {
        QMutexLocker lock(&Utils::_system_mutex);
        passby_wait = 0;
    }
    deliver_answer(a, len);
}

void fpga_manage::deliver_answer(const u8* answer, unsigned length)
{
    // The link gave up on an answer this late; a newer frame would have
    // stamped the wait again.
    if (Utils::getTimeSpace(passby_stamp.load()) >= kPassbyGiveUpTicks) {
        g_passby_trans_port = PASSBY_NONE;
        return;
    }
    passby::queue_answer(answer, int(length));
}

int fpga_manage::Dealwith1_PC_to_eth(unsigned int length, unsigned char* frame)
{
    if (!frame || length < kMinPcFrame || length >= kMaxPacket)
        return 1;
    passby_expect = 0;
    u8 f[kMaxPacket];
    std::memcpy(f, frame, length);
    passby_stamp = G_timeTicks.load();
    const u16 links = port_links();
    auto reaches = [&](unsigned port) { passby_expect = (links >> port) & 1u; };
    multicast_active = 0;
    write_to_register(147, 0x0F, 0, 0);
    write_to_register(131, 0x0F, 0, 0);
    const u8 route = f[6], portByte = f[7];
    auto toPort = [&](unsigned port) {
        reaches(port);
        setPortBits(f, length, kDestHigh, port);
        Send_to_port(f, u16(length), u16(port), 0);
    };
    if (route == 0) {
        if (portByte == 0) {
            reaches(0);
            Send_to_port(f, u16(length), 0, 0);
        } else if (portByte <= kPorts)
            toPort(portByte - 1u);
        return 1;
    }
    if (route != 1 && route != 3 && route != 255)
        return 1;
    if (portByte == 255) {
        multicast_active = 1;
        passby_code = f[5];
        passby_first_cards = get16(f) == kFirstCards ? 1 : 0;
        passby_wait = 0;
        const u32 sent = multi_port_send(f, u16(length));
        // The merged answer needs every port sent to.
        passby_expect = sent != 0 && (sent & ~u32(links)) == 0;
    } else if (portByte >= 1 && portByte <= kPorts) {
        toPort(portByte - 1u);
    } else if (portByte == 0) {
        const unsigned port = (get16(f) >> 12) & 3u;
        if (debugOn())
            zevlog::debug(lcLedout(), "FRAME_NETPORT : %d   port_num : %d\n", get16(f) >> 12, port);
        reaches(port);
        Send_to_port(f, u16(length), u16(port), 0);
    }
    return 1;
}
