// The idle card search: which ports each pass searches, the card counts
// kept from the answers, link changes, host pauses, and the V-by-One watch,
// on the simulated FPGA and its cards.
#include <QtTest>

#include <cstring>

#include "cards_fixture.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"

using board::sim::SimCards;

class TestCardSearch : public QObject
{
    Q_OBJECT

    CardBench bench;
    fpga_manage* m_ = bench.manager();

    // One idle turn 0.8 s after the last, then the answers taken in.
    void pass()
    {
        G_timeTicks += 80;
        m_->Check_search_card();
        for (int i = 0; i < 4; ++i) {
            FpgaServiceLock lock(m_);
            m_->reg_IRQ_Dealwith(0, 0);
        }
    }
    // Ports that received a search command since the last reset, in order.
    std::vector<int> searched()
    {
        std::vector<int> out;
        for (const auto& r : cards()->received())
            if (r.second.size() == 30 && r.second[9] == 0x10)
                out.push_back(r.first);
        cards()->reset();
        cards()->setAnswerDelay(0);
        return out;
    }

  private slots:
    void init()
    {
        bench.up(1000, 0);
        m_->vbo_err[0] = 0;
        g_change.vbo_watch_stamp[0] = G_timeTicks.load();
        m_->search_answer = 0;
        m_->search_port_mask = 0;
    }

    void pairsAlternateBetweenTheirPorts()
    {
        layout("port 1 cards 3\nport 2 cards 4\nport 4 cards 1\nport 9 cards 2\n");
        std::vector<std::vector<int>> seen;
        for (int i = 0; i < 3; ++i) {
            pass();
            seen.push_back(searched());
        }
        // Pair 0 turns between ports 0 and 1; pairs 1 and 4 have one port.
        const bool oddFirst = seen[0][0] == 1;
        for (int i = 0; i < 3; ++i) {
            const int first = (i % 2 == 0) == oddFirst ? 1 : 0;
            QCOMPARE(seen[size_t(i)], std::vector<int>({first, 3, 8}));
        }
    }

    void countsFollowTheAnswersAndTheLinks()
    {
        layout("port 1 cards 8\nport 3 cards 2\nport 4 cards 5\n");
        pass();
        pass();
        pass();
        QCOMPARE(m_->get_port_card_num(0), u16(8));
        QCOMPARE(m_->get_port_card_num(2), u16(2));
        QCOMPARE(m_->get_port_card_num(3), u16(5));
        QCOMPARE(m_->search_card_total.load(), u16(15));

        // Port 3's cards stop answering: cleared by the pass after the one
        // that found no answer; port 1 keeps its record.
        cards()->setFault(2, SimCards::Fault::Silent);
        cards()->setFault(3, SimCards::Fault::Silent);
        pass();
        pass();
        pass();
        QCOMPARE(m_->get_port_card_num(2), u16(0));
        QCOMPARE(m_->get_port_card_num(3), u16(0));
        QCOMPARE(m_->get_port_card_num(0), u16(8));
        QCOMPARE(fpga()->ram(1, 100, 15), std::vector<u8>(para() + 100, para() + 115));
        cards()->clearFaults();

        // All links down: no pass, the counts and the total stay.
        const u16 total = m_->search_card_total.load();
        fpga()->setLinks(0);
        pass();
        searched();
        pass();
        QVERIFY(searched().empty());
        QCOMPARE(m_->search_card_total.load(), total);

        // A port that comes up is searched and counted.
        layout("port 1 cards 8\nport 7 cards 6\n");
        pass();
        pass();
        QCOMPARE(m_->get_port_card_num(6), u16(6));
        pass();
        QCOMPARE(m_->search_card_total.load(), u16(14));
    }

    void hostTrafficHoldsTheSearchBack()
    {
        layout("port 1 cards 1\n");
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        for (int i = 0; i < 5; ++i) {
            G_timeTicks += 10;
            m_->Check_search_card();
            pc_cmd_time = G_timeTicks.load(); // a frame every 0.1 s
        }
        QVERIFY(searched().empty());
        G_timeTicks += 81;
        m_->Check_search_card();
        QCOMPARE(pc_cmd_valid.load(), u8(0));
        pass();
        const auto after = searched();
        QCOMPARE(int(after.size()), 1);
        QCOMPARE(after[0], 0);
    }

    void searchCommandLayout()
    {
        layout("port 6 cards 1\n");
        m_->check_error_rcv_search_card_cmd(5, 0, 0x11223344, 0, 1);
        const auto r = cards()->received();
        QCOMPARE(int(r.size()), 1);
        QCOMPARE(r[0].first, 5);
        Bytes want = {0xFE, 0x1F, 0x00, 0xF0, 0x10, 0xAA, 0xFF, 6,    0, 0x10, 0, 0, 0, 0, 0,
                      0,    1,    0x44, 0x33, 0x22, 0x11, 0xFF, 0x00, 0, 0,    0, 0, 0, 0};
        QCOMPARE(r[0].second, withBcc(want));
    }

    void portPastTheFpgaTouchesNothing()
    {
        fpga()->setRecording(true);
        fpga()->clearAccesses();
        m_->check_error_rcv_search_card_cmd(16, 0, 0, 0, 0);
        m_->check_error_rcv_search_card_cmd(3, 1, 0, 0, 0);
        QVERIFY(fpga()->accesses().empty());
        fpga()->setRecording(false);
        QVERIFY(cards()->received().empty());
    }

    void vboWatchRestartsALostLink()
    {
        layout("port 1 cards 1\n");
        fpga()->setVboNeverLocks(true);
        G_timeTicks += 10;
        QCOMPARE(m_->check_vbo_status(0), u8(1));
        QCOMPARE(fpga()->reg(3) & 0xC0, 0x00);
        G_timeTicks += 10;
        m_->check_vbo_status(0);
        QCOMPARE(fpga()->reg(3) & 0xC0, 0x40);
        // Within 10 ticks of the last watch nothing is read.
        QCOMPARE(m_->check_vbo_status(0), u8(1));
        QCOMPARE(m_->vbo_poll[0], u16(0));
        for (int i = 0; i < 999; ++i) {
            G_timeTicks += 10;
            QCOMPARE(m_->check_vbo_status(0), u8(1));
        }
        G_timeTicks += 10;
        QCOMPARE(m_->check_vbo_status(0), u8(0)); // released after 1000 polls
        QCOMPARE(fpga()->reg(3) & 0x80, 0x80);
        fpga()->setVboNeverLocks(false);
        G_timeTicks += 10;
        QCOMPARE(m_->check_vbo_status(0), u8(0));
    }
};

QTEST_MAIN(TestCardSearch)
#include "test_card_search.moc"
