// The input chips on the simulated board: bring-up, EDIDs and hot-plug, the
// source-check step that carries input changes into the image, the monitor
// transmitters, and the simulated inputs file.
#include <cstring>

#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "board/sim/sim_inputs.h"
#include "chips/drv_i2c.h"
#include "chips/edid_default.h"
#include "chips/sii9022.h"
#include "chips/tarvosource.h"
#include "core/zevrampara.h"
#include "support/sim_fixture.h"

using board::sim::SimInputs;

namespace
{
SOURCE_TIMING timing(int s)
{
    SOURCE_TIMING t;
    std::memcpy(&t, ZevRamPara::p_zevrampara_config + Img::kSourceTiming + 6 * s, 6);
    return t;
}
} // namespace

class TestTarvosource : public QObject
{
    Q_OBJECT

  private:
    std::unique_ptr<SimFixture> fx;
    SimInputs* in = nullptr;
    tarvosource* src = nullptr;

    void plug(const char* text) { QVERIFY(writeHostFile(QString::fromStdString(in->inputsPath()), text)); }

  private slots:
    void initTestCase()
    {
        fx.reset(new SimFixture(true));
        in = SimInputs::current();
        QVERIFY(in);
        ZevRamPara::pInstance();
        QCOMPARE(Drv_I2C0::pInstance()->open_bus(), 0);
        src = tarvosource::pInstance();
        src->hpd_low_ms = 0;
    }

    void inputsFileFormat()
    {
        auto s = SimInputs::parse("# comment\nEXT 1280x720@50\n3 3840x2160@30 # trailing\nDVI off\n"
                                  "HDMI4 junk\nHDMI9 800x600@60\nHDMI3 0x0@60\n");
        QCOMPARE(int(s[0].width), 1280);
        QCOMPARE(int(s[0].rate), 50);
        QCOMPARE(int(s[3].height), 2160);
        QCOMPARE(int(s[1].width), 0);
        QCOMPARE(int(s[5].width), 0);
        QCOMPARE(int(s[4].width), 0);
        // The default file carries HDMI1 at 1080p.
        QCOMPARE(int(in->signal(2).width), 1920);
    }

    void defaultEdid()
    {
        u8 e[kEdidSize];
        u16 clock = build_default_edid(2, 1920, 1080, 60, e);
        QCOMPARE(int(clock), 13850); // 138.5 MHz, reduced blanking
        QVERIFY(edid_block_valid(e));
        QVERIFY(edid_block_valid(e + 128));
        QCOMPARE(int(e[126]), 1);
        QCOMPARE(int(e[56] | (e[58] & 0xF0) << 4), 1920);
        QCOMPARE(int(e[59] | (e[61] & 0xF0) << 4), 1080);
        // DVI has no HDMI extension.
        build_default_edid(1, 1280, 720, 60, e);
        QVERIFY(edid_block_valid(e));
        QCOMPARE(int(e[126]), 0);
        QCOMPARE(int(e[56] | (e[58] & 0xF0) << 4), 1280);
        // A zero setting, and one no detailed timing can carry, give 1080p.
        build_default_edid(3, 0, 0, 0, e);
        QCOMPARE(int(e[56] | (e[58] & 0xF0) << 4), 1920);
        build_default_edid(3, 7680, 4320, 60, e);
        QCOMPARE(int(e[56] | (e[58] & 0xF0) << 4), 1920);
        QVERIFY(edid_block_valid(e));
    }

    void bringUp()
    {
        ZevRamPara::device.status[0] = 0;
        src->bring_up();
        QCOMPARE(int(src->source_state), 2);
        for (int s = 0; s < kSourceCount; ++s) {
            auto e = in->eeprom(s);
            u8 want[kEdidSize];
            int off = Img::kEdid + 6 * s;
            build_default_edid(s, ZevRamPara::img16(off), ZevRamPara::img16(off + 2), ZevRamPara::img16(off + 4), want);
            QVERIFY(std::memcmp(e.data(), want, kEdidSize) == 0);
            QVERIFY(in->hotPlug(s));
        }
        QCOMPARE(ZevRamPara::device.status[0] & 0x06, 0x06);
    }

    void startWithEepromsAlreadyRightWritesNothing()
    {
        // A new process: nothing served yet, but every EEPROM holds its EDID
        // from the last start. None is written and hot-plug stays high.
        tarvosource fresh;
        fresh.hpd_low_ms = 0;
        for (int s = 0; s < kSourceCount; ++s)
            in->setEepromBroken(s, true);
        for (int s = 0; s < kSourceCount; ++s) {
            QVERIFY(fresh.serve_edid(s));
            QVERIFY(in->hotPlug(s));
        }
        for (int s = 0; s < kSourceCount; ++s)
            in->setEepromBroken(s, false);
        // One that differs is written.
        const int off = Img::kEdid + 6;
        const short w = short(ZevRamPara::img16(off)), h = short(ZevRamPara::img16(off + 2)),
                    r = short(ZevRamPara::img16(off + 4));
        in->setEepromBroken(1, true);
        ZevRamPara::ZevSetEDIDPara(1, 1024, 768, 60);
        QVERIFY(!fresh.serve_edid(1));
        in->setEepromBroken(1, false);
        QVERIFY(fresh.serve_edid(1));
        ZevRamPara::ZevSetEDIDPara(1, w, h, r);
        QVERIFY(fresh.serve_edid(1));
    }

