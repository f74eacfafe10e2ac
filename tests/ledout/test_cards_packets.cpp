// Receiving-card packets as the builders lay them out, the route patterns,
// and sending to one port, several ports and all ports, with the acknowledged
// send, on the simulated FPGA and its cards.
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <functional>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "cards_fixture.h"
#include "ledout/fpga_manage.h"

using board::sim::SimCards;
using board::sim::SimFpga;

namespace
{
// A packet the controller sends: dest, 0xF000, 0x10, code, route, port
// byte, 0, group and data.
Bytes packet(u16 dest, u8 code, u8 route, u8 portByte, u8 group, const Bytes& data)
{
    Bytes b = {u8(dest), u8(dest >> 8), 0x00, 0xF0, 0x10, code, route, portByte, 0x00, group};
    b.insert(b.end(), data.begin(), data.end());
    return withBcc(b);
}

struct Sent {
    int port;
    Bytes packet;
};
} // namespace

class TestCardsPackets : public QObject
{
    Q_OBJECT

    CardBench bench;
    fpga_manage* m_ = bench.manager();

    // Packets the FPGA sent on its ports while f ran.
    std::vector<Sent> capture(const std::function<void()>& f)
    {
        cards()->reset();
        cards()->setAnswerDelay(0);
        f();
        std::vector<Sent> out;
        for (auto& r : cards()->received())
            out.push_back({r.first, r.second});
        return out;
    }

    std::vector<std::pair<int, int>> route(u8 pattern, u8 rows, u8 cols)
    {
        setRoute(pattern, rows, cols, 1, 1);
        std::vector<std::pair<int, int>> r;
        for (int i = 0; i < rows * cols; ++i) {
            unsigned short x = 999, y = 999;
            fpga_manage::get_rcvcard_x_y(i, &x, &y);
            r.push_back({x, y});
        }
        return r;
    }

  private slots:
    void init()
    {
        bench.up(1000, 0);
        {
            QMutexLocker lock(&Utils::_fpga_multicast_mutex);
            m_->multicast_mode = 0;
            m_->multicast_mask = 0;
        }
        g_send_para.frame_len = 0;
        g_send_para.card_index = 0;
    }

    // --- builders ---

    void positionCommandCarriesRoutePlusOrigin()
    {
        setRoute(1, 3, 4, 128, 64, 10, 20);
        g_send_para.card_index = 5; // pattern 1: (1, 1)
        u8 b[64];
        QCOMPARE(fpga_manage::rcv_card_cmd_create(b, 6), 23);
        const Bytes want = packet(0x2005, 0x67, 1, 7, 0x60, {0x80, 0x01, 0, 0, 4, 0, 0, 0, u8(138), 0, u8(84), 0});
        QCOMPARE(Bytes(b, b + 23), want);
        QCOMPARE(g_send_para.frame_len, u16(23));
    }

    void buildersLayOutTheirPackets()
    {
        u8 b[1100];
        const Bytes data = {0xDE, 0xAD, 0xBE};
        QCOMPARE(fpga_manage::load_write_ram_cmd_create(1, 7, 0x12345678, data.data(), 3, b, 0), 22);
        QCOMPARE(Bytes(b, b + 22),
                 packet(0x1007, 0x67, 1, 2, 0x60, {0x78, 0x56, 0x34, 0x12, 3, 0, 0, 0, 0xDE, 0xAD, 0xBE}));
        QCOMPARE(fpga_manage::load_write_ram_cmd_create(1, 7, 0x80, data.data(), 3, b, 1), 22);
        QCOMPARE(Bytes(b, b + 2), Bytes({0xFF, 0x0F}));

        QCOMPARE(fpga_manage::load_write_reg_cmd_create(3, 2, data.data(), 3, b, 0), 14);
        QCOMPARE(Bytes(b, b + 14), packet(0x3002, 0x67, 1, 0, 0xA0, data));

        const Bytes own = {0x39, 0x01, 0x02};
        QCOMPARE(fpga_manage::load_write_user_defined_cmd_create(0, 1, own.data(), 3, b, 1), 13);
        QCOMPARE(Bytes(b, b + 13), packet(0x0FFF, 0x67, 1, 0, 0x39, {0x01, 0x02}));

        QCOMPARE(fpga_manage::rcv_active_firmware_cmd_create(4, 9, data.data(), 3, b), 14);
        QCOMPARE(Bytes(b, b + 14), packet(0x0009, 0x67, 1, 5, 0xB4, data));
        QCOMPARE(fpga_manage::rcv_reconfig_cmd_create(5, 9, data.data(), 3, b), 14);
        QCOMPARE(Bytes(b, b + 14), packet(0x1009, 0x67, 1, 6, 0x84, data));

        QCOMPARE(fpga_manage::ram_reset_cmd_create(b, SCAN_PARA{1, 0xFF, 0xFF}, 2), 15);
        QCOMPARE(Bytes(b, b + 15), packet(0x2FFE, 0x67, 1, 3, 0xA0, {0x01, 0xFF, 0x01, 0xFF}));
        QCOMPARE(g_send_para.frame_len, u16(15));

        QCOMPARE(fpga_manage::save_para_cmd_create(b, 3), 13);
        QCOMPARE(Bytes(b, b + 13), packet(0x0FFF, 0x67, 1, 4, 0x81, {0xFF, 0x00}));
        QCOMPARE(fpga_manage::save_para2flash_cmd_create(1, 4, b, 0), 13);
        QCOMPARE(Bytes(b, b + 13), packet(0x1004, 0x67, 1, 0, 0x81, {0xFF, 0x00}));

        g_send_para.mapping_state = 9;
        QCOMPARE(fpga_manage::mapping_enable_cmd_create(0, b), 15);
        QCOMPARE(Bytes(b, b + 15), packet(0x0FFF, 0x67, 1, 1, 0xA0, {0x03, 0x0F, 0x01, 0x09}));

        const Bytes search = {0, 0, 0, 0, 0, 0, 1};
        QCOMPARE(fpga_manage::load_search_rxc_cmd_create(7, search.data(), 7, b), 18);
        QCOMPARE(Bytes(b, b + 18), packet(0x3FFE, 0x67, 1, 8, 0x10, search));
    }

