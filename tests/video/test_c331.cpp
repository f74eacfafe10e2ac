// The video-processor chip on the simulated board: register access, its
// serial flash and fonts, and the road of a parameter change through the
// video-processor thread's apply pass.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "board/sim/sim_c331.h"
#include "board/sim/sim_inputs.h"
#include "chips/drv_i2c.h"
#include "chips/edid_default.h"
#include "chips/tarvosource.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "support/sim_fixture.h"
#include "video/c331_drv.h"
#include "video/c331_manage.h"
#include "board/c331_regs.h"

using namespace C331Reg;
using board::sim::SimC331;

namespace
{
u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}
void put(int off, u16 v)
{
    ZevRamPara::put16(img(), off, v);
}
int layer(int i)
{
    return ZevRamPara::layerOffset(i);
}
} // namespace

class TestC331 : public QObject
{
    Q_OBJECT

  private:
    std::unique_ptr<SimFixture> fx;
    SimC331* chip = nullptr;
    c331_manage* mgr = nullptr;

    // What SyncUpdate::para_sync does once the GUI saw the change.
    void settle() { std::memcpy(ZevRamPara::p_zevrampara_shadow, img(), Img::kSize); }

  private slots:
    void initTestCase()
    {
        fx.reset(new SimFixture(true));
        chip = SimC331::current();
        QVERIFY(chip);
        ZevRamPara::pInstance();
        c331_drv::flash_busy_limit_us = 20000;
        mgr = new c331_manage();
        c331_manage::p_c331_manage = mgr;
        QCOMPARE(mgr->initialize(), 0);
        mgr->led_wait_limit_ms = 30;
    }

    void init()
    {
        fx->board().simSpi().setFailing("/dev/spidev32766.0", false);
        chip->setFlashStuck(false);
        chip->setWrongId(false);
        g_set_led_para = 0;
        c331_manage::para_update_flag = 0;
    }

    // ---- register access ----

    void registerBankProtocol()
    {
        QVERIFY(c331_drv::write_reg(mgr->spi_fd, reg(0x12, 0x05), 0xA5));
        QVERIFY(c331_drv::write_reg(mgr->spi_fd, reg(0x02, 0x05), 0x5A));
        QCOMPARE(chip->reg(0x12, 0x05), u8(0xA5));
        QCOMPARE(chip->reg(0x02, 0x05), u8(0x5A));
        u8 v = 0;
        QVERIFY(c331_drv::read_reg(mgr->spi_fd, reg(0x12, 0x05), &v));
        QCOMPARE(v, u8(0xA5));
        QVERIFY(c331_drv::write_reg16(mgr->spi_fd, reg(0x12, 0x06), 0x1234));
        QCOMPARE(chip->reg16(0x12, 0x06), u16(0x1234));
        // Address 0 is the bank select, never a register of its own.
        QVERIFY(!c331_drv::write_reg(mgr->spi_fd, reg(0x12, 0x00), 1));
    }

    void failedTransferIsReported()
    {
        fx->board().simSpi().setFailing("/dev/spidev32766.0", true);
        u8 v = 0;
        QVERIFY(!c331_drv::write_reg(mgr->spi_fd, reg(0x02, 0x01), 1));
        QVERIFY(!c331_drv::read_reg(mgr->spi_fd, reg(0x02, 0x01), &v));
        fx->board().simSpi().setFailing("/dev/spidev32766.0", false);
        // The bank is selected again after a failure.
        QVERIFY(c331_drv::write_reg(mgr->spi_fd, reg(0x13, 0x01), 7));
        QCOMPARE(chip->reg(0x13, 0x01), u8(7));
    }

    // ---- serial flash ----

    void flashEraseProgramRead()
    {
        int fd = mgr->spi_fd;
        const int addr = 0x200000;
        QVERIFY(mgr->erase_flash(fd, addr / 4096, 1, 2)); // 64 KiB
        QByteArray data(1000, 0);
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 7 + 3);
        // Starts mid-page and crosses four page boundaries.
        QVERIFY(mgr->write_flash(fd, addr + 100, data.size(), data.data()));
        QByteArray back(data.size(), 0);
        QVERIFY(mgr->read_flash(fd, addr + 100, back.size(), back.data()));
        QCOMPARE(back, data);
        auto raw = chip->flashRead(addr + 100, 1000);
        QVERIFY(std::memcmp(raw.data(), data.constData(), 1000) == 0);
        QCOMPARE(chip->flashRead(addr + 99, 1)[0], u8(0xFF));