    void plugAndUnplugReachTheImage()
    {
        QSignalSpy spy(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
        plug("HDMI1 1920x1080@60\n");
        src->checksource_step();
        QCOMPARE(int(g_source_online), 2);
        QCOMPARE(int(timing(2).width), 1920);
        QCOMPARE(int(timing(2).height), 1080);
        QCOMPARE(int(timing(2).rate), 60);
        QCOMPARE(int(timing(2).zero), 0);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 12);

        // Nothing changed: no signal.
        src->checksource_step();
        QCOMPARE(spy.count(), 1);

        // HDMI1 unplugged, HDMI3 plugged in at 4K.
        plug("HDMI1 off\nHDMI3 3840x2160@30\n");
        src->checksource_step();
        QCOMPARE(int(timing(2).width), 0);
        QCOMPARE(int(timing(2).rate), 0);
        QCOMPARE(int(timing(4).width), 3840);
        QCOMPARE(int(timing(4).rate), 30);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toInt(), 12);
    }

    void requestWordPulsesHotPlugAndIsCleared()
    {
        ZevRamPara::device.reg[0] = 0x04 | 0x01;
        src->sourcecheck();
        QCOMPARE(int(ZevRamPara::device.reg[0]), 0);
        QVERIFY(in->hotPlug(0) && in->hotPlug(2));
    }

    void ramTableEdidIsServed()
    {
        u8 block[kEdidSize];
        for (int i = 0; i < kEdidSize; ++i)
            block[i] = u8(i ^ 0x5A);
        std::memcpy(edid_ram_table + kEdidSize * 3, block, kEdidSize);
        edid_ram_table_from[3] = 1;
        src->request_edid(3);
        src->checksource_step();
        auto e = in->eeprom(3);
        QVERIFY(std::memcmp(e.data(), block, kEdidSize) == 0);
        // The EEPROM already holds it: nothing is written again.
        in->setEepromBroken(3, true);
        QVERIFY(src->serve_edid(3));
        in->setEepromBroken(3, false);
        edid_ram_table_from[3] = 0;
    }

    void serveAllAgain()
    {
        // Register 17: every EEPROM is compared again and written where it
        // differs; here source 5's, which refuses the write.
        const int off = Img::kEdid + 6 * 5;
        const u8 before = in->eeprom(5)[0x36];
        in->setEepromBroken(5, true);
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, off, 1280);
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, off + 2, 720);
        src->reg_update11 = 1;
        src->checksource_step();
        QCOMPARE(int(src->reg_update11), 0);
        QCOMPARE(in->eeprom(5)[0x36], before);
        in->setEepromBroken(5, false);
        // Source 5 failed; a serve-all request through the request word
        // writes it.
        ZevRamPara::device.reg[0] = 0x40;
        src->checksource_step();
        u8 want[kEdidSize];
        build_default_edid(5, ZevRamPara::img16(off), ZevRamPara::img16(off + 2), ZevRamPara::img16(off + 4), want);
        QVERIFY(std::memcmp(in->eeprom(5).data(), want, kEdidSize) == 0);
    }

    void brokenEepromIsReported()
    {
        in->setEepromBroken(0, true);
        ZevRamPara::ZevSetEDIDPara(0, 1024, 768, 60);
        QVERIFY(!src->serve_edid(0));
        // The source is not left without hot-plug.
        QVERIFY(in->hotPlug(0));
        in->setEepromBroken(0, false);
        QVERIFY(src->serve_edid(0));
    }

    void transmitterCheck()
    {
        SiI9022* tx = SiI9022::pInstance();
        in->setTransmitterPresent(1, false);
        QCOMPARE(tx->check_9022(1), 0);
        QCOMPARE(ZevRamPara::device.status[0] & 0x04, 0);
        QCOMPARE(tx->check_9022(0), 1);
        QCOMPARE(ZevRamPara::device.status[0] & 0x02, 0x02);
        in->setTransmitterPresent(1, true);
        QCOMPARE(tx->check_9022(1), 1);
        QCOMPARE(ZevRamPara::device.status[0] & 0x04, 0x04);
    }
};

QTEST_GUILESS_MAIN(TestTarvosource)
#include "test_tarvosource.moc"
