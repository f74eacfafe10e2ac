// The FPGA worker's pass and the FPGA start-up state machines, one pass at a
// time with the tick set by the test, on the simulated FPGA.
#include <QtTest>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "board/sim/sim_fpga.h"
#include "chips/tarvosource.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "support/sim_fixture.h"

using board::sim::SimFpga;

class TestFpgaStartup : public QObject
{
    Q_OBJECT

    SimFixture* fx_ = nullptr;
    fpga_manage* m_ = nullptr;
    SimFpga* fpga() { return board::sim::simFpga(); }
    u8* shadow() { return fpga_manage::MCU_REG_func[0]; }
    FPGA_START& st() { return m_->start[0]; }

    void pass(u32 ticks = 1)
    {
        G_timeTicks += ticks;
        m_->fpga_manage_deal();
    }
    // Runs passes one tick apart until done() holds; false after max passes.
    bool runUntil(const std::function<bool()>& done, int max)
    {
        for (int i = 0; i < max; ++i) {
            if (done())
                return true;
            pass();
        }
        return done();
    }
    // Fresh FPGA and start-up state, as after power-on.
    void powerOn()
    {
        fpga()->setVboNeverLocks(false);
        fpga()->setRamCheckCorrupts(false);
        fpga()->setOutputCheckNeverPasses(false);
        fpga()->setInputCheck(36);
        fpga()->setMeasuredInput(1920, 1080, 833333);
        fpga()->powerOn();
        std::memset(shadow(), 0, FpgaReg::kCount);
        st().vbo_state = 0;
        st().vbo_stamp = 0;
        st().start_delay = 0;
        st().err_count = 0;
        st().reset_count = 0;
        st().out_state = 0;
        st().out_retry = 0;
        st().out_retry_limit = 0;
        st().reset_req = 0;
        st().ram_check = 0;
        fx_->board().pads().write16(FpgaPad::RST_FPGA0, FpgaPad::kHigh);
        m_->softinit();
        g_send_para.finish();
    }
    bool ready() { return m_->get_fpga_status(); }
    // Hands one wire frame from the PC tool to the command handler; the
    // reply's status byte, or -1 when the frame was dropped.
    int pcFrame(const QByteArray& hex)
    {
        const QByteArray wire = QByteArray::fromHex(hex);
        std::vector<u8> work(pc::kWorkSize);
        const int n = protocol_phy::accept_frame(reinterpret_cast<const u8*>(wire.constData()), wire.size(),
                                                 work.data(), int(work.size()));
        if (n < 0)
            return -1;
        message_deal md;
        md.message_group_deal(work.data(), n, 1);
        return work[pc::kStatus];
    }
    // The FPGA's interrupt with the input-changed flag while register 31 is
    // out of range.
    void loseInput()
    {
        fpga()->setInputCheck(0);
        m_->write_fpga_register(FpgaReg::kStatus, 0x60, 0, 0x60);
    }
    bool upAgain() { return ready() && shadow()[FpgaReg::kState] == 3 && st().out_state.load() == 18; }

