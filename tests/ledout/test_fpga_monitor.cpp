// The monitor change with its LCD size and line tables, the data-phase LCD
// register write and the flash's write-protection release, on the
// simulated board.
#include <QtTest>

#include <memory>

#include <cstring>
#include <mutex>

#include "board/sim/sim_fpga.h"
#include "board/sim/sim_inputs.h"
#include "chips/drv_i2c.h"
#include "chips/sii9022.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "support/sim_fixture.h"

using board::sim::SimFpga;
using Bytes = std::vector<u8>;

namespace
{
// A device that keeps every message it is given.
class Recorder : public board::sim::SpiDevice
{
  public:
    int transfer(const board::SpiXfer* xfers, unsigned n) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        int moved = 0;
        for (unsigned i = 0; i < n; ++i) {
            messages.emplace_back(xfers[i].tx, xfers[i].tx + xfers[i].len);
            if (xfers[i].rx)
                std::memset(xfers[i].rx, 0x02, xfers[i].len);
            moved += int(xfers[i].len);
        }
        return moved;
    }
    std::mutex mutex;
    std::vector<Bytes> messages;
};

bool line(const Bytes& t, unsigned k)
{
    return t[(k - 1) / 8] & (1u << ((k - 1) % 8));
}
} // namespace

class TestFpgaMonitor : public QObject
{
    Q_OBJECT
    std::unique_ptr<SimFixture> fx_;
    fpga_manage* m_ = nullptr;
    Recorder rec_;
    SimFpga* fpga() { return board::sim::simFpga(); }

  private slots:
    void initTestCase()
    {
        fx_.reset(new SimFixture(true));
        fx_->board().simSpi().attach("/dev/spidev32766.2", &rec_);
        ZevRamPara::pInstance();
        m_ = fpga_manage::pInstance();
        QCOMPARE(Drv_I2C0::pInstance()->open_bus(), 0);
        SiI9022::pInstance();
    }

    void lineTables_data()
    {
        QTest::addColumn<uint>("n");
        QTest::addColumn<uint>("m");
        QTest::newRow("1280 on 1024") << 1280u << 1024u;
        QTest::newRow("1281 on 1024, last line ends a byte") << 1281u << 1024u;
        QTest::newRow("2000 on 768") << 2000u << 768u;
        QTest::newRow("equal") << 1024u << 1024u;
        QTest::newRow("fewer") << 600u << 1024u;
        QTest::newRow("none") << 0u << 1024u;
    }
    void lineTables()
    {
        QFETCH(uint, n);
        QFETCH(uint, m);
        Bytes t(2048, 0xAA);
        fpga_manage::row_col_calcul_ram(n, m, t.data());
        if (n == 0) {
            QCOMPARE(t, Bytes(2048, 0xAA));
            return;
        }
        if (n <= m) {
            QCOMPARE(Bytes(t.begin(), t.begin() + m / 8), Bytes(m / 8, 0xFF));
            QCOMPARE(t[m / 8], u8(0xAA));
            return;
        }
        // n - 1 lines of which m - 1 are set, spread evenly.
        const unsigned last = n - 1;
        unsigned ones = 0;
        for (unsigned k = 1; k <= last; ++k)
            ones += line(t, k);
        QCOMPARE(ones, m - 1);
        for (unsigned i = 1; i < m; ++i)
            QVERIFY(line(t, unsigned(float(i) * (float(n) / float(m)))));
        // Filled up behind the last line.
        if (last % 8 == 0) {
            QCOMPARE(t[last / 8], u8(0xFF));
        } else {
            for (unsigned k = last + 1; k % 8 != 1; ++k)
                QVERIFY(line(t, k));
        }
        if (n == 1280) {
            QCOMPARE(t[0] & 0x1F, 0x17); // 1, 1, 1, 0, 1
            QVERIFY(!line(t, 1279));
        }
    }

