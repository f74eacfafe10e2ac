// Output geometry in the parameter page, its backup relative to the screen
// origin, the port link mirror and the LED set-up sequence, on the
// simulated FPGA.
#include <QtTest>

#include <cstring>

#include <QSignalSpy>

#include "board/sim/sim_fpga.h"
#include "chips/tarvosource.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "support/lock_wait.h"
#include "support/sim_fixture.h"
#include "support/test_rows.h"

using board::sim::SimFpga;
using Bytes = std::vector<u8>;

class TestOutputGeometry : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    fpga_manage* m = nullptr;
    SimFpga* fpga() { return board::sim::simFpga(); }
    u8* page() { return fpga_manage::MCU_RAM_PARA_func[0]; }
    u8* back() { return fpga_manage::MCU_RAM_ETH_BACK_PARA_func[0]; }
    u8* img() { return ZevRamPara::p_zevrampara_config; }
    u16 w16(const u8* p, int off) { return ZevRamPara::get16(p, off); }

    void make_ready()
    {
        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 3;
        fpga_manage::MCU_REG_func[0][FpgaReg::kScreen] &= u8(~0x08);
        m->start[0].vbo_state = 7;
        m->start[0].out_state = 16;
    }
    // One worker step of the set-up, ticks later.
    void step(u32 ticks)
    {
        G_timeTicks = G_timeTicks + ticks;
        m->set_led_para_deal();
    }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        board::sim::attachFpga(sim->board());
        ZevRamPara::pInstance();
        m = fpga_manage::pInstance();
    }
    void cleanupTestCase() { delete sim; }
    void init()
    {
        std::memset(page(), 0, 1024);
        std::memset(back(), 0, FpgaRam::kEthPageSize);
        g_set_led_para = 0;
        g_freeze_out = 0;
        g_set_led_setup = 0;
        G_timeTicks = 1000;
    }

    void portInitAndBorders()
    {
        u16 r = 1, b = 1;
        m->get_eth_max_border(0, &r, &b);
        QCOMPARE(r, u16(0));
        QCOMPARE(b, u16(0));
        m->eth_param_init(1, 0);
        unsigned short x, y, w, h;
        for (u8 p : {u8(0), u8(1), u8(7), u8(15)}) {
            m->get_eth_param_addr(p, &x, &y, &w, &h);
            QCOMPARE(w16(page(), x), u16(0));
            QCOMPARE(w16(page(), w), u16(0x500));
            QCOMPARE(w16(page(), h), u16(0x200));
        }
        // Port 1 starts at an odd address.
        QCOMPARE(w16(page(), 23), u16(0x500));
        m->get_eth_max_border(0, &r, &b);
        QCOMPARE(r, u16(1280));
        QCOMPARE(b, u16(512));
        m->get_eth_param_addr(3, &x, &y, &w, &h);
        ZevRamPara::put16(page(), x, 1280);
        ZevRamPara::put16(page(), y, 64);
        m->get_eth_max_border(0, &r, &b);
        QCOMPARE(r, u16(2560));
        QCOMPARE(b, u16(576));
        u16 mx, my;
        m->get_eth_min_x_y(0, &mx, &my);
        QCOMPARE(mx, u16(0));
        QCOMPARE(my, u16(0));
        // Clear 0 leaves the page alone.
        std::memset(page(), 0, 1024);
        m->eth_param_init(0, 0);
        QCOMPARE(w16(page(), 12), u16(0));
    }

    void backupLayout()
    {
        for (int i = 0; i < 1024; ++i)
            page()[i] = u8(i);
        m->Q64_back_mcu_set_net_para(0);
        QCOMPARE(Bytes(back(), back() + 4), Bytes(page() + 60, page() + 64));
        QCOMPARE(Bytes(back() + 4, back() + 12), Bytes(page() + 8, page() + 16));
        QCOMPARE(Bytes(back() + 12, back() + 20), Bytes(page() + 19, page() + 27));
        QCOMPARE(Bytes(back() + 20, back() + 28), Bytes(page() + 32, page() + 40));
        QCOMPARE(Bytes(back() + 28, back() + 36), Bytes(page() + 43, page() + 51));
        QCOMPARE(Bytes(back() + 36, back() + 68), Bytes(page() + 520, page() + 552));
        QCOMPARE(Bytes(back() + 68, back() + 132), Bytes(page() + 576, page() + 640));
        QCOMPARE(Bytes(back() + 132, back() + 136), Bytes(page() + 56, page() + 60));
    }

    void rebuildFromBackupRoundsWidth()
    {
        struct Case {
            u16 ox, width, expect;
        } cases[] = {{10, 1000, 1024}, {0, 1000, 1024}, {0, 1024, 1024}, {1, 1024, 1056}};
        for (const Case& c : cases) {
            ZevRamPara::put16(back(), 0, c.width);
            ZevRamPara::put16(back(), 2, 500);
            ZevRamPara::put16(img(), Img::kOriginX, c.ox);
            ZevRamPara::put16(img(), Img::kOriginY, 20);
            m->Q64_mcu_set_net_para(0);
            QCOMPARE(w16(page(), 60), c.expect);
            QCOMPARE(w16(page(), 62), u16(520));
        }
    }

    void rebuildMovesPortsByOrigin()
    {
        m->eth_param_init(1, 0);
        ZevRamPara::put16(page(), 19, 300);
        ZevRamPara::put16(page(), 21, 40);
        m->Q64_back_mcu_set_net_para(0);
        ZevRamPara::put16(img(), Img::kOriginX, 16);
        ZevRamPara::put16(img(), Img::kOriginY, 8);
        m->Q64_mcu_set_net_para(0);
        QCOMPARE(w16(page(), 19), u16(316));
        QCOMPARE(w16(page(), 21), u16(48));
        QCOMPARE(w16(page(), 8), u16(16));
        QCOMPARE(w16(page(), 632), u16(16));
        QCOMPARE(w16(page(), 634), u16(8));
        // Sizes stay.
        QCOMPARE(w16(page(), 23), u16(0x500));
        // Applying it twice does not add the origin twice.
        m->Q64_mcu_set_net_para(0);
        QCOMPARE(w16(page(), 19), u16(316));
    }

    void linkMirrorAndCardCounts()
    {
        page()[96] = 0x24; // bits 2 and 5 are not link bits
        ZevRamPara::put16(page(), 100, 5);
        page()[104] = 3;
        ZevRamPara::put16(page(), 660, 2);
        page()[662] = 1;
        fpga()->setLinks(0x2031); // ports 0, 4, 5 and 13
        m->update_eth_state(0);
        QCOMPARE(page()[96], u8(0x25));
        QCOMPARE(page()[512], u8(0x03));
        QCOMPARE(page()[513], u8(0x20));
        QCOMPARE(fpga()->ram(1, 96, 1), Bytes{0x25});
        QCOMPARE(fpga()->ram(1, 512, 2), (Bytes{0x03, 0x20}));
        QCOMPARE(w16(page(), 100), u16(5));
        // Port 0's link drops: its cards are gone from the page and the FPGA.
        ZevRamPara::put16(page(), 660, 2);
        fpga()->setLinks(0x2030);
        m->update_eth_state(0);
        QCOMPARE(page()[96], u8(0x24));
        QCOMPARE(w16(page(), 100), u16(0));
        QCOMPARE(page()[104], u8(0));
        QCOMPARE(fpga()->ram(1, 100, 5), (Bytes{0, 0, 0, 0, 0}));
        QCOMPARE(w16(page(), 660), u16(2));
        // Ports 2 and 3 use bits 3 and 4.
        fpga()->setLinks(0x000C);
        m->update_eth_state(0);
        QCOMPARE(page()[96], u8(0x3C));
    }

    void cardCounts()
    {
        ZevRamPara::put16(page(), 102, 3);
        ZevRamPara::put16(page(), 668, 0xFFFF);
        QCOMPARE(m->get_port_card_num(1), u16(3));
        QCOMPARE(m->get_port_card_num(15), u16(0xFFFF));
        QCOMPARE(m->get_port_card_num(16), u16(0));
        QCOMPARE(m->check_netport_card(0), u16(2));
    }

    void wlanState()
    {
        fpga()->setLinks(0x8001);
        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 2;
        QCOMPARE(m->get_wlan_state(), u16(0));
        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 3;
        QCOMPARE(m->get_wlan_state(), u16(0x8001));
    }

    void ledSetupSwitchesOutputOff()
    {
        make_ready();
        ZevRamPara::put16(img(), Img::kBlackout, 0);
        g_set_led_para = 1;
        step(0);
        QCOMPARE(fpga()->reg(0) & 0x04, 0x04);
        QCOMPARE(g_set_led_setup.load(), u8(1));
        // The blackout word belongs to the operator, not to the set-up.
        QCOMPARE(ZevRamPara::img16(Img::kBlackout), u16(0));
        m->write_fpga_register(3, 0x20, 0, 0x20);
        step(10);
        QCOMPARE(fpga()->reg(3) & 0x20, 0x20);
        step(1);
        QCOMPARE(fpga()->reg(3) & 0x20, 0x00);
        QCOMPARE(g_set_led_setup.load(), u8(2));
        step(30);
        QCOMPARE(g_set_led_para.load(), u8(1));
        step(1);
        QCOMPARE(g_set_led_para.load(), u8(0));
        QCOMPARE(g_set_led_setup.load(), u8(0));
    }

    void freezeClosingObeysBlackout()
    {
        for (u16 blackout : {u16(1), u16(0)}) {
            make_ready();
            // The FPGA locks and reports its output once register 23 bit 0 is set.
            m->write_fpga_register(3, 0x80, 0, 0x80);
            m->write_to_register(0, 0x04, 0x04, 0);
            ZevRamPara::put16(img(), Img::kBlackout, blackout);
            g_freeze_out = 1;
            g_set_led_setup = 0;
            const u8 order[] = {1, 2, 100, 99, 3, 4};
            step(21);
            QCOMPARE(g_set_led_setup.load(), order[0]);
            for (size_t i = 1; i < sizeof order; ++i) {
                step(20);
                QCOMPARE(g_set_led_setup.load(), order[i - 1]);
                step(1);
                QCOMPARE(g_set_led_setup.load(), order[i]);
            }
            QCOMPARE(fpga()->reg(3) & 0x20, 0x20);
            QCOMPARE(fpga()->reg(23) & 0x20, 0x00);
            step(11);
            QCOMPARE(g_freeze_out.load(), u8(0));
            QCOMPARE(g_set_led_setup.load(), u8(0));
            QCOMPARE(fpga()->reg(0) & 0x04, blackout ? 0x04 : 0x00);
            QCOMPARE(ZevRamPara::img16(Img::kBlackout), blackout);
        }
    }

    void freezeWaitsForTheFpga()
    {
        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 2;
        g_freeze_out = 1;
        step(100);
        QCOMPARE(g_set_led_setup.load(), u8(0));
        QCOMPARE(g_freeze_out.load(), u8(1));
        g_freeze_out = 0;
    }

    void resetRequest()
    {
        const unsigned before = fpga()->resets();
        g_set_led_para = 2;
        g_freeze_out = 1;
        step(0);
        QCOMPARE(g_set_led_para.load(), u8(0));
        QCOMPARE(g_freeze_out.load(), u8(0));
        QVERIFY(fpga()->inReset() || fpga()->resets() > before);
    }

    void linkChangeSignalled()
    {
        // Out of the reset an earlier case asked for.
        sim->board().pads().write16(FpgaPad::RST_FPGA0, FpgaPad::kHigh);
        QVERIFY(!fpga()->inReset());
        QSignalSpy spy(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
        tarvosource::p_tarvo_source = new tarvosource();
        tarvosource::p_tarvo_source->source_state = 2;
        make_ready();
        m->wlan_state_last = 0;
        G_timeTicks = G_timeTicks + fpga_manage::kWlanCheckTicks;
        fpga()->setLinks(0x0003);
        m->check_wlanonline_state();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 11);
        G_timeTicks = G_timeTicks + fpga_manage::kWlanCheckTicks;
        m->check_wlanonline_state();
        QCOMPARE(spy.count(), 1);
        // A change is seen at the next watch, not before.
        fpga()->setLinks(0x0007);
        G_timeTicks = G_timeTicks + fpga_manage::kWlanCheckTicks - 1;
        m->check_wlanonline_state();
        QCOMPARE(spy.count(), 1);
        G_timeTicks = G_timeTicks + 1;
        m->check_wlanonline_state();
        QCOMPARE(spy.count(), 2);
    }

    // The FPGA's start rewrites the parameter page while a PC link sums its
    // card counts for the device information and the interrupt service
    // writes them: every reader and writer waits for the page's lock. Last:
    // the start leaves the simulated FPGA started.
    void paraPageUnderItsLock_data()
    {
        numberedRows("job", {"card total", "search answer", "link mirror", "lcd size", "fpga start"});
    }
    void paraPageUnderItsLock()
    {
        QFETCH(int, job);
        u8 answer[15] = {};
        answer[11] = 4;
        fpga()->setLinks(0);
        ZevRamPara::put16(page(), 100, 5);
        const std::function<void()> jobs[] = {
            [this] { m->check_netport_card(0); }, [&] { m->update_eth_rcv_num(answer, 3, 0, sizeof answer); },
            [this] { m->update_eth_state(0); }, [this] { m->set_fpga_lcd_wh(0); }, [this] { m->fpgainit(0); }};
        QVERIFY(waits_for(held(fpga_manage::para_mutex), jobs[job]));
    }
};

QTEST_GUILESS_MAIN(TestOutputGeometry)
#include "test_output_geometry.moc"