    void buildersRefuseWhatDoesNotFit()
    {
        std::vector<u8> data(1100, 0x11);
        std::vector<u8> b(1100, 0xEE);
        g_send_para.frame_len = 77;
        QCOMPARE(fpga_manage::load_write_ram_cmd_create(0, 0, 0, data.data(), 1006, b.data(), 0), 0);
        QCOMPARE(b[0], u8(0xEE));
        QCOMPARE(g_send_para.frame_len, u16(77));
        QCOMPARE(fpga_manage::load_write_ram_cmd_create(0, 0, 0, data.data(), 1005, b.data(), 0), 1024);
        QCOMPARE(fpga_manage::load_write_reg_cmd_create(0, 0, data.data(), 1014, b.data(), 0), 0);
        QCOMPARE(fpga_manage::load_write_reg_cmd_create(0, 0, data.data(), 1013, b.data(), 0), 1024);
        QCOMPARE(fpga_manage::load_write_user_defined_cmd_create(0, 0, data.data(), 1015, b.data(), 0), 0);
        QCOMPARE(fpga_manage::rcv_active_firmware_cmd_create(0, 0, data.data(), 1014, b.data()), 0);
        QCOMPARE(fpga_manage::rcv_reconfig_cmd_create(0, 0, data.data(), 1014, b.data()), 0);
        QCOMPARE(fpga_manage::load_search_rxc_cmd_create(0, data.data(), 1014, b.data()), 0);
        QCOMPARE(fpga_manage::load_write_reg_cmd_create(0, 0, nullptr, 3, b.data(), 0), 0);
    }

    void cardIndexNeverReachesThePortBits()
    {
        u8 b[32];
        QCOMPARE(fpga_manage::save_para2flash_cmd_create(1, 0x3ABC, b, 0), 13);
        QCOMPARE(u16(b[0] | b[1] << 8), u16(0x1ABC));
        g_send_para.card_index = 0xF123;
        line_type = MAPPING_LINE_PARA();
        QCOMPARE(fpga_manage::rcv_card_cmd_create(b, 2), 23);
        QCOMPARE(u16(b[0] | b[1] << 8), u16(0x2123));
    }

    void templatesAreAsLaidDown()
    {
        QCOMPARE(Bytes(fpga_manage::SEARCH_CARD_BUF, fpga_manage::SEARCH_CARD_BUF + 15),
                 Bytes({0xFE, 0x0F, 0x00, 0xF0, 0x10, 0xAA, 0xFF, 0x00, 0x00, 0x10, 0, 0, 0, 0, 0}));
        QCOMPARE(fpga_manage::SEND_READ_VMF_RAM0_CMD[15], u8(0x01));
        QCOMPARE(fpga_manage::SEND_BRI_ETH_CMD[18], u8(0xFF));
        QCOMPARE(fpga_manage::SEND_BRI_ETH_REG[13], u8(0x08));
        QCOMPARE(fpga_manage::SEND_BRI_SAVE_CMD[10], u8(0x09));
    }

    // --- route patterns ---