    void lcdSizeAndTablesReachTheFpga()
    {
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLedWidth, 1280);
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLedHeight, 720);
        QCOMPARE(m_->set_fpga_lcd_wh(0), 1);
        const Bytes size{0, 0, 0, 0, 0x00, 0x05, 0xD0, 0x02};
        QCOMPARE(fpga()->ram(1, 424, 8), size);
        QCOMPARE(Bytes(fpga_manage::MCU_RAM_PARA_func[0] + 424, fpga_manage::MCU_RAM_PARA_func[0] + 432), size);
        Bytes columns(2000, 0);
        fpga_manage::row_col_calcul_ram(1280, 1024, columns.data());
        QCOMPARE(fpga()->ram(35, 0, 2000), columns);
        Bytes rows(512, 0);
        std::memset(rows.data(), 0xFF, 96);
        QCOMPARE(fpga()->ram(34, 0, 512), rows);
        // A width the column table cannot hold is refused.
        QCOMPARE(m_->set_fpga_row_col_ram(15984, 100, 0), 1);
        QCOMPARE(m_->set_fpga_row_col_ram(15985, 100, 0), 0);
        QCOMPARE(m_->set_fpga_row_col_ram(100, 4081, 0), 0);
    }

    void monitorChangeSteps()
    {
        QCOMPARE(m_->monitor_state[0].load(), 3u);
        QCOMPARE(m_->monitor_state[1].load(), 3u);
        auto* in = board::sim::SimInputs::current();
        in->setTransmitterPresent(0, false);
        m_->set_9022_para(0);
        QCOMPARE(m_->monitor_state[0].load(), 3u);
        in->setTransmitterPresent(0, true);
        m_->set_9022_para(0);
        QCOMPARE(m_->monitor_state[0].load(), 4u);

        m_->write_fpga_register(23, 0x00, 0, 0xFF);
        m_->write_fpga_register(2, 0x00, 0, 0xFF);
        m_->check_monitor_change(0);
        QCOMPARE(m_->monitor_state[0].load(), 0u);
        QCOMPARE(fpga()->reg(23) & 0x10, 0x10);
        QCOMPARE(fpga()->reg(2) & 0x01, 0x01);
        QCOMPARE(m_->monitor_delay[0], 100u);

        // A change: register 23 bit 4 drops and the measured size is polled
        // once the delay has passed, until both words are set.
        m_->monitor_state[0] = 1;
        G_timeTicks = 5000;
        m_->check_monitor_change(0);
        QCOMPARE(m_->monitor_state[0].load(), 2u);
        QCOMPARE(fpga()->reg(23) & 0x10, 0x00);
        const u8 measured[4] = {0x80, 0x07, 0x00, 0x00};
        QCOMPARE(m_->write_fpga_ram(measured, 116, 4, 0, 0), 1);
        G_timeTicks += 100;
        m_->check_monitor_change(0);
        QCOMPARE(m_->monitor_state[0].load(), 2u);
        G_timeTicks += 1;
        m_->check_monitor_change(0);
        QCOMPARE(m_->monitor_state[0].load(), 2u);
        QCOMPARE(ZevRamPara::get16(fpga_manage::MCU_RAM_PARA_func[0], 116), u16(0x0780));
        const u8 height[2] = {0x38, 0x04};
        QCOMPARE(m_->write_fpga_ram(height, 118, 2, 0, 0), 1);
        G_timeTicks += 101;
        m_->check_monitor_change(0);
        QCOMPARE(m_->monitor_state[0].load(), 3u);
        m_->monitor_state[0] = 0;
        m_->set_lcd_change_flag();
        QCOMPARE(m_->monitor_state[0].load(), 3u);
    }

    void lcdRegisterBytesGoInTheDataPhase()
    {
        int messages = 0;
        bool dataPhase = true;
        board::Pads& pads = fx_->board().pads();
        fpga()->setPollHook([&] {
            ++messages;
            dataPhase = dataPhase && pads.read16(FpgaPad::CMD_FPGA0) == FpgaPad::kLow &&
                        pads.read16(FpgaPad::CS_FPGA0) == FpgaPad::kLow;
        });
        u8 data[3] = {1, 2, 3};
        QCOMPARE(m_->write_LCD_register(0x1234, data, 0, 3), 1);
        fpga()->setPollHook(nullptr);
        QCOMPARE(messages, 4);
        QVERIFY(dataPhase);
        QCOMPARE(pads.read16(FpgaPad::CS_FPGA0), FpgaPad::kHigh);
        QCOMPARE(pads.read16(FpgaPad::CS_FPGA1), FpgaPad::kHigh);
        // The board has no second FPGA.
        QCOMPARE(m_->write_LCD_register(0x12, data, 1, 3), 0);
    }

    void writeProtectionRelease()
    {
        const int fd = m_->p_drv->initialize_vbyne1(1);
        QVERIFY(fd >= 0);
        rec_.messages.clear();
        QCOMPARE(m_->p_drv->FPGA_SPI_Disable_WP(fd), 1);
        const std::vector<Bytes> want{{0x06}, {0x01, 0xFF, 0xFF}, {0xFF, 0xFF}, {0x06},       {0x31, 0x00},
                                      {0x06}, {0xFF, 0x00},       {0x06},       {0xFF, 0x00}, {0xFF, 0x00}};
        QCOMPARE(rec_.messages, want);
        fx_->board().simSpi().setFailing("/dev/spidev32766.2", true);
        QCOMPARE(m_->p_drv->FPGA_SPI_Disable_WP(fd), 0);
        fx_->board().simSpi().setFailing("/dev/spidev32766.2", false);
        QCOMPARE(m_->p_drv->FPGA_SPI_Disable_WP(-1), 0);
    }
};

QTEST_GUILESS_MAIN(TestFpgaMonitor)
#include "test_fpga_monitor.moc"
