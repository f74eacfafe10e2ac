// The FPGA's SPI flash through the driver, on the simulated flash.
#include <QtTest>

#include "board/sim/sim_fpga.h"
#include "board/sim/sim_spi_flash.h"
#include "ledout/fpga_drv.h"
#include "support/sim_fixture.h"

using board::sim::SimSpiFlash;

class TestFpgaFlash : public QObject
{
    Q_OBJECT

    SimFixture* fx_ = nullptr;
    fpga_drv* drv_ = nullptr;
    SimSpiFlash* flash() { return board::sim::simFpgaFlash(); }

    std::vector<SimSpiFlash::Op> ops(uint8_t cmd)
    {
        std::vector<SimSpiFlash::Op> out;
        for (const auto& op : flash()->ops())
            if (op.cmd == cmd)
                out.push_back(op);
        return out;
    }
    // A write buffer: four free bytes, then the data.
    static std::vector<u8> framed(const std::vector<u8>& data)
    {
        std::vector<u8> b(4, 0xEE);
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }

  private slots:
    void initTestCase()
    {
        fx_ = new SimFixture(false);
        board::sim::attachFpga(fx_->board());
        QCOMPARE(fx_->board().pads().map(), 0);
        drv_ = new fpga_drv();
        QVERIFY(drv_->initialize_vbyne1(2) >= 0);
        QCOMPARE(drv_->initialize_vbyne1(3), -1); // flash 1 is never fitted
    }
    void init() { flash()->clearOps(); }

