// The smart-mapping wizard's jobs on the simulated cards: positions and RAM
// reset of a route, save to the cards, the mapping switch, their progress
// and their time-outs, one worker pass at a time.
#include <QtTest>

#include <algorithm>
#include <cstring>

#include "cards_fixture.h"
#include "chips/tarvosource.h"
#include "core/zevrampara.h"
#include "ledout/fpga_jobs.h"
#include "ledout/fpga_manage.h"

using board::sim::SimCards;

class TestCardJobs : public QObject
{
    Q_OBJECT

    CardBench bench;
    fpga_manage* m_ = bench.manager();
    std::vector<int> progress_;
    std::vector<fpga_jobs::JobEnd> ends_; // how each job ended, as its page is told

    u32 runJob() { return bench.runJob(20000); }
    // Packets of a group the jobs wrote to the cards, by port.
    static std::vector<std::pair<int, Bytes>> sent(u8 group) { return ::sent(group, 0x67); }
    void setCounts(std::initializer_list<std::pair<int, int>> counts)
    {
        std::memset(para() + 96, 0, 600);
        for (const auto& c : counts)
            setCount(unsigned(c.first), u16(c.second));
    }
    bool progressEndsOnce()
    {
        return !progress_.empty() && progress_.back() == 100 &&
               std::count(progress_.begin(), progress_.end(), 100) == 1;
    }

  private slots:
    void initTestCase()
    {
        tarvosource::p_tarvo_source = new tarvosource();
        fpga_jobs::Hooks h;
        h.smart_mapping_progress = [this](int v) { progress_.push_back(v); };
        h.smart_mapping_end = [this](fpga_jobs::JobEnd e) { ends_.push_back(e); };
        fpga_jobs::install(h);
    }
    void init()
    {
        bench.up(100000, 2);
        tarvosource::p_tarvo_source->source_state = 2;
        progress_.clear();
        ends_.clear();
    }

    void smartMappingPlacesEveryCard()
    {
        layout("port 2 cards 3\n");
        setCounts({{1, 3}});
        setRoute(2, 1, 3, 128, 64, 16, 8, 1); // bottom left, rightwards; 128 x 64 from (16, 8)
        QVERIFY(g_send_para.post(JOB_SMART_MAPPING));
        const u32 took = runJob();
        QCOMPARE(g_send_para.job(), u8(JOB_NONE));
        QVERIFY(took > 200 && took < 400);
        for (int card = 0; card < 3; ++card)
            QCOMPARE(cards()->cardRam(1, unsigned(card), 0x180, 4),
                     std::vector<u8>({u8(16 + 128 * card), u8((16 + 128 * card) >> 8), 8, 0}));
        const auto reset = sent(0xA0);
        QCOMPARE(int(reset.size()), 1);
        QCOMPARE(reset[0].second, withBcc({0xFE, 0x1F, 0x00, 0xF0, 0x10, 0x67, 1, 2, 0, 0xA0, 0x01, 0xFF, 0x01, 0xFF}));
        QCOMPARE(cards()->cardReg(1, 0, 1), u8(0xFF));
        QCOMPARE(progress_, std::vector<int>({25, 50, 75, 90, 100}));
        QVERIFY(ends_ == std::vector<fpga_jobs::JobEnd>{fpga_jobs::JobEnd::Whole});
    }

    void silentCardsAreSkippedWhileTheBarTurns()
    {
        layout("port 1 cards 2\n");
        setCounts({{0, 2}});
        setRoute(4, 1, 2);
        cards()->setFault(0, SimCards::Fault::Silent);
        QVERIFY(g_send_para.post(JOB_SMART_MAPPING));
        const u32 took = runJob();
        QVERIFY(took > 3 * 1200 && took < 3 * 1200 + 300);
        QCOMPARE(int(sent(0x60).size()), 2);
        QVERIFY(progressEndsOnce());
        QVERIFY(ends_ == std::vector<fpga_jobs::JobEnd>{fpga_jobs::JobEnd::Unanswered});
        QCOMPARE(std::count(progress_.begin(), progress_.end(), 11), 3l); // turning once a second
        QVERIFY(std::all_of(progress_.begin(), progress_.end() - 1, [](int v) { return v >= 0 && v < 100; }));
        for (size_t i = 1; i < progress_.size(); ++i)
            QVERIFY(progress_[i] != progress_[i - 1]);
    }

    void portWithoutCardsEndsAtOnce()
    {
        setCounts({});
        line_type.port = 4;
        QVERIFY(g_send_para.post(JOB_SMART_MAPPING));
        runJob();
        QVERIFY(sent(0x60).empty());
        QCOMPARE(progress_, std::vector<int>({90, 100}));
    }

