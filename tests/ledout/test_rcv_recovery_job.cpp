// The check, recovery and scan-parameter load job on the simulated cards,
// with record files built byte by byte: the card found by the check, the
// recovery replaying its operations, the scan-parameter replay, and the
// files and operations that must end the job cleanly.
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cstring>

#include "cards_fixture.h"
#include "chips/tarvosource.h"
#include "core/zevrampara.h"
#include "ledout/fpga_jobs.h"
#include "ledout/fpga_manage.h"
#include "ledout/rcv_recovery_file.h"
#include "rcv_files.h"
#include "support/read_faults.h"

using board::sim::SimCards;

namespace
{
RcvOp op(uint8_t type, uint8_t target, uint32_t addr, FileBytes data, uint32_t ticks = 200)
{
    return RcvOp{type, target, addr, ticks, std::move(data)};
}
constexpr uint32_t kForever = 0xFFFFFFFF;

FileBytes pattern(size_t n, uint8_t seed)
{
    FileBytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7);
    return b;
}
} // namespace

class TestRcvRecoveryJob : public QObject
{
    Q_OBJECT

    CardBench bench;
    fpga_manage* m_ = bench.manager();
    std::vector<int> smart_, recovery_;
    std::vector<fpga_jobs::JobEnd> ends_; // how each job ended, as its page is told
    QStringList lines_;
    bool pageOpen_ = true;
    int silentPort_ = -1;