    void eraseRange()
    {
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 2032, 2, 1), 1); // ends at sector 2048
        QCOMPARE(ops(0xD8).size(), size_t(1));
        QCOMPARE(ops(0xD8)[0].address, 2032u * 4096);
        flash()->clearOps();
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 2033, 2, 1), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 3, 1), 0);
        // 16 x 0x10000000 wraps to 0 in 32 bits: still refused.
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 2, 0x10000000u), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0xFFFFFFFFu, 0, 1), 0);
        QVERIFY(flash()->ops().empty()); // refused: no bus traffic
        // No unit at all is done, up to the end of the flash.
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 2048, 0, 0), 1);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 2049, 0, 0), 0);
        QVERIFY(ops(0x06).empty() && ops(0x20).empty());
    }

    void eraseUnitsAndWriteEnable()
    {
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 16, 1, 2), 1);
        const auto e = ops(0x52);
        QCOMPARE(e.size(), size_t(2));
        QCOMPARE(e[0].address, 16u * 4096);
        QCOMPARE(e[1].address, 24u * 4096);
        QCOMPARE(ops(0x06).size(), size_t(2));
    }

    void programChunksAndKeepsCallerBuffer()
    {
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1), 1);
        flash()->clearOps();
        std::vector<u8> data(300);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = u8(i * 7 + 1);
        std::vector<u8> buf = framed(data);
        const std::vector<u8> before = buf;
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x1F0, buf.data(), 300), 1);
        QCOMPARE(buf, before);
        const auto p = ops(0x02);
        QCOMPARE(p.size(), size_t(3));
        QCOMPARE(p[0].address, 0x1F0u);
        QCOMPARE(p[0].length, 16u);
        QCOMPARE(p[1].address, 0x200u);
        QCOMPARE(p[1].length, 256u);
        QCOMPARE(p[2].address, 0x300u);
        QCOMPARE(p[2].length, 28u);
        QCOMPARE(flash()->peek(0x1F0, 300), data);
        std::vector<u8> back(300);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_READ(2, 0x1F0, 300, back.data()), 1);
        QCOMPARE(back, data);
    }

    void programOnlyClearsBits()
    {
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 1, 0, 1), 1);
        std::vector<u8> a = framed({0xF0}), b = framed({0x0F});
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 4096, a.data(), 1), 1);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 4096, b.data(), 1), 1);
        QCOMPARE(flash()->peek(4096, 1)[0], u8(0x00));
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 1, 0, 1), 1);
        QCOMPARE(flash()->peek(4096, 1)[0], u8(0xFF));
    }

    void writeRange()
    {
        std::vector<u8> buf = framed(std::vector<u8>(16, 0x5A));
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x800000 - 16, buf.data(), 16), 1);
        flash()->clearOps();
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x800000 - 15, buf.data(), 16), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0xFFFFFFF0u, buf.data(), 16), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buf.data(), 0), 0);
        QVERIFY(flash()->ops().empty());
    }

    void readChunks()
    {
        std::vector<u8> out(4096);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 4096, out.data()), 1);
        QCOMPARE(ops(0x0B).size(), size_t(2));
        QCOMPARE(ops(0x0B)[1].address, 2048u);
        flash()->clearOps();
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 2049, out.data()), 1);
        const auto r = ops(0x0B);
        QCOMPARE(r.size(), size_t(2));
        QCOMPARE(r[0].length, 2048u + 1); // the dummy byte, then the data
        QCOMPARE(r[1].length, 1u + 1);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 0, out.data()), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_READ(2, 0x7FFFFF, 2, out.data()), 0);
    }

    void uniqueId()
    {
        u8 id[8] = {0};
        QCOMPARE(drv_->FPGA_SPI_FLASH_SSTF016B_RD_UID(2, id), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(id), 8),
                 QByteArray(reinterpret_cast<const char*>(SimSpiFlash::kUid), 8));
    }

    void linesReleasedAfterEachOperation()
    {
        u8 b;
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 1, &b), 1);
        board::Pads& pads = fx_->board().pads();
        QCOMPARE(pads.read16(FpgaPad::CS_FLASH0), FpgaPad::kHigh);
        QCOMPARE(pads.read16(FpgaPad::CS_FPGA0), FpgaPad::kHigh);
        QCOMPARE(pads.read16(FpgaPad::CS_FPGA1), FpgaPad::kHigh);
    }

    void secondFlashRefused()
    {
        u8 b[8];
        std::vector<u8> buf = framed({1});
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_READ(3, 0, 1, b), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(3, 0, buf.data(), 1), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(3, 0, 0, 1), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_SSTF016B_RD_UID(3, b), 0);
        QCOMPARE(drv_->SPI_Transfer(-1, buf.data(), b, 1), -1);
    }

    void stuckBusyTimesOut()
    {
        drv_->busy_limit_ms = 30;
        flash()->setStuckBusy(true);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 5, 0, 1), 0);
        std::vector<u8> buf = framed({0});
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 5 * 4096, buf.data(), 1), 0);
        flash()->setStuckBusy(false);
        drv_->busy_limit_ms = 3000;
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 5, 0, 1), 1);
    }

    void failedTransferReported()
    {
        fx_->board().simSpi().setFailing("/dev/spidev32766.3", true);
        u8 b[4];
        std::vector<u8> buf = framed({0});
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 4, b), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buf.data(), 1), 0);
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1), 0);
        fx_->board().simSpi().setFailing("/dev/spidev32766.3", false);
    }

    void contentSurvivesRestart()
    {
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_ERASE(2, 100, 0, 1), 1);
        std::vector<u8> buf = framed({0x12, 0x34, 0x56});
        QCOMPARE(drv_->FPGA_SPI_FLASH_VBYONE_WRITE(2, 100 * 4096, buf.data(), 3), 1);
        SimSpiFlash again(fx_->board().modelDir() + "/fpga_flash.bin", FpgaPad::CS_FLASH0, FpgaPad::CS_FPGA0);
        QVERIFY(again.open());
        QCOMPARE(again.peek(100 * 4096, 3), (std::vector<u8>{0x12, 0x34, 0x56}));
    }
};

QTEST_GUILESS_MAIN(TestFpgaFlash)
#include "test_fpga_flash.moc"
