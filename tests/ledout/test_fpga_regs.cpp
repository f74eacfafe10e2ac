// FPGA command words, registers with their shadow, RAM pages, the register-2
// command page and the job word, on the simulated FPGA.
#include <QtTest>

#include <cstring>
#include <mutex>
#include <thread>

#include "board/sim/sim_fpga.h"
#include "board/sim/sim_spi_flash.h"
#include "core/para_apply.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "support/lock_wait.h"
#include "support/sim_fixture.h"

using board::sim::SimFpga;

namespace
{
// The three locks in their order: apply mutex, LED set-up mutex, register lock.
enum OrderedLock { kApply, kLedSetup, kRegister };
} // namespace

class TestFpgaRegs : public QObject
{
    Q_OBJECT

    SimFixture* fx_ = nullptr;
    fpga_manage* m_ = nullptr;
    SimFpga* fpga() { return board::sim::simFpga(); }
    u8* shadow() { return fpga_manage::MCU_REG_func[0]; }

    std::vector<SimFpga::Access> regWrites()
    {
        std::vector<SimFpga::Access> out;
        for (auto& a : fpga()->accesses())
            if (!a.ram && !a.read)
                out.push_back(a);
        return out;
    }

  private slots:
    void initTestCase()
    {
        fx_ = new SimFixture(false);
        board::sim::attachFpga(fx_->board());
        m_ = fpga_manage::pInstance();
        QVERIFY(m_->fpga_vbyone1_fd >= 0);
        QVERIFY(m_->fpga_vbyone1_flash_fd >= 0);
        QCOMPARE(m_->fpga_vbyone2_fd, -1);
        fpga()->setRecording(true);
    }
    void init()
    {
        fpga()->clearAccesses();
        fx_->board().simSpi().setFailing("/dev/spidev32766.1", false);
        g_set_led_para = 0;
        g_set_led_setup = 0;
        g_freeze_out = 0;
    }