    void write(const QString& path, const FileBytes& b)
    {
        QVERIFY(writeHostFile(bench.sim().hostQ(path.toStdString()),
                              QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()))));
    }
    bool post(u8 job)
    {
        smart_.clear();
        ends_.clear();
        recovery_.clear();
        cards()->reset();
        cards()->setAnswerDelay(3);
        if (silentPort_ >= 0)
            cards()->setFault(unsigned(silentPort_), SimCards::Fault::Silent);
        return g_send_para.post(job);
    }
    u32 runJob(u8 job, u32 maxTicks = 60000) { return post(job) ? bench.runJob(maxTicks) : 0; }
    static bool endsOnceWith100(const std::vector<int>& p)
    {
        if (p.empty() || p.back() != 100 || std::count(p.begin(), p.end(), 100) != 1)
            return false;
        for (size_t i = 1; i < p.size(); ++i)
            if (p[i] == p[i - 1])
                return false;
        return true;
    }

    // Screen 1 on LED ports 0, 1, 2, screen 2 on 3, 4, 5; card 4 of LED
    // port 1 carries a RAM write, a register write and a save.
    std::vector<RcvScreen> screens()
    {
        std::vector<std::vector<RcvOp>> port1(8);
        port1[4] = {op(1, 1, 0x200, pattern(1500, 3)), op(1, 2, 0, {0x05, 0xFF, 0x00, 0x5A}), op(2, 3, 0, {})};
        RcvScreen a{0x1001, {{0, {{}, {}}}, {1, port1}, {2, {{}}}}, {op(1, 1, 0x40, {0xC0, 0xC1, 0xC2})}};
        RcvScreen b{0x2002, {{3, {{}}}, {4, {{}}}, {5, {{}}}}, {}};
        return {a, b};
    }
    // The scan-parameter load's file, on LED port 0 with its cards counted.
    void scanOn(int cards, const FileBytes& f)
    {
        layout("port 1 cards " + QByteArray::number(cards) + "\n");
        setCount(0, cards);
        line_type.port = 0;
        write("/data/smartmapping/x.scan", f);
        g_kqfile_name.set("/data/smartmapping/x.scan");
    }
    // The screens' pack, after the check found card 4 of LED port 1.
    std::vector<RcvScreen> checkedScreens()
    {
        layout("port 1 cards 2 config 0x1001\nport 2 cards 8 config 0x1001 check 4\n");
        write("/data/rcvrecovery/screen.pack", recoveryPack(screens()));
        runJob(JOB_RCV_CHECK);
        return screens();
    }

  private slots:
    void initTestCase()
    {
        tarvosource::p_tarvo_source = new tarvosource();
        fpga_jobs::Hooks h;
        h.smart_mapping_progress = [this](int v) { smart_.push_back(v); };
        h.recovery_progress = [this](int v) { recovery_.push_back(v); };
        h.smart_mapping_end = h.recovery_end = [this](fpga_jobs::JobEnd e) { ends_.push_back(e); };
        h.recovery_page_open = [this] { return pageOpen_; };
        h.recovery_results = [this](const QStringList& l, u8) { lines_ = l; };
        fpga_jobs::install(h);
    }
    void init()
    {
        bench.up(100000, 1);
        tarvosource::p_tarvo_source->source_state = 2;
        pageOpen_ = true;
        QDir(bench.sim().hostQ("/data/rcvrecovery")).removeRecursively();
        QDir(bench.sim().hostQ("/data/smartmapping")).removeRecursively();
        QDir(bench.sim().hostQ("/mnt/usb1")).removeRecursively();
    }

    void checkWithNothingLost()
    {
        layout("port 1 cards 2 config 0x1001\nport 2 cards 8 config 0x1001\nport 3 cards 1 config 0x1001\n"
               "port 4 cards 1 config 0x2002\nport 5 cards 1 config 0x2002\nport 6 cards 1 config 0x2002\n");
        write("/data/rcvrecovery/screen.pack", recoveryPack(screens()));
        lines_ = QStringList({"old"});
        runJob(JOB_RCV_CHECK);
        const auto searches = sent(0x10);
        QCOMPARE(int(searches.size()), 6);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(searches[size_t(i)].first, i);
            QCOMPARE(int(searches[size_t(i)].second[16]), 1);
        }
        QCOMPARE(lines_, QStringList({"old"})); // no result line
        QVERIFY(endsOnceWith100(recovery_));
        QVERIFY(ends_ == std::vector<fpga_jobs::JobEnd>{fpga_jobs::JobEnd::Whole});
        QVERIFY(smart_.empty());
    }

    void checkFindsTheCardAndRecoveryReplaysIt()
    {
        layout("port 1 cards 2 config 0x1001\nport 2 cards 8 config 0x1001 check 4\nport 3 cards 1 config 0x1001\n");
        write("/data/rcvrecovery/screen.pack", recoveryPack(screens()));
        // What an install cut short by a power loss leaves: not a record file.
        write("/data/rcvrecovery/.screen.pack.part", {1, 2, 3});
        QSignalSpy spy(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
        runJob(JOB_RCV_CHECK);
        QCOMPARE(int(sent(0x10).size()), 2); // stops at LED port 1
        QCOMPARE(lines_, QStringList({"01/02/05/08"}));
        QCOMPARE(fpga_jobs::result_flag(), u8(1));
        QCOMPARE(int(m_->rcv_card), 4);
        QVERIFY(spy.count() >= 1);
        QCOMPARE(spy.last().at(0).toInt(), 1);

        runJob(JOB_RCV_RECOVERY);
        // Parameter operations first, then the card's own, all to card 4.
        QCOMPARE(cards()->cardRam(1, 4, 0x40, 3), Bytes({0xC0, 0xC1, 0xC2}));
        QCOMPARE(cards()->cardRam(1, 4, 0x200, 1500), pattern(1500, 3));
        QCOMPARE(cards()->cardReg(1, 4, 0x05), u8(0x5A));
        QCOMPARE(cards()->cardSaves(1, 4), 1u);
        QCOMPARE(cards()->cardRam(1, 3, 0x200, 4), Bytes(4, 0));
        for (const auto& p : cards()->received())
            QCOMPARE(p.first, 1);
        QVERIFY(lines_.isEmpty());
        QCOMPARE(fpga_jobs::result_flag(), u8(0));
        QCOMPARE(spy.last().at(0).toInt(), 99);
        QVERIFY(endsOnceWith100(recovery_));
    }

    void checkWithThePageClosedRecordsNothing()
    {
        layout("port 1 cards 2 config 0x1001\nport 2 cards 8 config 0x1001 check 6\n");
        write("/data/rcvrecovery/screen.pack", recoveryPack(screens()));
        m_->rcv_card = 4;
        lines_.clear();
        pageOpen_ = false;
        runJob(JOB_RCV_CHECK);
        QCOMPARE(int(m_->rcv_card), 4);
        QVERIFY(lines_.isEmpty());
    }

    void scanParameterLoad()
    {
        layout("port 1 cards 3\n");
        setCount(0, 3);
        line_type.port = 0;
        write("/data/smartmapping/panel.scan",
              scanFile({op(1, 1, 0x100, pattern(2500, 9)), op(3, 1, 0, {0x01, 0x02}), op(6, 1, 0, {}, 3000)}));
        g_kqfile_name.set("/data/smartmapping/panel.scan");
        g_send_para.check_status = 7;
        const u32 took = runJob(JOB_SCAN_LOAD);
        QCOMPARE(g_send_para.check_status.load(), u16(0xFFFF));
        const auto writes = sent(0x60);
        QCOMPARE(int(writes.size()), 3);
        const u32 addr[3] = {0x100, 0x100 + 1000, 0x100 + 2000};
        const u16 len[3] = {1000, 1000, 500};
        for (int i = 0; i < 3; ++i) {
            const Bytes& w = writes[size_t(i)].second;
            QCOMPARE(u16(w[0] | w[1] << 8), u16(0x0FFF)); // all cards of the port
            QCOMPARE(u32(w[10] | w[11] << 8 | w[12] << 16 | w[13] << 24), addr[i]);
            QCOMPARE(u16(w[14] | w[15] << 8), len[i]);
        }
        for (unsigned c = 0; c < 3; ++c)
            QCOMPARE(cards()->cardRam(0, c, 0x100, 2500), pattern(2500, 9));
        const auto act = sent(0xB4);
        QCOMPARE(int(act.size()), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(int(act[size_t(i)].second[0]), 2 - i); // cards 2, 1, 0
        QVERIFY(took >= 240 + 300 && took < 240 + 300 + 100);
        QVERIFY(endsOnceWith100(smart_));
        QVERIFY(recovery_.empty());
    }

    void filesThatEndTheJobCleanly_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("packets");
        QTest::addColumn<int>("end"); // how the page is told it ended
        QTest::newRow("card upgrade") << 0 << 0 << int(fpga_jobs::JobEnd::Whole);
        QTest::newRow("unknown type") << 1 << 0 << int(fpga_jobs::JobEnd::Whole);
        QTest::newRow("no operations") << 2 << 0 << int(fpga_jobs::JobEnd::Whole);
        QTest::newRow("300 operations") << 3 << 0 << int(fpga_jobs::JobEnd::Whole);
        QTest::newRow("register data past a packet") << 4 << 0 << int(fpga_jobs::JobEnd::Failed);
        QTest::newRow("data past the file") << 5 << 0 << int(fpga_jobs::JobEnd::Failed);
        QTest::newRow("no file chosen") << 6 << 0 << int(fpga_jobs::JobEnd::Failed);
        QTest::newRow("unanswered: four sends") << 7 << 4 << int(fpga_jobs::JobEnd::Unanswered);
    }
    void filesThatEndTheJobCleanly()
    {
        QFETCH(int, kind);
        QFETCH(int, packets);
        QFETCH(int, end);
        layout("port 1 cards 1\n");
        setCount(0, 1);
        line_type.port = 0;
        std::vector<RcvOp> ops;
        if (kind == 0)
            ops = {op(4, 1, 0, {1})};
        if (kind == 1)
            ops = {op(99, 1, 0, {1})};
        if (kind == 3)
            ops.assign(300, op(6, 1, 0, {}, 0));
        if (kind == 4)
            ops = {op(1, 2, 0, pattern(2000, 1))};
        if (kind == 7)
            ops = {op(1, 2, 0, {1, 2, 3, 4}, 100)};
        FileBytes f = scanFile(ops.empty() ? std::vector<RcvOp>{op(1, 2, 0, {1, 2, 3, 4})} : ops);
        if (kind == 2)
            f = scanFile({});
        if (kind == 5)
            put32(f, 20, 5000);
        write("/data/smartmapping/x.scan", f);
        g_kqfile_name.set(kind == 6 ? QString() : QString("/data/smartmapping/x.scan"));
        silentPort_ = kind == 7 ? 0 : -1;
        runJob(JOB_SCAN_LOAD, 20000);
        silentPort_ = -1;
        QCOMPARE(g_send_para.job(), u8(JOB_NONE));
        QCOMPARE(int(cards()->received().size()), packets);
        QVERIFY(endsOnceWith100(smart_));
        QVERIFY(ends_ == std::vector<fpga_jobs::JobEnd>{fpga_jobs::JobEnd(end)});
    }

    // A damaged list ends its job with the error (the bar closes) before
    // anything of it is sent: a wait over the minute an operation allows (a
    // recovery's in its parameter list), a list running past the file's
    // end, a read error, more ports than the box's 32.
    void damagedFilesEndTheJob_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<QString>("damage");
        for (int job : {JOB_SCAN_LOAD, JOB_RCV_RECOVERY})
            for (const char* damage : {"sleep of 60.001 s", "ack wait of 49.7 days", "past the end", "read error"})
                QTest::addRow("%s: %s", job == JOB_SCAN_LOAD ? "scan" : "recovery", damage) << job << damage;
        QTest::newRow("recovery: 33 ports over 3 screens") << int(JOB_RCV_RECOVERY) << "33 ports";
    }
    void damagedFilesEndTheJob()
    {
        QFETCH(int, job);
        QFETCH(QString, damage);
        const bool scan = job == JOB_SCAN_LOAD, ack = damage.startsWith("ack");
        const RcvOp sleep = op(6, 1, 0, {}, damage.startsWith("sleep") ? 60001 : 0);
        const QString path = scan ? "/data/smartmapping/x.scan" : "/data/rcvrecovery/screen.pack";
        FileBytes f;
        if (scan) {
            f = scanFile({op(1, 2, 0, {1, 2, 3, 4}, ack ? kForever : 100), sleep});
            if (damage == "past the end")
                put16(f, 16, 3);
            scanOn(1, f);
        } else {
            std::vector<RcvScreen> s = checkedScreens();
            QCOMPARE(int(m_->rcv_card), 4);
            s[0].para.push_back(sleep);
            s[0].para[0].timeticks = ack ? kForever : 200;
            if (damage == "33 ports")
                s.push_back({0x3003, std::vector<RcvPort>(33 - 6), {}});
            f = recoveryPack(s);
            if (damage == "past the end")
                f.resize(f.size() / 2);
            write(path, f);
        }
        if (damage == "read error")
            fail_reads_of(bench.sim().host(path.toStdString()));
        silentPort_ = ack ? (scan ? 0 : 1) : -1;
        const u32 took = runJob(u8(job), 20000);
        silentPort_ = -1;
        fail_reads_of("");
        QCOMPARE(g_send_para.job(), u8(JOB_NONE));
        QVERIFY(took < 500);
        QVERIFY(cards()->received().empty());
        QVERIFY(endsOnceWith100(scan ? smart_ : recovery_));
        QVERIFY(ends_ == std::vector<fpga_jobs::JobEnd>{fpga_jobs::JobEnd::Failed});
    }

    // Jobs that run long whatever their files count (1 MB of RAM writes
    // sent 1000 bytes a packet and answered, sleeps of nothing, sleeps of a
    // minute) are played until 10 minutes from their first pass, host pauses
    // included, then end with the error.
    void longJobsEndAtTheBound_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<QString>("file");
        QTest::newRow("scan: 200 RAM writes of one 1,000,000-byte block") << int(JOB_SCAN_LOAD) << "writes";
        QTest::newRow("scan: 65,534 sleeps of 0 ms") << int(JOB_SCAN_LOAD) << "sleeps";
        QTest::newRow("scan: 11 sleeps of a minute") << int(JOB_SCAN_LOAD) << "minutes";
        QTest::newRow("recovery: 11 sleeps of a minute") << int(JOB_RCV_RECOVERY) << "minutes";
    }
    void longJobsEndAtTheBound()
    {
        QFETCH(int, job);
        QFETCH(QString, file);
        const bool scan = job == JOB_SCAN_LOAD, none = file == "sleeps";
        const FileBytes block = pattern(1000000, 5), mark(block.begin(), block.begin() + 4);
        std::vector<RcvOp> ops = {op(1, 1, 0x10, mark)};
        ops.insert(ops.end(), none ? 65534 : 11, op(6, 1, 0, {}, none ? 0 : 60000));
        if (scan) {
            scanOn(1, file == "writes" ? sameBlockScanFile(200, 0x10, block) : scanFile(ops));
        } else {
            std::vector<RcvScreen> s = checkedScreens();
            s[0].ports[1].cards[4] = ops;
            write("/data/rcvrecovery/screen.pack", recoveryPack(s));
        }
        QVERIFY(post(u8(job)));
        const auto [running, past] = bench.runToBound();
        QVERIFY(running);
        QVERIFY(past > 100 && past < 110);
        QVERIFY(endsOnceWith100(scan ? smart_ : recovery_));
        QVERIFY(ends_ == std::vector<fpga_jobs::JobEnd>{fpga_jobs::JobEnd::Cut});
        QCOMPARE(cards()->cardRam(scan ? 0 : 1, scan ? 0 : 4, 0x10, 4), mark);
    }

    // Host frames while the check waits out a silent port's 5 s hold it
    // (nothing moves, nothing is sent) and extend that wait by the host's
    // activity plus 0.8 s, never restart it.
    void hostTrafficExtendsTheCheck()
    {
        auto wait = [&](u32 sent) {
            bench.up(100000, 1);
            silentPort_ = 0;
            layout("port 1 cards 2 config 0x1001\n");
            write("/data/rcvrecovery/screen.pack", recoveryPack(screens()));
            [&] { QVERIFY(post(JOB_RCV_CHECK)); }();
            silentPort_ = -1;
            return bench.waitThrough(CardBench::state(JOB_RCV_CHECK, 14, g_send_para.op_step), 200, sent);
        };
        const CardBench::Wait plain = wait(0), held = wait(100);
        QVERIFY(plain.ticks >= 200);
        QVERIFY(held.frames > 1);
        QVERIFY(held.still);
        QCOMPARE(held.ticks, plain.ticks + held.held);
    }

    // Waits counted to about 650 s (activation, reconfiguration and the save
    // card by card on 32 cards, 2 s each four times) take moments with cards
    // that answer: the file is played whole.
    void countedWaitsOfAnsweringCardsArePlayed()
    {
        scanOn(32, scanFile({op(3, 1, 0, {1}, 2000), op(5, 1, 0, {1}, 2000), op(2, 3, 0, {}, 2000),
                             op(1, 1, 0x10, {0xA1, 0xB2}, 2000)}));
        QVERIFY(runJob(JOB_SCAN_LOAD) < 1000);
        QCOMPARE(int(sent(0xB4).size()), 32);
        QCOMPARE(int(sent(0x84).size()), 32);
        QCOMPARE(cards()->cardSaves(0, 31), 1u);
        QCOMPARE(cards()->cardRam(0, 31, 0x10, 2), Bytes({0xA1, 0xB2}));
        QVERIFY(endsOnceWith100(smart_));
    }

    void packProblemsEndTheJob_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("two files") << 0;
        QTest::newRow("seven sub-files") << 1;
        QTest::newRow("no screen sub-file") << 2;
        QTest::newRow("no directory") << 3;
    }
    void packProblemsEndTheJob()
    {
        QFETCH(int, kind);
        layout("port 1 cards 2 config 0x1001\n");
        FileBytes pack = recoveryPack(screens());
        if (kind == 1)
            pack[3] = 7;
        if (kind == 2)
            pack = recoveryPack(screens(), {11, 12});
        if (kind != 3)
            write("/data/rcvrecovery/screen.pack", pack);
        if (kind == 0)
            write("/data/rcvrecovery/other.pack", pack);
        runJob(JOB_RCV_CHECK);
        QCOMPARE(g_send_para.job(), u8(JOB_NONE));
        QVERIFY(sent(0x10).empty());
        QVERIFY(endsOnceWith100(recovery_));
    }
};

QTEST_MAIN(TestRcvRecoveryJob)
#include "test_rcv_recovery_job.moc"
