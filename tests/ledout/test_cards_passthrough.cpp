// The interrupt service and the PC pass-through on the simulated FPGA and its
// cards: frames forwarded, answers classified, merged and queued on the
// marked link, and every injected card fault handled without a hang.
#include <QtTest>

#include <cstring>
#include <vector>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "cards_fixture.h"
#include "ledout/fpga_manage.h"
#include "link/protocol_phy.h"
#include "link/uart_config.h"

using board::sim::SimCards;
using board::sim::SimFpga;

namespace
{
// A PC frame body for the cards, BCC included.
Bytes pcFrame(u16 dest, u8 route, u8 portByte, u8 group, const Bytes& data, u8 code = 0x55)
{
    Bytes b = {u8(dest), u8(dest >> 8), 0x10, 0xF0, 0x04, code, route, portByte, 0x00, group};
    b.insert(b.end(), data.begin(), data.end());
    return withBcc(b);
}

Bytes unescape(const Bytes& wire)
{
    Bytes out(wire.size());
    u8 end = 0;
    const int n = protocol_phy::data_transf_meaning(wire.data(), out.data(), int(wire.size()), &end, int(out.size()));
    out.resize(size_t(n));
    return out;
}

u16 get16(const Bytes& b, size_t at)
{
    return u16(b[at] | b[at + 1] << 8);
}
} // namespace

class TestCardsPassthrough : public QObject
{
    Q_OBJECT

    CardBench bench;
    fpga_manage* m_ = bench.manager();
    link_send_list* list_ = nullptr;
    passby_link* link_ = nullptr;

    u16 count(unsigned port) { return ZevRamPara::get16(para(), FpgaCards::kCountAt[port]); }

    // One worker interrupt pass under the service lock, a tick later.
    void service(u32 ticks = 1)
    {
        G_timeTicks += ticks;
        cards()->poll();
        FpgaServiceLock lock(m_);
        m_->reg_IRQ_Dealwith(0, 0);
    }
    // Learns the card counts the way the worker does: a search on each port.
    void search(std::initializer_list<unsigned> ports)
    {
        for (unsigned p : ports) {
            u8 b[64];
            const u8 data[20] = {};
            int n = fpga_manage::load_search_rxc_cmd_create(u8(p), data, sizeof data, b);
            b[0] = u8(FpgaCards::kFirstCards | ((p & 3) << 12));
            b[1] = u8((FpgaCards::kFirstCards | ((p & 3) << 12)) >> 8);
            b[n - 1] = Utils::BCC(b, unsigned(n - 1));
            m_->Send_to_port(b, u16(n), u16(p), 0);
        }
        for (int i = 0; i < 40; ++i)
            service();
    }
    bool start(const Bytes& frame)
    {
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        Bytes body = frame;
        return link_->start(body.data(), int(body.size()), link_reply()) == passby_link::outcome::waiting;
    }
    // Turns of the link's wait, one tick apart, until it ends.
    int wait(int maxTicks = 400)
    {
        int t = 0;
        while (link_->turn() && t < maxTicks) {
            G_timeTicks += 1;
            ++t;
        }
        return t;
    }
    Bytes answer()
    {
        link_reply r;
        if (!list_->pop(r))
            return {};
        return unescape(r.wire);
    }

  private slots:
    void initTestCase()
    {
        list_ = new link_send_list();
        link_ = new passby_link(PASSBY_SERIAL, *list_);
    }
    void init()
    {
        bench.up(10000, 1);
        g_passby_trans_port = PASSBY_NONE;
        m_->passby_wait = 0;
        m_->multicast_active = 0;
        g_send_para.answer_flag = 0;
        link_reply r;
        while (list_->pop(r)) {
        }
        layout("port 1 cards 4 config 0x11223344 check 7\nport 2 cards 3\nport 3 cards 2\nport 4 cards 5\n"
               "multifunction 2 light 99\n");
        // The first service installs the card side for the links.
        service();
        QVERIFY(passby::installed());
    }

    void searchAnswersStoreCardCounts()
    {
        search({0, 1, 2, 3});
        QCOMPARE(count(0), u16(4));
        QCOMPARE(count(1), u16(3));
        QCOMPARE(count(2), u16(2));
        QCOMPARE(count(3), u16(5));
        QCOMPARE(para()[FpgaCards::kStatusAt[1]], u8(1)); // the multifunction card's port
        QCOMPARE(fpga()->ram(1, 100, 15), Bytes(para() + 100, para() + 115));
        QCOMPARE(m_->search_answer.load() & 0x03u, 0x03u);
    }