        // Programming only clears bits: without an erase the data is ANDed.
        char ff0f = char(0x0F);
        QVERIFY(mgr->write_flash(fd, addr + 100, 1, &ff0f));
        QCOMPARE(chip->flashRead(addr + 100, 1)[0], u8(u8(data[0]) & 0x0F));
    }

    void flashEraseUnits()
    {
        int fd = mgr->spi_fd;
        const u32 base = 0x300000;
        QByteArray zeros(0x10000, 0);
        QVERIFY(mgr->write_flash(fd, base, zeros.size(), zeros.data()));
        // 4 KiB at sector base/4096 + 1.
        QVERIFY(mgr->erase_flash(fd, base / 4096 + 1, 1, 0));
        QCOMPARE(chip->flashRead(base + 0x0FFF, 1)[0], u8(0));
        QCOMPARE(chip->flashRead(base + 0x1000, 1)[0], u8(0xFF));
        QCOMPARE(chip->flashRead(base + 0x1FFF, 1)[0], u8(0xFF));
        QCOMPARE(chip->flashRead(base + 0x2000, 1)[0], u8(0));
        // Two 32 KiB blocks cover the whole 64 KiB.
        QVERIFY(mgr->erase_flash(fd, base / 4096, 2, 1));
        auto all = chip->flashRead(base, 0x10000);
        QVERIFY(std::all_of(all.begin(), all.end(), [](u8 b) { return b == 0xFF; }));
    }

    void flashBounds()
    {
        int fd = mgr->spi_fd;
        char b[4] = {};
        QVERIFY(!mgr->write_flash(fd, int(kFlashSize) - 2, 4, b));
        QVERIFY(!mgr->read_flash(fd, int(kFlashSize) - 2, 4, b));
        QVERIFY(mgr->read_flash(fd, int(kFlashSize) - 1, 1, b));
        QVERIFY(!mgr->erase_flash(fd, int(kFlashSize / 4096) - 8, 1, 2)); // 64 KiB past the end
        QVERIFY(!mgr->erase_flash(fd, 0, 0, 0));
        QVERIFY(!mgr->write_flash(fd, 0, 0, b));
    }

    void flashBusyTimesOut()
    {
        int fd = mgr->spi_fd;
        chip->setFlashStuck(true);
        char b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        auto t0 = std::chrono::steady_clock::now();
        QVERIFY(!mgr->erase_flash(fd, 0x400, 1, 0));
        QVERIFY(!mgr->write_flash(fd, 0x400000, 8, b));
        QVERIFY(!mgr->read_flash(fd, 0x400000, 8, b));
        QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2));
        chip->setFlashStuck(false);
        QVERIFY(mgr->erase_flash(fd, 0x400, 1, 0));
    }

    void flashFailedTransferIsNotSuccess()
    {
        int fd = mgr->spi_fd;
        char b[8] = {};
        fx->board().simSpi().setFailing("/dev/spidev32766.0", true);
        QVERIFY(!mgr->erase_flash(fd, 0x500, 1, 0));
        QVERIFY(!mgr->write_flash(fd, 0x500000, 8, b));
        QVERIFY(!mgr->read_flash(fd, 0x500000, 8, b));
    }

    // ---- fonts ----

    void fontDetection()
    {
        int fd = mgr->spi_fd;
        chip->setFonts(0xF);
        ZevRamPara::device.font_status = 0;
        QVERIFY(mgr->read_c331_font(fd));
        QCOMPARE(ZevRamPara::device.font_status, u8(0x3F));
        QCOMPARE(mgr->font_mask.load(), u8(0xF));

        // The 32-pixel Chinese font (0x10000) and the 64-pixel English font
        // (0x410000) are gone.
        QVERIFY(mgr->erase_flash(fd, 0x10000 / 4096, 1, 0));
        QVERIFY(mgr->erase_flash(fd, 0x410000 / 4096, 1, 2));
        QVERIFY(mgr->read_c331_font(fd));
        QCOMPARE(ZevRamPara::device.font_status, u8(0x01 | 0x28));
        QCOMPARE(mgr->font_mask.load(), u8(0x9));

        mgr->update_font(fd);
        QCOMPARE(chip->reg(kOsdBank, addrOf(kOsdFontMask)), u8(0x9));
        QCOMPARE(chip->reg(kOsdBank, addrOf(osdFontBase(3)) + 2), u8(0x45));

        // A font written back is found again.
        char header[35] = {'P'};
        QVERIFY(mgr->write_flash(fd, 0x10000, 35, header));
        QVERIFY(mgr->read_c331_font(fd));
        QCOMPARE(ZevRamPara::device.font_status & 0x02, 0x02);

        // An unreadable header leaves what was known.
        fx->board().simSpi().setFailing("/dev/spidev32766.0", true);
        QVERIFY(!mgr->read_c331_font(fd));
        QCOMPARE(ZevRamPara::device.font_status & 0x02, 0x02);
        fx->board().simSpi().setFailing("/dev/spidev32766.0", false);
        chip->setFonts(0xF);
    }

    // ---- window set-up ----

    void windowSetup()
    {
        u8 image[Img::kSize] = {};
        int rec = layer(2);
        ZevRamPara::put16(image, Img::kSourceTiming + 6 * 3, 1920);
        ZevRamPara::put16(image, Img::kSourceTiming + 6 * 3 + 2, 1080);
        ZevRamPara::put16(image, rec + Img::kLayerEnable, 1);
        ZevRamPara::put16(image, rec + Img::kLayerSource, 3);
        ZevRamPara::put16(image, rec + Img::kLayerW, 960);
        ZevRamPara::put16(image, rec + Img::kLayerH, 540);
        C331Window w = c331_window_setup(image, 2);
        QCOMPARE(int(w.enable), 1);
        QCOMPARE(int(w.source), 3);
        QCOMPARE(int(w.cropW), 1920);
        QCOMPARE(int(w.scaleH), 8192);

        // A crop reaching past the input is cut at its edge.
        int crop = Img::kCropTable + Img::kCropSize * 7;
        ZevRamPara::put16(image, crop, 0x8000 | (2 << 8) | 3);
        ZevRamPara::put16(image, crop + 2, 1800);
        ZevRamPara::put16(image, crop + 4, 100);
        ZevRamPara::put16(image, crop + 6, 500);
        ZevRamPara::put16(image, crop + 8, 200);
        ZevRamPara::put16(image, rec + Img::kLayerSource, 0x8007);
        w = c331_window_setup(image, 2);
        QCOMPARE(int(w.enable), 1);
        QCOMPARE(int(w.cropX), 1800);
        QCOMPARE(int(w.cropW), 120);
        QCOMPARE(int(w.cropH), 200);

        // A deleted crop, a crop index past the table, a source past 5 and a
        // zero-sized window show nothing; a zero size never divides.
        ZevRamPara::put16(image, crop, 0);
        QCOMPARE(int(c331_window_setup(image, 2).enable), 0);
        ZevRamPara::put16(image, rec + Img::kLayerSource, 0x8000 | 45);
        QCOMPARE(int(c331_window_setup(image, 2).enable), 0);
        ZevRamPara::put16(image, rec + Img::kLayerSource, 9);
        QCOMPARE(int(c331_window_setup(image, 2).enable), 0);
        ZevRamPara::put16(image, rec + Img::kLayerSource, 3);
        ZevRamPara::put16(image, rec + Img::kLayerW, 0);
        w = c331_window_setup(image, 2);
        QCOMPARE(int(w.enable), 0);
        QCOMPARE(int(w.scaleH), 4096);
    }

    // ---- the road of a change ----

    void bringUpProgramsTheImage()
    {
        put(Img::kContrast, 61);
        settle();
        QVERIFY(mgr->bring_up());
        QVERIFY(mgr->chip_up);
        QCOMPARE(chip->reg(kPictureBank, addrOf(kContrast)), u8(61));
        QCOMPARE(chip->reg16(kPanelBank, addrOf(kLedWidth)), ZevRamPara::img16(Img::kLedWidth));
        QCOMPARE(chip->reg(kSysBank, addrOf(kInitDone)), u8(1));
    }

    void applyRoadEndToEnd()
    {
        QVERIFY(mgr->chip_up);
        QSignalSpy spy(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
        fpga_manage::pInstance();
        fpga_manage::p_fpga_manage->bri_set_flag = 0;

        // A page: image bytes and the apply byte under the manager's mutex.
        c331_apply(1, [] {
            img()[Img::kTestPattern] = 6;
            put(Img::kBrightness, 37);
            put(layer(1) + Img::kLayerEnable, 1);
            put(layer(1) + Img::kLayerSource, 2);
            put(layer(1) + Img::kLayerX, 64);
            put(layer(1) + Img::kLayerW, 320);
            put(layer(1) + Img::kLayerH, 240);
        });
        mgr->c331managerdeal();

        QCOMPARE(chip->reg(kPictureBank, addrOf(kPattern)), u8(6));
        QCOMPARE(chip->reg(kPictureBank, addrOf(kBrightness)), u8(37));
        QCOMPARE(chip->reg(windowBank(1), kWinEnable), u8(1));
        QCOMPARE(chip->reg(windowBank(1), kWinSource), u8(2));
        QCOMPARE(chip->reg16(windowBank(1), kWinX), u16(64));
        QCOMPARE(chip->reg16(windowBank(1), kWinW), u16(320));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 1);
        QCOMPARE(int(c331_manage::para_update_flag), 0);
        QCOMPARE(int(fpga_manage::p_fpga_manage->bri_set_flag), 1);
        settle();

        // Nothing pending: a turn programs nothing and signals nothing.
        unsigned writes = chip->writeCount();
        mgr->c331managerdeal();
        QCOMPARE(chip->writeCount(), writes);
        QCOMPARE(spy.count(), 1);

        // A factory reset is announced with its own code; an unchanged
        // brightness raises no FPGA request.
        fpga_manage::p_fpga_manage->bri_set_flag = 0;
        c331_apply(2, [] { put(Img::kContrast, 50); });
        mgr->c331managerdeal();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toInt(), 2);
        QCOMPARE(chip->reg(kPictureBank, addrOf(kContrast)), u8(50));
        QCOMPARE(int(fpga_manage::p_fpga_manage->bri_set_flag), 0);
        settle();
    }

    void aChangeSavedBeforeItsApplyStillReachesTheChip()
    {
        QVERIFY(mgr->chip_up);
        c331_apply(1, [] { put(Img::kContrast, 20); });
        mgr->c331managerdeal();
        settle();
        // The PC writes the image; the GUI saves it (image into shadow) for
        // another reason before the PC asks for the apply.
        put(Img::kContrast, 33);
        put(layer(2) + Img::kLayerX, 96);
        settle();
        c331_apply(1, [] {});
        mgr->c331managerdeal();
        QCOMPARE(chip->reg(kPictureBank, addrOf(kContrast)), u8(33));
        QCOMPARE(chip->reg16(windowBank(2), kWinX), u16(96));
    }

    void inputChangeReappliesItsWindows()
    {
        QVERIFY(mgr->chip_up);
        c331_apply(1, [] {
            put(layer(0) + Img::kLayerEnable, 1);
            put(layer(0) + Img::kLayerSource, 4);
            put(layer(0) + Img::kLayerW, 1920);
            put(layer(0) + Img::kLayerH, 1080);
        });
        mgr->c331managerdeal();
        settle();
        {
            QMutexLocker l(&Utils::_source_hdminfo_mutex);
            put(Img::kSourceTiming + 6 * 4, 3840);
            put(Img::kSourceTiming + 6 * 4 + 2, 2160);
            img()[Img::kSourceTiming + 6 * 4 + 4] = 30;
        }
        mgr->c331managerdeal();
        QCOMPARE(chip->reg16(windowBank(0), kWinCropW), u16(3840));
        QCOMPARE(chip->reg16(windowBank(0), kWinScaleH), u16(8192));
    }

    void everyChangedEdidIsServed()
    {
        Drv_I2C0::pInstance()->open_bus();
        tarvosource src;
        src.hpd_low_ms = 0;
        tarvosource::p_tarvo_source = &src;
        for (int s = 0; s < kSourceCount; ++s)
            QVERIFY(src.serve_edid(s));

        // Two records change before the thread's next turn.
        ZevRamPara::ZevSetEDIDPara(1, 1280, 720, 60);
        ZevRamPara::ZevSetEDIDPara(4, 3840, 2160, 30);
        QVERIFY(c331_manage::para_update_flag != 0);
        mgr->c331managerdeal();
        src.checksource_step();
        tarvosource::p_tarvo_source = nullptr;

        auto* in = board::sim::SimInputs::current();
        u8 want[kEdidSize];
        build_default_edid(1, 1280, 720, 60, want);
        auto e1 = in->eeprom(1);
        QVERIFY(std::memcmp(e1.data(), want, kEdidSize) == 0);
        build_default_edid(4, 3840, 2160, 30, want);
        auto e4 = in->eeprom(4);
        QVERIFY(std::memcmp(e4.data(), want, kEdidSize) == 0);
        QVERIFY(in->hotPlug(1) && in->hotPlug(4));
        settle();
    }

    void panelWaitsForLedHandshakeWithoutTheMutex()
    {
        QVERIFY(mgr->chip_up);
        mgr->led_wait_limit_ms = 10000;
        {
            QMutexLocker l(&Utils::_led_para_init_mutex);
            g_set_led_para = 1;
        }
        c331_apply(1, [] { put(Img::kLedWidth, 2048); });
        std::atomic<bool> started{false};
        std::thread worker([&] {
            started = true;
            mgr->c331managerdeal();
        });
        while (!started)
            std::this_thread::yield();
        QThread::msleep(20);
        // A page writes while the thread waits for the FPGA worker: it must
        // get the mutex at once, not after the wait's cap.
        auto t0 = std::chrono::steady_clock::now();
        c331_apply(1, [] { put(Img::kLedHeight, 512); });
        QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2));
        {
            QMutexLocker l(&Utils::_led_para_init_mutex);
            g_set_led_para = 0; // the FPGA worker finished its steps
        }
        worker.join();
        QCOMPARE(chip->reg16(kPanelBank, addrOf(kLedWidth)), u16(2048));
        QCOMPARE(chip->reg16(kPanelBank, addrOf(kLedHeight)), u16(512));
        QCOMPARE(int(g_set_led_para), 2);
        QCOMPARE(int(c331_manage::para_update_flag), 0);
        settle();
        mgr->led_wait_limit_ms = 30;
    }

    void ledHandshakeWaitIsCapped()
    {
        g_set_led_para = 1; // no FPGA worker answers
        c331_apply(1, [] { put(Img::kOut1Width, 1024); });
        auto t0 = std::chrono::steady_clock::now();
        mgr->c331managerdeal();
        QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2));
        QCOMPARE(chip->reg16(kPanelBank, addrOf(kOut1Width)), u16(1024));
        QCOMPARE(int(g_set_led_para), 2);
        QCOMPARE(int(c331_manage::para_update_flag), 0);
        settle();
    }

    void chipDownStillCompletesTheApply()
    {
        QSignalSpy spy(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
        fx->board().simSpi().setFailing("/dev/spidev32766.0", true);
        c331_apply(1, [] { put(Img::kContrast, 77); });
        mgr->c331managerdeal();
        // The settings are still announced (and so saved); the chip is set
        // up again once it answers.
        QCOMPARE(spy.count(), 1);
        QCOMPARE(int(c331_manage::para_update_flag), 0);
        QVERIFY(!mgr->chip_up);
        settle();
        fx->board().simSpi().setFailing("/dev/spidev32766.0", false);
        chip->setWrongId(true);
        QVERIFY(!mgr->bring_up());
        chip->setWrongId(false);
        QVERIFY(mgr->bring_up());
        QCOMPARE(chip->reg(kPictureBank, addrOf(kContrast)), u8(77));
    }

    void osdReload()
    {
        QVERIFY(mgr->chip_up);
        writeHostFile(fx->hostQ("/data/configs/omenu.json"),
                      R"({"name":"m","osdcount":1,"oactcount":1,"menu":[{"type":0,"status":1,
                      "pos":{"x":10,"y":20,"w":300,"h":40},"texts":"AB"}]})");
        put(Img::kOsdMenuFlag, 1);
        {
            C331Lock lock;
            g_osd_update = 1;
        }
        mgr->c331managerdeal();
        QCOMPARE(int(g_osd_update), 0);
        QCOMPARE(chip->reg(kOsdBank, addrOf(kOsdEnable)), u8(1));
        QCOMPARE(chip->reg(kOsdBank, osdBoxAddr(0) + kOsdBoxEnable), u8(1));
        QCOMPARE(chip->reg16(kOsdBank, osdBoxAddr(0) + kOsdBoxW), u16(300));
        QCOMPARE(chip->reg(kOsdBank, osdBoxAddr(0) + kOsdBoxTextLen), u8(2));
        QCOMPARE(chip->reg(kOsdBank, osdBoxAddr(1) + kOsdBoxEnable), u8(0));
    }
};

QTEST_GUILESS_MAIN(TestC331)
#include "test_c331.moc"
