// Without the FPGA's devices and with pads that cannot be mapped, every bus
// operation is refused and the worker runs on without LED output.
#include <QtTest>

#include "chips/tarvosource.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "support/sim_fixture.h"

class TestFpgaNoDevice : public QObject
{
    Q_OBJECT

    SimFixture* fx_ = nullptr;
    fpga_manage* m_ = nullptr;

  private slots:
    void initTestCase()
    {
        fx_ = new SimFixture(false); // no FPGA and no flash attached
        fx_->board().simPads().setMapFails(true);
        m_ = fpga_manage::pInstance();
        tarvosource::p_tarvo_source = new tarvosource();
        tarvosource::p_tarvo_source->source_state = 2;
        g_debugSwitch = 0;
    }

    void descriptorsAreMinusOne()
    {
        QCOMPARE(m_->fpga_vbyone1_fd, -1);
        QCOMPARE(m_->fpga_vbyone1_flash_fd, -1);
        QCOMPARE(m_->fpga_vbyone2_fd, -1);
        QCOMPARE(m_->fpga_vbyone2_flash_fd, -1);
        QCOMPARE(m_->initialize(), 255);
        QVERIFY(!fpga_drv::lines_mapped());
    }

    void everyOperationRefused()
    {
        u8 buf[16] = {0};
        QCOMPARE(m_->read_from_register(22, 0), 0);
        QCOMPARE(m_->write_to_register(23, 0x01, 0x01, 0), 0);
        QCOMPARE(m_->write_fpga_ram(buf, 0, 16, 1, 0), 0);
        QCOMPARE(m_->read_fpga_ram(buf, 0, 16, 1, 0), 0);
        QCOMPARE(m_->p_drv->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 4, buf), 0);
        QCOMPARE(m_->p_drv->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buf, 4), 0);
        QCOMPARE(m_->p_drv->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1), 0);
        QCOMPARE(m_->p_drv->FPGA_SPI_FLASH_SSTF016B_RD_UID(2, buf), 0);
        QCOMPARE(m_->p_drv->SPI_Transfer(0, buf, buf, 4), -1);
        // Shadow-only registers still work.
        QCOMPARE(m_->write_to_register(64, 0xFF, 9, 0), 1);
        QCOMPARE(fpga_manage::MCU_REG_func[0][64], u8(9));
    }

    void workerRunsOnWithoutOutput()
    {
        m_->softinit();
        G_timeTicks = 0;
        for (int i = 0; i < 3000; ++i) {
            G_timeTicks += 1;
            m_->fpga_manage_deal();
        }
        QVERIFY(!m_->get_fpga_status());
        QCOMPARE(m_->start[0].vbo_state.load(), u8(1)); // waits for a valid input check
    }
};

QTEST_GUILESS_MAIN(TestFpgaNoDevice)
#include "test_fpga_nodevice.moc"