    void routeExamples()
    {
        const std::vector<std::pair<int, int>> p1 = {{3, 2}, {2, 2}, {1, 2}, {0, 2}, {0, 1}, {1, 1},
                                                     {2, 1}, {3, 1}, {3, 0}, {2, 0}, {1, 0}, {0, 0}};
        QCOMPARE(route(1, 3, 4), p1);
        const std::vector<std::pair<int, int>> p5 = {{3, 2}, {3, 1}, {3, 0}, {2, 0}, {2, 1}, {2, 2},
                                                     {1, 2}, {1, 1}, {1, 0}, {0, 0}, {0, 1}, {0, 2}};
        QCOMPARE(route(5, 3, 4), p5);
        const std::vector<std::pair<int, int>> p10 = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}};
        QCOMPARE(route(10, 2, 3), p10);
        const std::vector<std::pair<int, int>> p16 = {{2, 0}, {2, 1}, {1, 0}, {1, 1}, {0, 0}, {0, 1}};
        QCOMPARE(route(16, 2, 3), p16);
    }

    void everyPatternVisitsEveryCardOnce()
    {
        for (u8 pattern = 1; pattern <= 16; ++pattern) {
            const auto r = route(pattern, 3, 5);
            std::set<std::pair<int, int>> seen(r.begin(), r.end());
            QCOMPARE(int(seen.size()), 15);
            for (const auto& p : r)
                QVERIFY(p.first < 5 && p.second < 3);
            const auto first = r.front();
            const bool corner = (first.first == 0 || first.first == 4) && (first.second == 0 || first.second == 2);
            QVERIFY2(corner, qPrintable(QString("pattern %1").arg(pattern)));
        }
    }

    void patternTwelveFollowsFourteen()
    {
        QCOMPARE(route(12, 3, 5), route(14, 3, 5));
        QCOMPARE(route(12, 4, 2), route(14, 4, 2));
    }

    void routeOutsideItsBounds()
    {
        setRoute(0, 3, 4, 10, 10);
        for (u8 pattern : {u8(0), u8(17), u8(255)}) {
            line_type.pattern = pattern;
            unsigned short x = 7, y = 8;
            fpga_manage::get_rcvcard_x_y(3, &x, &y);
            QCOMPARE(x, u16(7));
            QCOMPARE(y, u16(8));
        }
        // No rows or no columns: nothing to walk, nothing divided by zero.
        line_type.pattern = 1;
        line_type.rows = 0;
        unsigned short x = 7, y = 8;
        fpga_manage::get_rcvcard_x_y(0, &x, &y);
        QCOMPARE(x, u16(7));
        line_type.rows = 3;
        line_type.cols = 0;
        fpga_manage::get_rcvcard_x_y(0, &x, &y);
        QCOMPARE(y, u16(8));
        // Past the route: the last position walked.
        line_type.cols = 4;
        fpga_manage::get_rcvcard_x_y(12, &x, &y);
        QCOMPARE(x, u16(0));
        QCOMPARE(y, u16(0));
        fpga_manage::get_rcvcard_x_y(-5, &x, &y);
        QCOMPARE(x, u16(0));
        QCOMPARE(y, u16(0));
    }

    // --- sending ---

    void fullPacketToPortNine()
    {
        Bytes p(1024);
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = u8(i * 7);
        fpga()->setRecording(true);
        fpga()->clearAccesses();
        std::vector<Sent> sent = capture([&] { QCOMPARE(m_->Send_to_port(p.data(), 1024, 9, 0), 1); });
        fpga()->setRecording(false);
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(sent[0].port, 9);
        QCOMPARE(sent[0].packet, p);
        bool len = false, hi = false, start = false, sel = false;
        for (const auto& a : fpga()->accesses()) {
            if (a.ram || a.read)
                continue;
            if (a.address == 154)
                len = a.data[0] == 0xFF;
            if (a.address == 158 && a.mask == 0x03)
                hi = (a.data[0] & 0x03) == 0x03;
            if (a.address == 146 && a.mask == 0xF0)
                start = (a.data[0] & 0xF0) == 0x10;
            if (a.address == 148)
                sel = a.data[0] == 0x02;
        }
        QVERIFY(len && hi && start && sel);
        QCOMPARE(fpga()->ram(11, 0, 1024), p);
    }

    void refusedSendsTouchNothing()
    {
        u8 p[2048] = {};
        fpga()->setRecording(true);
        fpga()->clearAccesses();
        QCOMPARE(m_->Send_to_port(p, 0, 0, 0), 0);
        QCOMPARE(m_->Send_to_port(p, 1025, 0, 0), 0);
        QCOMPARE(m_->Send_to_port(p, 20, 16, 0), 0);
        QCOMPARE(m_->Send_to_port(nullptr, 20, 0, 0), 0);
        QVERIFY(fpga()->accesses().empty());
        fpga()->setRecording(false);
    }

    void busyPortIsWrittenAfterTheWait()
    {
        // Pair 0 busy: on the GUI thread the send does not wait at all.
        fpga_manage::MCU_REG_func[0][129] = 0;
        m_->write_fpga_register(129, 0x02, 0, 0x02);
        const Bytes p = packet(0x0001, 0x67, 1, 1, 0x81, {0xFF, 0x00});
        const u32 before = G_timeTicks.load();
        std::vector<Sent> sent = capture([&] { QCOMPARE(m_->Send_to_port(p.data(), u16(p.size()), 0, 0), 1); });
        QCOMPARE(G_timeTicks.load(), before);
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(m_->wait_fpga_send_ready(0, 0), 0);

        // Off the GUI thread it waits for the ready bit, at most 300 ticks.
        std::atomic<int> result{-1};
        std::thread t([&] { result = m_->wait_fpga_send_ready(1, 0); });
        QThread::msleep(20);
        QCOMPARE(result.load(), -1);
        G_timeTicks += 299;
        QThread::msleep(20);
        QCOMPARE(result.load(), -1);
        G_timeTicks += 1;
        t.join();
        QCOMPARE(result.load(), 0);

        std::thread t2([&] { result = m_->wait_fpga_send_ready(0, 0); });
        QThread::msleep(10);
        m_->write_fpga_register(129, 0x00, 0, 0x02);
        t2.join();
        QCOMPARE(result.load(), 1);
        QCOMPARE(m_->wait_fpga_send_ready(16, 0), 0);
    }

    void severalPortsGetThePacketSteered()
    {
        // Links on 0, 1, 3 and 6; cards on 0, 3, 6 and 7 (no link there).
        layout("port 1 cards 2\nport 2 cards 0\nport 4 cards 3\nport 7 cards 1\n");
        setCount(0, 2);
        setCount(3, 3);
        setCount(6, 1);
        setCount(7, 5);
        const Bytes p = packet(0x0FFF, 0x55, 1, 255, 0x61, {0, 0, 0, 0, 4, 0, 0, 0});
        u32 mask = 0;
        std::vector<Sent> sent = capture([&] { mask = m_->multi_port_send(p.data(), u16(p.size())); });
        QCOMPARE(mask, u32(0x49));
        QCOMPARE(int(sent.size()), 3);
        const int ports[3] = {0, 3, 6};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(sent[size_t(i)].port, ports[i]);
            const Bytes& s = sent[size_t(i)].packet;
            QCOMPARE(u8(s[1] & 0x30), u8((ports[i] & 3) << 4));
            QCOMPARE(Utils::BCC(s.data(), unsigned(s.size() - 1)), s.back());
        }
        QCOMPARE(m_->passby_wait.load(), u8(1));
        QCOMPARE(m_->passby_stamp.load(), G_timeTicks.load());
    }

    void multicastMaskPicksThePorts()
    {
        layout("port 1 cards 2\n");
        {
            QMutexLocker lock(&Utils::_fpga_multicast_mutex);
            m_->multicast_mode = 1;
            m_->multicast_mask = 0x105; // only ports 0 to 7 count
        }
        const Bytes p = packet(0x0FFF, 0x55, 1, 255, 0x81, {0xFF, 0x00});
        std::vector<Sent> sent = capture([&] { QCOMPARE(m_->multi_port_send(p.data(), u16(p.size())), u32(0x05)); });
        QCOMPARE(int(sent.size()), 2);
        QCOMPARE(sent[0].port, 0);
        QCOMPARE(sent[1].port, 2);
    }

    void allPortsWhenAllAreUsable()
    {
        QByteArray text;
        for (int p = 1; p <= 16; ++p)
            text += QByteArray("port ") + QByteArray::number(p) + " cards 1\n";
        layout(text);
        for (unsigned p = 0; p < 16; ++p)
            setCount(p, 1);
        QCOMPARE(m_->check_netport_card(0), u16(16));
        const Bytes p = packet(0x0FFF, 0x55, 1, 255, 0x81, {0xFF, 0x00});
        std::vector<Sent> sent = capture([&] { QCOMPARE(m_->multi_port_send(p.data(), u16(p.size())), u32(0xFFFF)); });
        QCOMPARE(int(sent.size()), 16);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(sent[size_t(i)].port, i);
        // With the FPGA down no port is usable.
        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 2;
        sent = capture([&] { QCOMPARE(m_->multi_port_send(p.data(), u16(p.size())), u32(0)); });
        QVERIFY(sent.empty());
    }

    void cardCountsPerPort()
    {
        setCount(4, 300);
        setCount(15, 2);
        QCOMPARE(m_->get_port_card_num(4), u16(300));
        QCOMPARE(m_->get_port_card_num(15), u16(2));
        QCOMPARE(m_->get_port_card_num(16), u16(0));
        QCOMPARE(m_->check_netport_card(0), u16(302));
    }

    // --- acknowledged send ---

    void sureSendPicksOnePortPerPair()
    {
        layout("port 1 cards 2\nport 2 cards 2\n");
        setCount(0, 2);
        setCount(1, 2);
        const Bytes p = packet(0x0FFF, 0x55, 1, 255, 0x39, {0x01});
        std::vector<Sent> sent = capture([&] { QCOMPARE(m_->to_rcv_sure_send(4, u32(p.size()), p.data()), 1); });
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(sent[0].port, 0);
        sent = capture([&] { QCOMPARE(m_->to_rcv_sure_send(6, u32(p.size()), p.data()), 1); });
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(sent[0].port, 1);
        setCount(0, 0);
        sent = capture([&] { m_->to_rcv_sure_send(4, u32(p.size()), p.data()); });
        QCOMPARE(int(sent.size()), 1);
        QCOMPARE(sent[0].port, 1);
    }

    void sureSendReportsTheUnansweredPort()
    {
        G_timeTicks += 100;
        QCOMPARE(m_->to_rcv_sure_send(3, 0, nullptr), 1);
        m_->sure_sent = 0x03;
        m_->sure_answered = 0x02;
        QCOMPARE(m_->to_rcv_sure_send(7, 0, nullptr), 0);
        m_->sure_answered = 0x03;
        QCOMPARE(m_->to_rcv_sure_send(7, 0, nullptr), 9);
        QCOMPARE(m_->to_rcv_sure_send(5, 0, nullptr), 1);
        // A restart comes only 81 ticks after the last stamp.
        QCOMPARE(m_->to_rcv_sure_send(3, 0, nullptr), 0);
        G_timeTicks += 81;
        QCOMPARE(m_->to_rcv_sure_send(3, 0, nullptr), 1);
        QCOMPARE(m_->sure_sent, u32(0));
    }

    void sureSendRetriesASilentCardThenGivesUp()
    {
        layout("port 1 cards 2\nport 3 cards 2\n");
        setCount(0, 2);
        setCount(2, 2);
        cards()->reset();
        cards()->setAnswerDelay(0);
        cards()->setFault(2, SimCards::Fault::Silent);
        G_timeTicks += 100;
        QCOMPARE(m_->to_rcv_sure_send(3, 0, nullptr), 1);
        const Bytes p = packet(0x0FFF, 0x55, 1, 255, 0x39, {0x01});
        QCOMPARE(m_->to_rcv_sure_send(4, u32(p.size()), p.data()), 1);
        QCOMPARE(m_->sure_sent, u32(0x05));
        // Port 0 answers at once; port 2 stays silent.
        m_->reg_IRQ_Dealwith(0, 1);
        QCOMPARE(m_->sure_answered.load(), u32(0x01));
        std::vector<int> results;
        int sends = 1;
        for (int i = 0; i < 200; ++i) {
            const int r = m_->to_rcv_sure_send(7, 0, nullptr);
            results.push_back(r);
            if (r == 2) {
                ++sends;
                m_->to_rcv_sure_send(4, u32(p.size()), p.data());
            }
            if (r == 9)
                break;
        }
        QCOMPARE(results.back(), 9);
        QCOMPARE(sends, 3);
        QCOMPARE(int(std::count(results.begin(), results.end(), 2)), 2);
        QCOMPARE(int(results.size()), 90);
        QCOMPARE(cards()->packets(2), 3u);
        // Once the card is back (the FPGA's queued answers dropped) the
        // same send is acknowledged at once.
        fpga()->powerOn();
        cards()->reset();
        cards()->setAnswerDelay(0);
        G_timeTicks += 100;
        QCOMPARE(m_->to_rcv_sure_send(3, 0, nullptr), 1);
        QCOMPARE(m_->to_rcv_sure_send(4, u32(p.size()), p.data()), 1);
        m_->reg_IRQ_Dealwith(0, 1);
        m_->reg_IRQ_Dealwith(0, 1);
        QCOMPARE(m_->to_rcv_sure_send(7, 0, nullptr), 9);
    }
};

QTEST_GUILESS_MAIN(TestCardsPackets)
#include "test_cards_packets.moc"
