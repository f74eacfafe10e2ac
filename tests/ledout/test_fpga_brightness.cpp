// Brightness modes and their record in the FPGA's flash, the daily on/off
// times, the multifunction card and the blackout word reaching the screen,
// on the simulated board.
#include <QtTest>

#include <memory>

#include <cstring>

#include "board/sim/sim_cards.h"
#include "board/sim/sim_fpga.h"
#include "board/sim/sim_spi_flash.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "support/fpga_records.h"
#include "support/lock_wait.h"
#include "support/sim_fixture.h"
#include "support/test_rows.h"
#include "video/c331_manage.h"

using board::sim::SimCards;

class TestFpgaBrightness : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimFixture> fx_;
    fpga_manage* m_ = nullptr;
    u8* reg() { return fpga_manage::MCU_REG_func[0]; }
    board::sim::SimFpga* fpga() { return board::sim::simFpga(); }
    board::sim::SimSpiFlash* flash() { return board::sim::simFpgaFlash(); }

    void setImage(u16 percent)
    {
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kBrightness, percent);
        ZevRamPara::put16(ZevRamPara::p_zevrampara_shadow, Img::kBrightness, percent);
    }
    // Stores a record in the flash as the PC does, and loads it.
    void storeRecord(u32 address, const std::vector<u8>& record) { QVERIFY(storeFpgaRecord(m_, address, record)); }
    unsigned erases()
    {
        unsigned n = 0;
        for (const auto& op : flash()->ops())
            n += op.cmd == 0x20 && op.address == kBriRecord;
        return n;
    }

  private slots:
    void initTestCase()
    {
        fx_.reset(new SimFixture(true));
        ZevRamPara::pInstance();
        m_ = fpga_manage::pInstance();
        g_debugSwitch = 0;
        QVERIFY(writeHostFile(QString::fromStdString(board::sim::simCards()->path()),
                              "port 1 cards 2\nport 3 cards 1\nmultifunction 3 light 40\n"));
        board::sim::simCards()->reload();
    }
    void init()
    {
        G_timeTicks = 5000;
        g_change.bri_task_stamp = 0;
        fpga()->powerOn();
        board::sim::simCards()->reset();
        board::sim::simCards()->setAnswerDelay(0);
        reg()[FpgaReg::kState] = 3;
        m_->start[0].vbo_state = 7;
        m_->start[0].out_state = 18;
        m_->bri_set_flag = 0;
        QVERIFY(m_->p_drv->FPGA_SPI_FLASH_VBYONE_ERASE(FpgaFlash::kFlash0, kBriRecord / 4096, 0, 1));
        m_->record_bright_change();
        flash()->clearOps();
    }

    void imageBrightnessByMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("written");
        QTest::newRow("none, minimum") << 255 << 3 << 15;
        QTest::newRow("manual pc, minimum") << 0 << 3 << 15;
        QTest::newRow("manual image") << 16 << 3 << 7;
        QTest::newRow("stored table") << 17 << 3 << 7;
        QTest::newRow("full") << 0 << 100 << 255;
        QTest::newRow("past 100") << 16 << 250 << 255;
    }
    void imageBrightnessByMode()
    {
        QFETCH(int, mode);
        QFETCH(int, percent);
        QFETCH(int, written);
        m_->bri_mode = u8(mode);
        setImage(u16(percent));
        m_->bri_set_flag = 1;
        m_->Brightness_hand_dealwith(1);
        QCOMPARE(int(fpga()->reg(FpgaReg::kBrightness)), written);
        QCOMPARE(fpga()->reg(3) & 0x04, 0x04);
        // Stored as a manual image record, and that is the mode now.
        QCOMPARE(flash()->peek(kBriRecord, 10), std::vector<u8>({0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16, u8(written)}));
        QCOMPARE(int(m_->bri_mode.load()), 16);
        QCOMPARE(int(m_->bri_task_on.load()), 1);
    }

    // The manual brightness byte of the register shadow is written under the
    // register lock, as the PC's command page writes it: while the test
    // holds the lock, each writer waits and the byte stays.
    void manualByteUnderRegisterLock_data()
    {
        numberedRows("writer", {"record loaded", "no record", "image brightness"});
    }
    void manualByteUnderRegisterLock()
    {
        QFETCH(int, writer);
        if (writer == 0)
            storeRecord(kBriRecord, briRecord(0, 9));
        setImage(50);
        m_->bri_set_flag = writer == 2 ? 1 : 0;
        reg()[FpgaReg::kManualBri] = 0x5A;
        u8 seen = 0;
        QVERIFY(waits_for(
            held(m_->reg_mutex[0]),
            [this, writer] {
                if (writer == 2)
                    m_->Brightness_hand_dealwith(1);
                else
                    m_->record_bright_change();
            },
            [&] { seen = reg()[FpgaReg::kManualBri]; }));
        QCOMPARE(int(seen), 0x5A);
        QVERIFY(reg()[FpgaReg::kManualBri] != 0x5A);
    }

    void recordWrittenOnlyWhenItChanges()
    {
        setImage(50);
        m_->bri_set_flag = 1;
        m_->Brightness_hand_dealwith(1);
        QCOMPARE(erases(), 1u);
        m_->Brightness_hand_dealwith(1);
        QCOMPARE(erases(), 1u);
        setImage(60);
        m_->Brightness_hand_dealwith(1);
        QCOMPARE(erases(), 2u);
    }

    void imageChangeStoredWithoutLink()
    {
        fpga()->setLinks(0);
        setImage(40);
        m_->bri_set_flag = 1;
        fpga()->setRecording(true);
        fpga()->clearAccesses();
        m_->Brightness_hand_dealwith(1);
        for (const auto& a : fpga()->accesses())
            QVERIFY(a.read);
        fpga()->setRecording(false);
        QCOMPARE(flash()->peek(kBriRecord, 10)[9], u8(102));
        board::sim::simCards()->reload();
        fpga()->setLinks(0x0005);
    }

    void startupKeepsTheStoredMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("pc table") << 1;
        QTest::newRow("stored table") << 17;
        QTest::newRow("automatic") << 2;
        QTest::newRow("pc manual") << 0;
    }
    void startupKeepsTheStoredMode()
    {
        QFETCH(int, mode);
        storeRecord(kBriRecord, briRecord(u8(mode), 9));
        m_->record_bright_change();
        QCOMPARE(int(m_->bri_mode.load()), mode);
        flash()->clearOps();
        setImage(80);
        // The output check's apply after a power cycle.
        m_->Brightness_hand_dealwith(1);
        QCOMPARE(erases(), 0u);
        QCOMPARE(flash()->peek(kBriRecord, 57), briRecord(u8(mode), 9));
        m_->record_bright_change();
        QCOMPARE(int(m_->bri_mode.load()), mode);
    }

    void pcManualValueIsScaled_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("percent");
        QTest::newRow("16") << 16 << 255 << 100;
        QTest::newRow("0") << 0 << 255 << 100;
        QTest::newRow("8") << 8 << 127 << 50;
        // A level as the PC gives it (mode 16) reads back as its nearest percent.
        QTest::newRow("level 128") << 128 << 128 << 50;
    }
    void pcManualValueIsScaled()
    {
        QFETCH(int, value);
        QFETCH(int, written);
        QFETCH(int, percent);
        storeRecord(kBriRecord, briRecord(value > 16 ? 16 : 0, u8(value)));
        m_->record_bright_change();
        setImage(13);
        m_->Brightness_hand_dealwith(0);
        QCOMPARE(int(fpga()->reg(FpgaReg::kBrightness)), written);
        // Mirrored into the image with its shadow: not an operator edit.
        QCOMPARE(int(ZevRamPara::img16(Img::kBrightness)), percent);
        QCOMPARE(int(ZevRamPara::shadow16(Img::kBrightness)), percent);
    }

    void aPercentSetOnThePanelReadsBackAsSet()
    {
        // From a PC mode (the minimum applies once) and from the image's own.
        for (int mode : {0, 16})
            for (int percent = 0; percent <= 100; ++percent) {
                m_->bri_mode = u8(mode);
                setImage(u16(percent));
                m_->bri_set_flag = 1;
                m_->Brightness_hand_dealwith(1);
                m_->bri_set_flag = 0;
                // The manual step a few seconds later reads the screen back.
                G_timeTicks += 1000;
                m_->Extension_function();
                QCOMPARE(int(ZevRamPara::img16(Img::kBrightness)), percent);
            }
    }

    void aReadBackIsNoEditForTheNextApply()
    {
        auto owned = std::make_unique<c331_manage>();
        c331_manage::p_c331_manage = owned.get();
        QVERIFY(owned->bring_up());
        storeRecord(kBriRecord, briRecord(0, 8));
        m_->record_bright_change();
        setImage(13);
        m_->Brightness_hand_dealwith(0);
        QCOMPARE(int(ZevRamPara::img16(Img::kBrightness)), 50);
        // Another edit: the brightness read back is not sent back as a
        // change of the image (that would store a manual record).
        c331_apply(1, [] { ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kContrast, 41); });
        owned->c331managerdeal();
        QCOMPARE(int(m_->bri_set_flag.load()), 0);
        c331_manage::p_c331_manage = nullptr;
    }

    void halfHourIndex()
    {
        QCOMPARE(fpga_manage::half_hour_index(23, 59), u8(47));
        QCOMPARE(fpga_manage::half_hour_index(0, 0), u8(0));
        QCOMPARE(fpga_manage::half_hour_index(12, 30), u8(25));
        QCOMPARE(fpga_manage::half_hour_index(24, 0), u8(47));
    }

    void timeTableFollowsTheClock()
    {
        std::vector<u8> r = briRecord(17, 0);
        for (int i = 0; i < 48; ++i)
            r[9 + i] = u8(100 + i);
        storeRecord(kBriRecord, r);
        m_->bri_reload = 1;
        m_->time_real.hour = 10;
        m_->time_real.minute = 45;
        G_timeTicks += 1000;
        m_->Extension_function();
        QCOMPARE(int(fpga()->reg(FpgaReg::kBrightness)), 121);
        m_->time_real.hour = 11;
        m_->time_real.minute = 0;
        G_timeTicks += 999;
        m_->Extension_function();
        QCOMPARE(int(fpga()->reg(FpgaReg::kBrightness)), 121); // period not over
        G_timeTicks += 1;
        m_->Extension_function();
        QCOMPARE(int(fpga()->reg(FpgaReg::kBrightness)), 122);
    }

    void automaticFollowsTheMultifunctionCard()
    {
        // The search found the multifunction card on port 3.
        fpga_manage::MCU_RAM_PARA_func[0][FpgaCards::kStatusAt[2]] = 1;
        storeRecord(kBriRecord, briRecord(2, 0));
        m_->record_bright_change();
        m_->bri_value = 37;
        for (int i = 0; i < 5; ++i) {
            G_timeTicks += 200;
            m_->Extension_function();
        }
        QCOMPARE(int(m_->bri_value.load()), 40);
        QCOMPARE(int(fpga()->reg(FpgaReg::kBrightness)), 40);
        // The card stops answering: ten misses force full brightness.
        board::sim::simCards()->setFault(2, SimCards::Fault::Silent);
        m_->vmf_wait_ms = 5;
        for (int i = 0; i < 9; ++i) {
            G_timeTicks += 200;
            m_->Extension_function();
        }
        QCOMPARE(int(m_->bri_value.load()), 40);
        G_timeTicks += 200;
        m_->Extension_function();
        QCOMPARE(int(fpga()->reg(FpgaReg::kBrightness)), 255);
        m_->vmf_wait_ms = 350;
        fpga_manage::MCU_RAM_PARA_func[0][FpgaCards::kStatusAt[2]] = 0;
    }

    void powerControlTalksToTheCard()
    {
        fpga_manage::MCU_RAM_PARA_func[0][FpgaCards::kStatusAt[2]] = 1;
        m_->Power_ctrl_task();
        QCOMPARE(int(m_->power_port), 2);
        QCOMPARE(g_change.power_state, 1u); // the card's RAM page 0, byte 44
        QCOMPARE(int(reg()[67]), 1);
        // Stop step 6: register 3, bits 2-3 to 01.
        board::sim::simCards()->reset();
        m_->Send_write_VMF_reg_cmd(1, 6);
        const auto r = board::sim::simCards()->received();
        QCOMPARE(int(r.size()), 1);
        std::vector<u8> want = {0x00, 0x60, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0xA0, 3, 0x0C, 0x00, 0x04};
        want.push_back(Utils::BCC(want.data(), unsigned(want.size())));
        QCOMPARE(r[0].second, want);
        fpga_manage::MCU_RAM_PARA_func[0][FpgaCards::kStatusAt[2]] = 0;
    }

    void onOffTimes()
    {
        // Six entries declared: four are taken. Two switch on at 07:30.
        std::vector<u8> r = {0xAA, 2, 0xAA, 0, 0, 0, 41, 0, 6};
        const u8 e[4][4] = {{0x07, 0x30, 0x22, 0x00}, {0x07, 0x30, 0x23, 0x15}, {0x01, 0x00, 0x02, 0x00}, {}};
        for (const auto& x : e)
            r.insert(r.end(), x, x + 4);
        r.resize(50, 0);
        storeRecord(kOnOffRecord, r);
        reg()[FpgaReg::kOnOffStored] = 0;
        m_->record_onoff_time(2);
        QCOMPARE(int(reg()[FpgaReg::kOnOffStored]), 1);
        QCOMPARE(int(m_->onoff_count), 4);
        QCOMPARE(int(m_->onoff[1].off_minute), 15);

        struct Step {
            u8 day, hour, minute;
            int screenOff;
        } steps[] = {{5, 7, 29, -1}, {5, 22, 0, 1}, {5, 7, 30, 0}, {5, 22, 0, 0},
                     {6, 7, 29, 0},  {6, 22, 0, 1}, {6, 7, 30, 0}, {6, 23, 15, 1}};
        for (const Step& s : steps) {
            m_->time_real.day = s.day;
            m_->time_real.hour = s.hour;
            m_->time_real.minute = s.minute;
            m_->dealwith_onoff();
            if (s.screenOff >= 0)
                QCOMPARE(int(fpga()->reg(0) >> 2 & 1), s.screenOff);
        }
        QCOMPARE(int(m_->onoff[0].on_armed), 0);
        QCOMPARE(int(m_->onoff[1].on_armed), 0);
        QCOMPARE(int(m_->onoff_switched), 2);
    }

    void blackoutReachesTheScreen()
    {
        auto owned = std::make_unique<c331_manage>();
        c331_manage* c331 = owned.get();
        c331_manage::p_c331_manage = c331;
        // Brought up lit: each step below is a change for the chip.
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kBlackout, 0);
        QVERIFY(c331->bring_up());
        for (int blackout : {1, 0, 1}) {
            c331_apply(1, [&] { ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kBlackout, u16(blackout)); });
            c331->c331managerdeal();
            QCOMPARE(int(m_->output_status_flag.load()), 1);
            G_timeTicks += 1;
            m_->fpga_manage_deal();
            QCOMPARE(int(m_->output_status_flag.load()), 0);
            QCOMPARE(int(fpga()->reg(0) >> 2 & 1), blackout);
            std::memcpy(ZevRamPara::p_zevrampara_shadow, ZevRamPara::p_zevrampara_config, Img::kSize);
        }
        c331_manage::p_c331_manage = nullptr;
    }
};

QTEST_MAIN(TestFpgaBrightness)
#include "test_fpga_brightness.moc"