    void configIdSetsTheCheckStatus()
    {
        g_send_para.check_status = 0xFFFF;
        m_->check_config_id = 0x11223344;
        m_->check_config_armed = 1;
        search({0, 1});
        QCOMPARE(g_send_para.check_status.load(), u16(7));
        // A search answer too short to carry the id leaves the status alone.
        g_send_para.check_status = 0xFFFF;
        Bytes shortAnswer = withBcc({0x00, 0xF0, 0x00, 0x00, 0x10, 0xAA, 0xFF, 1, 0, 0x10, 0, 9, 0, 0, 0x44, 0x33});
        fpga()->placeAnswer(0, shortAnswer.data(), shortAnswer.size());
        service();
        QCOMPARE(count(0), u16(9));
        QCOMPARE(g_send_para.check_status.load(), u16(0xFFFF));
        m_->check_config_armed = 0;
    }

    void portByteOutsideThePortsNeverIndexesTheTables()
    {
        // Port byte 200 on slot 1: the port comes from the slot (ports 1 to
        // 4) and the source's port bits.
        Bytes a = withBcc({0x00, 0xF0, 0x00, 0x30, 0x10, 0xAA, 0xFF, 200, 0, 0x10, 0, 6, 0, 0});
        fpga()->placeAnswer(1, a.data(), a.size());
        service();
        QCOMPARE(count(3), u16(6));
        for (unsigned p = 0; p < 16; ++p)
            if (p != 3)
                QCOMPARE(count(p), u16(0));
    }