  private slots:
    void initTestCase()
    {
        fx_ = new SimFixture(false);
        board::sim::attachFpga(fx_->board());
        m_ = fpga_manage::pInstance();
        tarvosource::p_tarvo_source = new tarvosource();
        g_debugSwitch = 0;
    }
    void init()
    {
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLedWidth, 1920);
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLedHeight, 1080);
        G_timeTicks = 1000;
        tarvosource::p_tarvo_source->source_state = 2;
        g_source_online = 2;
        pc_cmd_valid = 0;
        powerOn();
    }

    void noStartupWhileInputsDown()
    {
        tarvosource::p_tarvo_source->source_state = 0;
        fpga()->setRecording(true);
        fpga()->clearAccesses();
        for (int i = 0; i < 100; ++i)
            pass(6);
        QCOMPARE(st().start_delay, 0u);
        QCOMPARE(st().vbo_state.load(), u8(0));
        QVERIFY(fpga()->accesses().empty());
        fpga()->setRecording(false);
        // The job switch still runs: the idle turn ends the host pause.
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        pass(81);
        QCOMPARE(pc_cmd_valid.load(), u8(0));
    }

    void fullStartupLightsTheScreen()
    {
        const u32 begin = G_timeTicks.load();
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 1; }, 4000));
        QVERIFY(G_timeTicks.load() - begin >= 301 * 6); // about 18 s after power-on
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 7; }, 200));
        QCOMPARE(shadow()[FpgaReg::kState], u8(3));
        QCOMPARE(st().ram_check, u8(1));
        QCOMPARE(fpga()->reg(3) & 0xC0, 0xC0);
        QCOMPARE(fpga()->reg(23) & 0x01, 0x01);
        QCOMPARE(fpga()->reg(0) & 0x04, 0x04); // screen held off until the end
        QCOMPARE(fpga()->reg(2) & 0x08, 0x08);
        // The parameter page went to the FPGA with the port numbers.
        QCOMPARE(fpga()->ram(1, 0, 1024),
                 std::vector<u8>(fpga_manage::MCU_RAM_PARA_func[0], fpga_manage::MCU_RAM_PARA_func[0] + 1024));
        QCOMPARE(fpga()->ram(1, 276, 1)[0], u8(1));
        QCOMPARE(fpga()->ram(1, 291, 1)[0], u8(16));
        QCOMPARE(fpga_manage::MCU_RAM_CMD[12], fpga()->reg(28));
        QVERIFY(!ready());
        QVERIFY(runUntil([&] { return st().out_state.load() == 18; }, 2000));
        QVERIFY(ready());
        QCOMPARE(fpga()->reg(0) & 0x04, 0x00); // lit
        QCOMPARE(fpga()->reg(3) & 0x20, 0x20); // LCD output on
        QCOMPARE(fpga()->reg(2) & 0x01, 0x01);
        QCOMPARE(g_fpga_lcd_on.load(), 1u);
        // Running on: further passes keep it up; the idle turn only looks
        // (link watch, port links), it changes nothing.
        fpga()->setRecording(true);
        fpga()->clearAccesses();
        for (int i = 0; i < 50; ++i)
            pass();
        QVERIFY(ready());
        for (const auto& a : fpga()->accesses())
            QVERIFY(a.read);
        fpga()->setRecording(false);
    }

    void screenWaitsForInputTimings()
    {
        g_source_online = 0;
        QVERIFY(runUntil([&] { return st().out_state.load() == 16; }, 6000));
        for (int i = 0; i < 100; ++i)
            pass();
        QCOMPARE(st().out_state.load(), u8(16));
        QCOMPARE(fpga()->reg(0) & 0x04, 0x04);
        g_source_online = 2;
        pass();
        QCOMPARE(st().out_state.load(), u8(18));
        QCOMPARE(fpga()->reg(0) & 0x04, 0x00);
    }

    void inputCheckRange_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("goesOn");
        QTest::newRow("24") << 24 << false;
        QTest::newRow("25") << 25 << true;
        QTest::newRow("48") << 48 << true;
        QTest::newRow("49") << 49 << false;
    }
    void inputCheckRange()
    {
        QFETCH(int, value);
        QFETCH(bool, goesOn);
        fpga()->setInputCheck(u8(value));
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 1; }, 4000));
        for (int i = 0; i < 60; ++i)
            pass();
        QCOMPARE(st().vbo_state.load() > 1, goesOn);
    }

    void inputOutOfRangeHoldsThenRecovers()
    {
        fpga()->setInputCheck(0);
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 1; }, 4000));
        for (int i = 0; i < 500; ++i)
            pass();
        QCOMPARE(st().vbo_state.load(), u8(1));
        QVERIFY(!ready());
        fpga()->setInputCheck(30);
        QVERIFY(runUntil([&] { return ready(); }, 3000));
    }

    void inputLostThenBackLightsTheScreenAgain()
    {
        QVERIFY(runUntil([&] { return upAgain(); }, 6000));
        loseInput();
        pass();
        QVERIFY(!ready());
        QCOMPARE(shadow()[FpgaReg::kState], u8(0));
        pass(6);
        QVERIFY(st().vbo_state.load() <= 1);
        QCOMPARE(st().out_state.load(), u8(0));
        for (int i = 0; i < 300; ++i)
            pass();
        QVERIFY(!ready());
        fpga()->setInputCheck(36);
        QVERIFY(runUntil([&] { return upAgain(); }, 1000));
        QCOMPARE(fpga()->reg(0) & 0x04, 0x00);
        QCOMPARE(ScreenState.load(), u8(1));
    }

    void vboLockMissingGoesOnWithoutReset()
    {
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 3; }, 4000));
        fpga()->setVboNeverLocks(true);
        const unsigned base = fpga()->resets();
        const u32 begin = G_timeTicks.load();
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 7; }, 100));
        QCOMPARE(fpga()->resets(), base);
        QVERIFY(G_timeTicks.load() - begin <= 10 * 6);
    }

    // Every state of the V-by-One start-up, entered with the register-31
    // shadow in range or out of range, leads to a lit screen.
    void everyStateHasAWayForward_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("shadow31");
        for (int state : {0, 1, 2, 3, 5, 6, 7})
            for (int value : {36, 0}) {
                const QByteArray name = QByteArray::number(state) + (value ? " in range" : " out of range");
                QTest::newRow(name.constData()) << state << value;
            }
    }
    void everyStateHasAWayForward()
    {
        QFETCH(int, state);
        QFETCH(int, shadow31);
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 1; }, 4000));
        // State 7 without register 80: what a mark-down used to leave.
        st().vbo_state = u8(state);
        shadow()[FpgaReg::kInputCheck] = u8(shadow31);
        QVERIFY(runUntil([&] { return upAgain(); }, 6000));
    }

    // A reset, then a PC read or write of register 31 while the start delay
    // runs: the start-up still brings the FPGA up in the normal time.
    void pcRegister31DuringStartDelay_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("read") << QByteArray("a5a5a500f210f00000000000a11f000000ac5a");
        QTest::newRow("write") << QByteArray("a5a5a500f210f00000000000a01fff0024765a");
    }
    void pcRegister31DuringStartDelay()
    {
        QFETCH(QByteArray, frame);
        QVERIFY(runUntil([&] { return upAgain(); }, 6000));
        // The receiving-card parameter save, which resets the FPGA here.
        QCOMPARE(pcFrame("a5a5a500f110f000000000008100905a"), 0);
        m_->reset_fpga_rst(0);
        QVERIFY(runUntil([&] { return !fpga()->inReset(); }, 60));
        const u32 begin = G_timeTicks.load();
        for (int i = 0; i < 100; ++i)
            pass();
        QCOMPARE(pcFrame(frame), 0);
        QVERIFY(inputCheckValid(shadow()[FpgaReg::kInputCheck]));
        QVERIFY(runUntil([&] { return upAgain(); }, 301 * 6 + 1000));
        QVERIFY(G_timeTicks.load() - begin < 301 * 6 + 1000);
        QCOMPARE(fpga()->reg(0) & 0x04, 0x00);
    }
    static bool inputCheckValid(u8 v) { return v >= 25 && v <= 48; }

    void vboNeverLocksResetsTwiceThenGoesOn()
    {
        fpga()->setVboNeverLocks(true);
        const unsigned base = fpga()->resets();
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 7; }, 20000));
        QCOMPARE(fpga()->resets(), base + 2);
        QVERIFY(st().reset_count >= 3);
        // The reset counter is not lost in the resets: no further reset of
        // the V-by-One start-up, and the output check takes over.
        QCOMPARE(shadow()[FpgaReg::kState], u8(3));
        for (int i = 0; i < 200; ++i)
            pass();
        QCOMPARE(st().out_state.load(), u8(0));
    }

    void resetPulseIsFiftyTicks()
    {
        QVERIFY(runUntil([&] { return ready(); }, 6000));
        const u8 resetCount = st().reset_count = 2;
        m_->reset_fpga_rst(0);
        QVERIFY(fpga()->inReset());
        G_timeTicks += 50;
        m_->check_fpga_rst();
        QVERIFY(fpga()->inReset());
        G_timeTicks += 1;
        m_->check_fpga_rst();
        QVERIFY(!fpga()->inReset());
        QCOMPARE(shadow()[FpgaReg::kState], u8(0));
        QCOMPARE(shadow()[FpgaReg::kInputCheck], u8(0));
        QCOMPARE(st().vbo_state.load(), u8(0));
        QCOMPARE(st().out_state.load(), u8(0));
        QCOMPARE(st().start_delay, 0u);
        QCOMPARE(st().reset_count, resetCount);
        QVERIFY(!ready());
        // And the start-up brings it back.
        QVERIFY(runUntil([&] { return ready(); }, 6000));
    }

    void resetWaitsForTheRegisterLock()
    {
        QVERIFY(runUntil([&] { return upAgain(); }, 6000));
        m_->reset_fpga_rst(0);
        G_timeTicks += 51;
        std::thread releaser;
        u8 seenUnderLock;
        {
            FpgaRegLock lock(m_, 0);
            releaser = std::thread([this] { m_->check_fpga_rst(); });
            // A reader holding the lock sees the shadow unchanged.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            seenUnderLock = shadow()[FpgaReg::kState];
        }
        releaser.join();
        QCOMPARE(seenUnderLock, u8(3));
        QCOMPARE(shadow()[FpgaReg::kState], u8(0));
    }

    void ramCheckFailureResets()
    {
        fpga()->setRamCheckCorrupts(true);
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 7; }, 6000));
        QCOMPARE(st().ram_check, u8(0));
        QVERIFY(st().reset_req.load());
        QVERIFY(fpga()->inReset());
        QVERIFY(runUntil([&] { return !fpga()->inReset(); }, 60));
        QCOMPARE(st().vbo_state.load(), u8(0));
        QVERIFY(st().start_delay <= 1); // the releasing pass may begin the wait
        fpga()->setRamCheckCorrupts(false);
        QVERIFY(runUntil([&] { return ready(); }, 6000));
        QCOMPARE(st().ram_check, u8(1));
    }

    void outputCheckRetriesSurviveResets()
    {
        fpga()->setOutputCheckNeverPasses(true);
        const unsigned base = fpga()->resets();
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 7; }, 6000));
        // 20 polls more than 10 ticks apart, then a reset with a higher limit.
        QVERIFY(runUntil([&] { return fpga()->resets() == base + 1; }, 20 * 11 + 20));
        QCOMPARE(st().out_retry_limit, u8(1));
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 0; }, 60));
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 7; }, 6000));
        QCOMPARE(st().out_retry_limit, u8(1));
        // The second round lasts 40 polls.
        QVERIFY(runUntil([&] { return fpga()->resets() == base + 2; }, 40 * 11 + 20));
        QCOMPARE(st().out_retry_limit, u8(2));
    }

    void outputCheckPassedOverAfterLastRound()
    {
        fpga()->setOutputCheckNeverPasses(true);
        QVERIFY(runUntil([&] { return st().vbo_state.load() == 7; }, 6000));
        st().out_retry_limit = 101;
        const unsigned base = fpga()->resets();
        QVERIFY(runUntil([&] { return st().out_state.load() != 0; }, 20 * 102 * 11 + 20));
        QCOMPARE(fpga()->resets(), base);
        QVERIFY(runUntil([&] { return ready(); }, 1000));
    }

    void measuredPeriodBounds_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<uint>("period");
        QTest::addColumn<bool>("passes");
        QTest::newRow("period 714285") << 1920 << 1080 << 714285u << false;
        QTest::newRow("period 714286") << 1920 << 1080 << 714286u << true;
        QTest::newRow("period 999999") << 1920 << 1080 << 999999u << true;
        QTest::newRow("period 1000000") << 1920 << 1080 << 1000000u << false;
        QTest::newRow("half width") << 960 << 1080 << 833333u << true;
        QTest::newRow("below half width") << 959 << 1080 << 833333u << false;
        QTest::newRow("below half height") << 1920 << 539 << 833333u << false;
    }
    void measuredPeriodBounds()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(uint, period);
        QFETCH(bool, passes);
        fpga()->setMeasuredInput(u16(width), u16(height), period);
        QVERIFY(runUntil([&] { return st().out_state.load() == 7; }, 6000));
        for (int i = 0; i < 30; ++i)
            pass();
        QCOMPARE(st().out_state.load() != 7, passes);
    }

    void hostTrafficHoldsTheIdleTurn()
    {
        QVERIFY(runUntil([&] { return ready(); }, 6000));
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        m_->search_port_mask = 0x0F;
        pass(80);
        QCOMPARE(pc_cmd_valid.load(), u8(1));
        pass(1);
        QCOMPARE(pc_cmd_valid.load(), u8(0));
        QCOMPARE(m_->search_port_mask.load(), 0u);
    }

    void jobSwitch_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<bool>("idleTurn");
        QTest::newRow("no job") << 0 << true;
        QTest::newRow("job 5") << 5 << false;
        QTest::newRow("job 1") << 1 << false;
        QTest::newRow("job 7") << 7 << true;
    }
    void jobSwitch()
    {
        QFETCH(int, job);
        QFETCH(bool, idleTurn);
        g_send_para.job_word = u16(job);
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        m_->passby_wait = 1;
        pass(81);
        // Only the idle turn ends the pass-through wait with the host pause.
        QCOMPARE(m_->passby_wait.load() == 0, idleTurn);
        m_->passby_wait = 0;
        g_send_para.finish();
    }

    void brightnessRequestWaitsForReadyFpga()
    {
        m_->bri_set_flag = 1;
        pass();
        QCOMPARE(m_->bri_set_flag.load(), u8(1));
        QVERIFY(runUntil([&] { return ready(); }, 6000));
        pass();
        QCOMPARE(m_->bri_set_flag.load(), u8(0));
    }

    void outputStatusFollowsBlackout()
    {
        QVERIFY(runUntil([&] { return ready(); }, 6000));
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kBlackout, 1);
        m_->output_status_flag = 1;
        pass();
        QCOMPARE(m_->output_status_flag.load(), u8(0));
        QCOMPARE(fpga()->reg(0) & 0x04, 0x04);
        QCOMPARE(ScreenState.load(), u8(0));
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kBlackout, 0);
        m_->output_status_flag = 1;
        pass();
        QCOMPARE(fpga()->reg(0) & 0x04, 0x00);
    }
};

QTEST_GUILESS_MAIN(TestFpgaStartup)
#include "test_fpga_startup.moc"