    void commandWords()
    {
        const unsigned ram = fpga_manage::fpga_cmd_to_spi_data(1, 1, 0x123, 0);
        QCOMPARE(ram & 0xFF, 0x02u);
        QCOMPARE((ram >> 8) & 0xFF, 0x01u);
        QCOMPARE((ram >> 16) & 0xFF, 0x23u);
        QCOMPARE(ram >> 24, 0x01u);
        QCOMPARE(fpga_manage::fpga_cmd_to_spi_data(1, 7, 0x0FF, 1), 0x00FF0703u);
        QCOMPARE(fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 22, 1, 0), 0x00160005u);
        QCOMPARE(fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 22, 0, 0x20), 0x20160004u);
    }

    void maskedWriteMergesAndMirrors()
    {
        QCOMPARE(m_->write_fpga_register(23, 0x0A, 0, 0xFF), 1);
        QCOMPARE(m_->write_to_register(23, 0x01, 0xFF, 0), 1);
        QCOMPARE(fpga()->reg(23), u8(0x0B));
        QCOMPARE(shadow()[23], u8(0x0B));
        QCOMPARE(m_->write_to_register(23, 0x02, 0x00, 0), 1);
        QCOMPARE(fpga()->reg(23), u8(0x09));
        QCOMPARE(shadow()[23], u8(0x09));
        const auto w = regWrites();
        QCOMPARE(w.back().address, u16(23));
        QCOMPARE(w.back().mask, u8(0x02)); // the caller's mask goes on the bus
    }

    void shadowOnlyAndRefusedRegisters()
    {
        shadow()[64] = 0;
        shadow()[80] = 0;
        QCOMPARE(m_->write_to_register(64, 0xFF, 7, 0), 1);
        QCOMPARE(m_->write_to_register(80, 0xFF, 3, 0), 1);
        QCOMPARE(shadow()[64], u8(7));
        QCOMPARE(shadow()[80], u8(3));
        QCOMPARE(m_->write_to_register(100, 0xFF, 1, 0), 0);
        QCOMPARE(m_->write_to_register(170, 0xFF, 1, 0), 0);
        QCOMPARE(m_->write_to_register(255, 0xFF, 1, 0), 0);
        QCOMPARE(m_->read_from_register(170, 0), 0);
        QCOMPARE(m_->read_from_register(70, 0), 0);
        QVERIFY(fpga()->accesses().empty());
        shadow()[80] = 0;
    }

    void secondFpgaRefused()
    {
        u8 buf[4] = {1, 2, 3, 4};
        QCOMPARE(m_->write_to_register(23, 0x01, 0x01, 1), 0);
        QCOMPARE(m_->read_from_register(22, 1), 0);
        QCOMPARE(m_->write_fpga_ram(buf, 0, 4, 1, 1), 0);
        QCOMPARE(m_->read_fpga_ram(buf, 0, 4, 1, 1), 0);
        QCOMPARE(m_->write_to_register(23, 0x01, 0x01, 2), 0);
        QCOMPARE(m_->write_fpga_ram(buf, 0, 4, 1, 2), 0);
        QVERIFY(fpga()->accesses().empty());
    }

    void ramPagesAndBounds()
    {
        std::vector<u8> data(4096);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = u8(i ^ (i >> 8));
        QCOMPARE(m_->write_fpga_ram(data.data(), 0, 4096, 9, 0), 1);
        QCOMPARE(fpga()->ram(9, 0, 4096), data);
        std::vector<u8> back(4096);
        QCOMPARE(m_->read_fpga_ram(back.data(), 0, 4096, 9, 0), 1);
        QCOMPARE(back, data);
        fpga()->clearAccesses();
        QCOMPARE(m_->write_fpga_ram(data.data(), 4095, 2, 9, 0), 0);
        QCOMPARE(m_->read_fpga_ram(back.data(), 0xFFFFFFFFu, 2, 9, 0), 0);
        QCOMPARE(m_->write_fpga_ram(data.data(), 0, 0, 9, 0), 0);
        QVERIFY(fpga()->accesses().empty());
        QCOMPARE(m_->write_fpga_ram(data.data(), 0x123, 3, 1, 0), 1);
        QCOMPARE(fpga()->accesses().back().address, u16(0x123));
        QCOMPARE(fpga()->accesses().back().page, u8(1));
    }

    void register2NeverCarriesCommandBits()
    {
        fpga_manage::MCU_RAM_CMD[0] = 0;
        QCOMPARE(m_->write_to_register(2, 0xFF, 0x06, 0), 1);
        const auto w = regWrites();
        QCOMPARE(w.size(), size_t(1));
        QCOMPARE(w[0].data[0], u8(0x00));
        QCOMPARE(w[0].mask, u8(0xFF));
        QCOMPARE(shadow()[2], u8(0x00));
    }

    void commandPageStoresOnOffTable()
    {
        u8* page = fpga_manage::MCU_RAM_CMD;
        std::memset(page, 0, 64);
        page[0] = 0xAA;
        page[1] = 2;
        page[2] = 0xAA;
        page[6] = 9;
        page[8] = 2;
        for (int i = 9; i < 17; ++i)
            page[i] = u8(i);
        QCOMPARE(m_->write_to_register(2, 0x04, 0x04, 0), 1);
        QCOMPARE(shadow()[66], u8(1));
        const auto stored = board::sim::simFpgaFlash()->peek(1741 * 4096, 18);
        QCOMPARE(std::vector<u8>(stored.begin(), stored.begin() + 17), std::vector<u8>(page, page + 17));
        QCOMPARE(stored[17], u8(0xFF)); // nothing past length + 8

        page[2] = 0x55;
        QCOMPARE(m_->write_to_register(2, 0x04, 0x04, 0), 1);
        QCOMPARE(shadow()[66], u8(0));
        QCOMPARE(board::sim::simFpgaFlash()->peek(1741 * 4096, 1)[0], u8(0xFF));
    }

    void commandPageLengthPastPageRefused()
    {
        u8* page = fpga_manage::MCU_RAM_CMD;
        page[0] = 0xAA;
        page[1] = 3;
        page[2] = 0xAA;
        page[6] = u8(1017 & 0xFF); // 1017 + 8 = 1025 bytes
        page[7] = u8(1017 >> 8);
        page[8] = 1;
        board::sim::simFpgaFlash()->clearOps();
        QCOMPARE(m_->write_to_register(2, 0x04, 0x04, 0), 1);
        for (const auto& op : board::sim::simFpgaFlash()->ops())
            QVERIFY(op.cmd != 0x02 && op.cmd != 0x20);
        page[6] = u8(1016 & 0xFF); // exactly the page
        QCOMPARE(m_->write_to_register(2, 0x04, 0x04, 0), 1);
        QCOMPARE(board::sim::simFpgaFlash()->peek(1742 * 4096, 4), std::vector<u8>(page, page + 4));
        std::memset(page, 0, 16);
    }

    void commandPageManualBrightness()
    {
        u8* page = fpga_manage::MCU_RAM_CMD;
        std::memset(page, 0, 16);
        page[0] = 0xAA;
        page[1] = 3;
        page[8] = 0x10; // manual: bit 4 is ignored
        page[9] = 77;
        QCOMPARE(m_->write_to_register(2, 0x04, 0x04, 0), 1);
        QCOMPARE(shadow()[64], u8(77));
        QCOMPARE(m_->bri_value.load(), u8(77));
        std::memset(page, 0, 16);
    }

    void screenOffMirrorsBlackout()
    {
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kBlackout, 0);
        g_set_led_para = 1;
        QCOMPARE(m_->write_to_register(0, 0x04, 0x04, 0), 1);
        QCOMPARE(ScreenState.load(), u8(0));
        QCOMPARE(fpga_manage::MCU_RAM_EXTEND[29], u8(0));
        QCOMPARE(ZevRamPara::img16(Img::kBlackout), u16(0));
        g_set_led_para = 0;
        QCOMPARE(m_->write_to_register(0, 0x04, 0x04, 0), 1);
        QCOMPARE(ZevRamPara::img16(Img::kBlackout), u16(1));
        QCOMPARE(m_->write_to_register(0, 0x04, 0x00, 0), 1);
        QCOMPARE(ScreenState.load(), u8(1));
        QCOMPARE(fpga_manage::MCU_RAM_EXTEND[29], u8(1));
        QCOMPARE(ZevRamPara::img16(Img::kBlackout), u16(0));
        // The start-up form leaves the image alone but the screen state
        // and its copy for the PC follow it.
        QCOMPARE(m_->write_to_0x00_register(0, 0x04, 0x04, 0), 1);
        QCOMPARE(ZevRamPara::img16(Img::kBlackout), u16(0));
        QCOMPARE(fpga()->reg(0) & 0x04, 0x04);
        QCOMPARE(ScreenState.load(), u8(0));
        QCOMPARE(fpga_manage::MCU_RAM_EXTEND[29], u8(0));
        QCOMPARE(m_->write_to_0x00_register(0, 0x04, 0x00, 0), 1);
        QCOMPARE(ScreenState.load(), u8(1));
        QCOMPARE(fpga_manage::MCU_RAM_EXTEND[29], u8(1));
    }

    // A path that waits for a lock holds none that comes after it in the
    // order: the test holds the awaited lock and, while the path waits,
    // finds the later one free.
    void lockOrder_data()
    {
        QTest::addColumn<int>("path");
        QTest::addColumn<int>("awaited");
        QTest::addColumn<int>("laterFree");
        QTest::newRow("pc brightness page") << 0 << int(kApply) << int(kRegister);
        QTest::newRow("blackout mirror") << 1 << int(kApply) << int(kRegister);
        QTest::newRow("led set-up, screen off") << 2 << int(kRegister) << int(kLedSetup);
        QTest::newRow("freeze end, screen back") << 3 << int(kApply) << int(kLedSetup);
    }
    void lockOrder()
    {
        QFETCH(int, path);
        QFETCH(int, awaited);
        QFETCH(int, laterFree);
        const HeldLock locks[] = {held(g_para_apply_mutex), held(Utils::_led_para_init_mutex), held(m_->reg_mutex[0])};
        u8* page = fpga_manage::MCU_RAM_CMD;
        std::memset(page, 0, 16);
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kBlackout, 0);
        if (path == 0) {
            page[0] = 0xAA;
            page[1] = 3;
            page[9] = 50;
        } else if (path == 2) {
            g_set_led_para = 1;
        } else if (path == 3) {
            shadow()[FpgaReg::kState] = 3;
            m_->start[0].vbo_state = 7;
            m_->start[0].out_state = 18;
            g_freeze_out = 1;
            g_set_led_setup = 4;
            m_->led_setup_stamp = G_timeTicks.load() - 20;
            m_->led_setup_count = 500;
        }
        std::function<void()> job[] = {[this] { m_->write_to_register(FpgaReg::kCommand, 0x04, 0x04, 0); },
                                       [this] { m_->write_to_register(FpgaReg::kScreen, 0x04, 0x04, 0); },
                                       [this] { m_->set_led_para_deal(); }, [this] { m_->set_led_para_deal(); }};
        bool free = false;
        QVERIFY(waits_for(locks[awaited], job[path], [&] { free = locks[laterFree].free(); }));
        QVERIFY(free);
        std::memset(page, 0, 16);
        shadow()[FpgaReg::kState] = 0;
        m_->start[0].vbo_state = 0;
        m_->start[0].out_state = 0;
    }

    void failedPortSendIsReported()
    {
        const u8 packet[12] = {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x01, 0x00, 0x10, 0x00, 0x00};
        QCOMPARE(m_->Send_to_port(packet, sizeof packet, 3, 0), 1);
        fx_->board().simSpi().setFailing("/dev/spidev32766.1", true);
        QCOMPARE(m_->Send_to_port(packet, sizeof packet, 3, 0), 0);
        fx_->board().simSpi().setFailing("/dev/spidev32766.1", false);
    }

    void readFromRegisterFillsShadow()
    {
        QCOMPARE(m_->read_from_register(28, 0), 1);
        QCOMPARE(shadow()[28], fpga()->reg(28));
        m_->FPGA_to_RAM(0);
        QCOMPARE(fpga_manage::MCU_RAM_CMD[12], fpga()->reg(28));
        QCOMPARE(fpga_manage::MCU_RAM_CMD[15], fpga()->reg(31));
    }

    void failedReadKeepsShadowAndRefusesWrite()
    {
        shadow()[23] = 0x40;
        fx_->board().simSpi().setFailing("/dev/spidev32766.1", true);
        QCOMPARE(m_->read_from_register(23, 0), 0);
        QCOMPARE(shadow()[23], u8(0x40));
        QCOMPARE(m_->write_to_register(23, 0x01, 0x01, 0), 0);
        fx_->board().simSpi().setFailing("/dev/spidev32766.1", false);
        QCOMPARE(m_->read_from_register(23, 0), 1);
    }

    void readModifyWriteIsAtomicAcrossThreads()
    {
        QCOMPARE(m_->write_fpga_register(23, 0x00, 0, 0xFF), 1);
        // The FPGA merges masked writes itself, so its register comes out
        // right either way; what the lock guarantees is that no other
        // thread's bus traffic falls between a read and its write.
        std::mutex orderMutex;
        std::vector<std::thread::id> order;
        fx_->board().simSpi().setAccessHook([&] {
            std::lock_guard<std::mutex> l(orderMutex);
            order.push_back(std::this_thread::get_id());
        });
        constexpr int kWrites = 2001;
        auto toggler = [this](u8 bit) {
            for (int i = 0; i + 1 < kWrites; ++i)
                m_->write_to_register(23, bit, (i & 1) ? 0 : bit, 0);
            m_->write_to_register(23, bit, bit, 0);
        };
        std::thread a(toggler, u8(0x01)), b(toggler, u8(0x10)), c(toggler, u8(0x04));
        a.join();
        b.join();
        c.join();
        fx_->board().simSpi().setAccessHook(nullptr);
        QCOMPARE(fpga()->reg(23), u8(0x15));
        QCOMPARE(shadow()[23], u8(0x15));
        QCOMPARE(order.size() % (3 * kWrites), size_t(0));
        const size_t perWrite = order.size() / (3 * kWrites);
        QVERIFY(perWrite >= 2);
        size_t run = 1;
        for (size_t i = 1; i <= order.size(); ++i) {
            if (i < order.size() && order[i] == order[i - 1]) {
                ++run;
                continue;
            }
            QCOMPARE(run % perWrite, size_t(0));
            run = 1;
        }
    }

    void portParameterOffsets()
    {
        unsigned short x, y, w, h;
        m_->get_eth_param_addr(1, &x, &y, &w, &h);
        QCOMPARE(x, u16(19));
        QCOMPARE(h, u16(25));
        m_->get_eth_param_addr(5, &x, &y, &w, &h);
        QCOMPARE(x, u16(528));
        m_->get_eth_param_addr(9, &x, &y, &w, &h);
        QCOMPARE(x, u16(584));
        m_->get_eth_param_addr(16, &x, &y, &w, &h);
        QCOMPARE(x, u16(8));
    }

    void softinitFillsCommandPage()
    {
        m_->softinit();
        const u8* page = fpga_manage::MCU_RAM_CMD;
        QCOMPARE(page[24], u8(1));
        QCOMPARE(page[25], u8(17));
        QCOMPARE(page[28], u8(0xFF));
        QCOMPARE(page[29], u8(1));
        QCOMPARE(page[30] | page[31] | page[32] | page[33], 0);
        QCOMPARE(fpga_manage::MCU_RAM_EXTEND[49], u8(159));
        QCOMPARE(fpga_manage::MCU_RAM_EXTEND[50], u8(31));
        QCOMPARE(g_send_para.job(), u8(0));
        QCOMPARE(g_send_para.step(), u8(255));
    }

    void jobPosting()
    {
        g_send_para.finish();
        QVERIFY(g_send_para.post(JOB_RCV_CHECK));
        QCOMPARE(g_send_para.job(), u8(JOB_RCV_CHECK));
        QCOMPARE(g_send_para.step(), u8(0));
        QVERIFY(!g_send_para.post(JOB_SAVE_TO_CARDS));
        g_send_para.set_step(7);
        QCOMPARE(g_send_para.job(), u8(JOB_RCV_CHECK));
        QCOMPARE(g_send_para.step(), u8(7));
        g_send_para.finish();
        g_usb_grade = 1;
        QVERIFY(!g_send_para.post(JOB_SMART_MAPPING));
        g_usb_grade = 0;
    }

    void concurrentPostersNeverLoseAJob()
    {
        for (int round = 0; round < 50; ++round) {
            g_send_para.finish();
            std::atomic<int> won{0};
            std::vector<std::thread> posters;
            for (u8 job = 1; job <= 6; ++job)
                posters.emplace_back([&won, job] {
                    if (g_send_para.post(job))
                        ++won;
                });
            for (auto& t : posters)
                t.join();
            QCOMPARE(won.load(), 1);
            QVERIFY(g_send_para.job() >= 1 && g_send_para.job() <= 6);
        }
        g_send_para.finish();
    }
};

QTEST_GUILESS_MAIN(TestFpgaRegs)
#include "test_fpga_regs.moc"