    // Host frames while a job waits hold it (nothing moves, nothing is
    // sent) and extend the wait by the host's activity plus 0.8 s, burst by
    // burst: never restarted, so a PC polling every 10 s does not keep a
    // 12-s wait from ending.
    void hostTrafficExtendsTheWait_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("gap");
        QTest::addColumn<int>("frames");
        QTest::newRow("position ack, frames every 1 s for 30 s") << int(JOB_SMART_MAPPING) << 3 << 100 << 30;
        QTest::newRow("position ack, a PC polling every 10 s") << int(JOB_SMART_MAPPING) << 3 << 1000 << 1000;
        QTest::newRow("save ack of 3 cards, frames every 0.5 s") << int(JOB_SAVE_TO_CARDS) << 3 << 50 << 40;
        QTest::newRow("end step's 2 s, frames every 0.3 s") << int(JOB_SAVE_TO_CARDS) << 9 << 30 << 10;
    }
    void hostTrafficExtendsTheWait()
    {
        QFETCH(int, job);
        QFETCH(int, step);
        QFETCH(int, gap);
        QFETCH(int, frames);
        auto wait = [&](u32 sent) {
            bench.up(100000, 2);
            layout("port 1 cards 3\n");
            setCounts({{0, step == 9 ? 0 : 3}});
            setRoute(4, 1, 3);
            cards()->setFault(0, SimCards::Fault::Silent);
            [&] { QVERIFY(g_send_para.post(u8(job))); }();
            return bench.waitThrough(CardBench::state(u8(job), u8(step)), u32(gap), sent);
        };
        const CardBench::Wait plain = wait(0), held = wait(u32(frames));
        QVERIFY(plain.ticks > 200);
        QVERIFY(held.frames > 1);
        QVERIFY(held.still);
        QCOMPARE(held.ticks, plain.ticks + held.held);
    }

    // 65,535 silent cards counted on a port would hold a job for days: 10
    // minutes from its first pass, host pauses included, it ends as when
    // its last card never answered.
    void jobsEndAtTheBound_data()
    {
        QTest::addColumn<int>("job");
        QTest::newRow("smart mapping") << int(JOB_SMART_MAPPING);
        QTest::newRow("save") << int(JOB_SAVE_TO_CARDS);
    }
    void jobsEndAtTheBound()
    {
        QFETCH(int, job);
        layout("port 1 cards 1\n");
        setCounts({{0, 65535}});
        setRoute(4, 255, 255);
        cards()->setFault(0, SimCards::Fault::Silent);
        QVERIFY(g_send_para.post(u8(job)));
        const auto [running, past] = bench.runToBound();
        QVERIFY(running);
        QVERIFY(past > 200 && past < 210);
        QVERIFY(progressEndsOnce());
        QVERIFY(ends_ == std::vector<fpga_jobs::JobEnd>{fpga_jobs::JobEnd::Cut});
        QCOMPARE(progress_[progress_.size() - 2], job == JOB_SMART_MAPPING ? 90 : 95);
    }

    void saveGoesToEveryPortWithCards()
    {
        layout("port 1 cards 2\nport 6 cards 1\n");
        setCounts({{0, 2}, {5, 1}});
        QVERIFY(g_send_para.post(JOB_SAVE_TO_CARDS));
        runJob();
        const auto saves = sent(0x81);
        QCOMPARE(int(saves.size()), 2);
        QCOMPARE(saves[0].first, 0);
        QCOMPARE(saves[1].first, 5);
        QCOMPARE(cards()->cardSaves(0, 0), 1u);
        QCOMPARE(cards()->cardSaves(0, 1), 1u);
        QCOMPARE(cards()->cardSaves(5, 0), 1u);
        QCOMPARE(progress_, std::vector<int>({0, 29, 95, 100}));
    }

    void mappingSwitch_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("on") << 9;
        QTest::newRow("off") << 0;
    }
    void mappingSwitch()
    {
        QFETCH(int, state);
        layout("port 3 cards 2\nport 16 cards 1\n");
        setCounts({{2, 2}, {15, 1}});
        g_send_para.mapping_state = u32(state);
        QVERIFY(g_send_para.post(JOB_MAPPING_SWITCH));
        runJob();
        const auto sw = sent(0xA0);
        QCOMPARE(int(sw.size()), 2);
        QCOMPARE(Bytes(sw[0].second.begin() + 10, sw[0].second.begin() + 14), Bytes({3, 0x0F, 1, u8(state)}));
        QCOMPARE(cards()->cardReg(2, 1, 3) & 0x0F, state);
        QCOMPARE(cards()->cardReg(15, 0, 3) & 0x0F, state);
        QVERIFY(progressEndsOnce());
    }
};

QTEST_MAIN(TestCardJobs)
#include "test_card_jobs.moc"