    void frameToOnePortIsAnsweredOnTheMarkedLink()
    {
        search({0, 1});
        cards()->reset();
        // Read 4 bytes of card 2's RAM on port 2 after writing them.
        QVERIFY(start(pcFrame(0x0002, 1, 2, 0x60, {0x10, 0, 0, 0, 4, 0, 0, 0, 0xA1, 0xB2, 0xC3, 0xD4})));
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_SERIAL));
        wait();
        Bytes a = answer();
        QCOMPARE(a.size(), size_t(12));
        QCOMPARE(cards()->cardRam(1, 2, 0x10, 4), Bytes({0xA1, 0xB2, 0xC3, 0xD4}));
        QVERIFY(start(pcFrame(0x0002, 1, 2, 0x61, {0x10, 0, 0, 0, 4, 0, 0, 0})));
        const int ticks = wait();
        QVERIFY(ticks <= 3);
        a = answer();
        QCOMPARE(a.size(), size_t(16));
        QCOMPARE(get16(a, 0), u16(0xF010));
        QCOMPARE(get16(a, 2), u16(0x0002)); // port bits cleared
        QCOMPARE(a[7], u8(2));
        QCOMPARE(a[10], u8(0));
        QCOMPARE(Bytes(a.begin() + 11, a.begin() + 15), Bytes({0xA1, 0xB2, 0xC3, 0xD4}));
        QCOMPARE(Utils::BCC(a.data(), unsigned(a.size() - 1)), a.back());
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_NONE));
        QCOMPARE(list_->size(), size_t(0));
        // The frame went out on port 2 (index 1) with its port bits.
        auto rx = cards()->received();
        QCOMPARE(rx.back().first, 1);
        QCOMPARE(u8(rx.back().second[1] & 0x30), u8(0x10));
    }

    void portFromTheDestinationGetsItsNumberInTheAnswer()
    {
        QVERIFY(start(pcFrame(0x3001, 1, 0, 0x81, {0xFF, 0x00})));
        wait();
        const Bytes a = answer();
        QVERIFY(!a.empty());
        QCOMPARE(a[7], u8(4)); // port 3, numbered from 1
        QCOMPARE(get16(a, 0), u16(0xF010));
        QCOMPARE(u8(a[3] & 0x30), u8(0));
        QCOMPARE(Utils::BCC(a.data(), unsigned(a.size() - 1)), a.back());
    }

    void framesRefusedOrDropped()
    {
        // 1023 bytes are forwarded, 1024 are not.
        Bytes big(1013, 0x00);
        Bytes f1023 = pcFrame(0x0000, 0, 1, 0x39, big);
        QCOMPARE(f1023.size(), size_t(1024));
        f1023.erase(f1023.begin() + 10);
        f1023.back() = Utils::BCC(f1023.data(), unsigned(f1023.size() - 1));
        QCOMPARE(f1023.size(), size_t(1023));
        const Bytes f1024 = pcFrame(0x0000, 0, 1, 0x39, big);
        FpgaServiceLock lock(m_);
        cards()->reset();
        QCOMPARE(m_->Dealwith1_PC_to_eth(unsigned(f1024.size()), Bytes(f1024).data()), 1);
        QCOMPARE(cards()->received().size(), size_t(0));
        QCOMPARE(m_->Dealwith1_PC_to_eth(unsigned(f1023.size()), Bytes(f1023).data()), 1);
        QCOMPARE(cards()->received().size(), size_t(1));
        QCOMPARE(cards()->received()[0].second.size(), size_t(1023));
        cards()->reset();
        const Bytes tiny = withBcc({0x01, 0x00, 0x10, 0xF0, 0, 0, 0, 1, 0});
        QCOMPARE(m_->Dealwith1_PC_to_eth(unsigned(tiny.size()), Bytes(tiny).data()), 1);
        const Bytes route2 = pcFrame(0x0001, 2, 1, 0x81, {0xFF, 0});
        m_->Dealwith1_PC_to_eth(unsigned(route2.size()), Bytes(route2).data());
        const Bytes port17 = pcFrame(0x0001, 0, 17, 0x81, {0xFF, 0});
        m_->Dealwith1_PC_to_eth(unsigned(port17.size()), Bytes(port17).data());
        const Bytes port20 = pcFrame(0x0001, 1, 20, 0x81, {0xFF, 0});
        m_->Dealwith1_PC_to_eth(unsigned(port20.size()), Bytes(port20).data());
        QCOMPARE(cards()->received().size(), size_t(0));
        // Route 0 with port byte 0 goes unchanged to port 0.
        const Bytes route0 = pcFrame(0x3001, 0, 0, 0x81, {0xFF, 0});
        m_->Dealwith1_PC_to_eth(unsigned(route0.size()), Bytes(route0).data());
        QCOMPARE(cards()->received().size(), size_t(1));
        QCOMPARE(cards()->received()[0].first, 0);
        QCOMPARE(cards()->received()[0].second, route0);
    }

    void multicastAnswersMergeIntoOne()
    {
        search({0, 1, 2, 3});
        cards()->reset();
        cards()->setAnswerDelay(1);
        QVERIFY(start(pcFrame(0x0FFF, 1, 255, 0x81, {0xFF, 0x00}, 0x77)));
        QCOMPARE(m_->passby_sent, u32(0x0F));
        // Answers one at a time: nothing queued until the fourth.
        int served = 0;
        while (list_->size() == 0 && served < 50) {
            service();
            ++served;
            if (list_->size() == 0)
                QVERIFY(m_->passby_wait.load() == 1);
        }
        QCOMPARE(list_->size(), size_t(1));
        QCOMPARE(__builtin_popcount(m_->passby_answered), 4);
        const Bytes a = answer();
        QCOMPARE(get16(a, 0), u16(0xF010));
        QCOMPARE(get16(a, 2) & 0x0FFF, 0x0FFF);
        QCOMPARE(a[7], u8(255));
        QCOMPARE(Utils::BCC(a.data(), unsigned(a.size() - 1)), a.back());
        QCOMPARE(m_->passby_wait.load(), u8(0));
        for (int i = 0; i < 10; ++i)
            service();
        QCOMPARE(list_->size(), size_t(0));
        QVERIFY(!link_->turn());
    }

    void strayPortDoesNotHoldTheMergedAnswer()
    {
        search({0, 1});
        layout("port 1 cards 4\nport 2 cards 3\n");
        cards()->reset();
        cards()->setAnswerDelay(5);
        QVERIFY(start(pcFrame(0x0FFE, 1, 255, 0x81, {0xFF, 0x00}, 0x77)));
        QCOMPARE(m_->passby_sent, u32(0x03));
        // An answer from port 9, where nothing was sent, comes first.
        Bytes stray = withBcc({0x10, 0xF0, 0x00, 0x10, 0x04, 0x77, 1, 255, 0, 0x81, 0});
        fpga()->placeAnswer(4, stray.data(), stray.size());
        for (int i = 0; i < 20 && list_->size() == 0; ++i)
            service();
        QCOMPARE(list_->size(), size_t(1));
        const Bytes a = answer();
        QCOMPARE(get16(a, 2) & 0x0FFF, 0x0FFE);
    }

    void silentPortEndsTheWaitWithoutAnswer()
    {
        search({0, 1, 2});
        cards()->reset();
        cards()->setFault(2, SimCards::Fault::Silent);
        QVERIFY(start(pcFrame(0x0FFF, 1, 255, 0x81, {0xFF, 0x00}, 0x77)));
        const int ticks = wait(1000);
        QCOMPARE(ticks, int(kPassbyGiveUpTicks));
        QCOMPARE(list_->size(), size_t(0));
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_NONE));
    }

    void badCheckByteIsAcknowledgedAndDropped()
    {
        cards()->setFault(0, SimCards::Fault::BadCheck);
        QVERIFY(start(pcFrame(0x0001, 1, 1, 0x81, {0xFF, 0x00})));
        wait(1000);
        QCOMPARE(list_->size(), size_t(0));
        QCOMPARE(fpga()->reg(129) & 0x01, 0);
    }

    void shortAnswerIsAcknowledgedAndDropped()
    {
        cards()->setFault(0, SimCards::Fault::Short);
        QVERIFY(start(pcFrame(0x0001, 1, 1, 0x81, {0xFF, 0x00})));
        wait(1000);
        QCOMPARE(list_->size(), size_t(0));
        QCOMPARE(fpga()->reg(129) & 0x01, 0);
        // A search answer that short never reaches the card records.
        cards()->reset();
        cards()->setAnswerDelay(0);
        cards()->setFault(1, SimCards::Fault::Short);
        search({1});
        QCOMPARE(count(1), u16(0));
    }

    void delayedAnswerWithinTheWaitArrives()
    {
        cards()->setFault(0, SimCards::Fault::Delayed, 150);
        QVERIFY(start(pcFrame(0x0001, 1, 1, 0x81, {0xFF, 0x00})));
        const int ticks = wait(1000);
        QVERIFY(ticks >= 150 && ticks < int(kPassbyGiveUpTicks));
        QCOMPARE(list_->size(), size_t(1));
    }

    void lateAnswerIsDropped()
    {
        // Due exactly when the link gives up: the service finds it in the
        // link's last turn, but the link has stopped waiting for it.
        cards()->setFault(0, SimCards::Fault::Delayed, kPassbyGiveUpTicks - 1);
        QVERIFY(start(pcFrame(0x0001, 1, 1, 0x81, {0xFF, 0x00})));
        wait(1000);
        QCOMPARE(list_->size(), size_t(0));
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_NONE));
        for (int i = 0; i < 20; ++i)
            service();
        QCOMPARE(list_->size(), size_t(0));
    }

    void twoPagesAreServedOnePerPass()
    {
        const Bytes a1 = withBcc({0x00, 0xF0, 0x01, 0x00, 0x10, 0x67, 1, 1, 0, 0x81, 0});
        const Bytes a2 = withBcc({0x00, 0xF0, 0x01, 0x00, 0x10, 0x67, 1, 9, 0, 0x81, 0});
        fpga()->placeAnswer(0, a1.data(), a1.size());
        fpga()->placeAnswer(4, a2.data(), a2.size());
        service();
        QCOMPARE(fpga()->reg(129) & 0x01, 0);
        QCOMPARE(fpga()->reg(145) & 0x01, 0x01);
        QCOMPARE(g_send_para.answer_flag.load(), u8(1));
        g_send_para.answer_flag = 0;
        service();
        QCOMPARE(fpga()->reg(145) & 0x01, 0);
        QCOMPARE(g_send_para.answer_flag.load(), u8(1));
        QCOMPARE(list_->size(), size_t(0)); // job acknowledgements stop here
    }

    void multifunctionAnswerIsHeld()
    {
        search({1});
        // The brightness read of the multifunction card on port 2.
        Bytes q = {0x00, 0x50, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61, 0x00, 0x00, 0x00, 0x02, 0x80, 0, 0, 0};
        q = withBcc(q);
        m_->vmf_answer_flag = 0;
        m_->Send_to_port(q.data(), u16(q.size()), 1, 0);
        for (int i = 0; i < 5; ++i)
            service();
        QCOMPARE(m_->vmf_answer_flag.load(), u8(1));
        QCOMPARE(m_->vmf_answer_group, u8(0x61));
        QCOMPARE(m_->vmf_answer[0], u8(0)); // status
        QCOMPARE(m_->vmf_answer[1 + 49], u8(0xFF));
        QCOMPARE(m_->vmf_answer[1 + 53], u8(99));
        QCOMPARE(list_->size(), size_t(0));
    }

    void taskRunServesTheInterrupt()
    {
        const Bytes a = withBcc({0x00, 0xF0, 0x01, 0x00, 0x10, 0x67, 1, 1, 0, 0x81, 0});
        fpga()->placeAnswer(0, a.data(), a.size());
        m_->Brightness_task_run();
        QCOMPARE(g_send_para.answer_flag.load(), u8(1));
        QCOMPARE(fpga()->reg(129) & 0x01, 0);
    }

    void inputCheckOutOfRangeMarksTheFpgaDown()
    {
        fpga()->setInputCheck(10);
        m_->write_fpga_register(22, 0x40, 0, 0x40);
        {
            FpgaServiceLock lock(m_);
            m_->reg_IRQ_Dealwith(0, 1);
        }
        QCOMPARE(fpga_manage::MCU_REG_func[0][FpgaReg::kState], u8(0));
        QCOMPARE(fpga()->reg(22) & 0x60, 0);
        // While the FPGA is down nothing is serviced.
        const Bytes a1 = withBcc({0x00, 0xF0, 0x01, 0x00, 0x10, 0x67, 1, 1, 0, 0x81, 0});
        fpga()->placeAnswer(0, a1.data(), a1.size());
        service();
        QCOMPARE(fpga()->reg(129) & 0x01, 0x01);
        fpga()->setInputCheck(36);
    }
};

QTEST_GUILESS_MAIN(TestCardsPassthrough)
#include "test_cards_passthrough.moc"
