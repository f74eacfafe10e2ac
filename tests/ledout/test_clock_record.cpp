// The running-time record against the simulated FPGA flash, across power
// cycles and damaged headers, and the clock set from BCD fields.
#include <QtTest>

#include <cstring>

#include "board/sim/sim_fpga.h"
#include "board/sim/sim_spi_flash.h"
#include "core/staging.h"
#include "core/zevrampara.h"
#include "ledout/clock_record_run.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "support/sim_fixture.h"

using namespace ClockRec;
using Bytes = std::vector<u8>;

class TestClockRecord : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    fpga_manage* m = nullptr;
    clock_record_run rec;

    Bytes peek(u32 recordAddress, u32 length)
    {
        return board::sim::simFpgaFlash()->peek(recordAddress + kFlashOffset, length);
    }
    u32 h1(u32 g) { return kHeader1 + kHeaderSize * g; }
    u32 h2(u32 g) { return kHeader2 + kHeaderSize * g; }
    u32 le(const Bytes& b, size_t at, int n)
    {
        u32 v = 0;
        for (int i = 0; i < n; ++i)
            v |= u32(b[at + size_t(i)]) << (8 * i);
        return v;
    }
    // A new process on the same flash.
    void power_on()
    {
        g_clock_record = CLOCK_RECORD_STATE();
        G_timeTicks = 100;
        rec.clock_record_init();
    }
    void run_minutes(int n)
    {
        for (int i = 0; i < n; ++i) {
            G_timeTicks = G_timeTicks + kMinuteTicks + 1;
            rec.clock_record_deal();
        }
    }
    void blank_record()
    {
        for (u32 s = kSignatureSector; s <= kRingSector; ++s)
            rec.ExFlash_Erase_Format(9, s, 0, 1);
    }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        board::sim::attachFpga(sim->board());
        m = fpga_manage::pInstance();
        rec.drv = m->p_drv;
    }
    void cleanupTestCase() { delete sim; }
    void init()
    {
        blank_record();
        sim->board().simShell().clearRecorded();
    }

    void flashAccessAddsTheRecordOffset()
    {
        const u8 data[3] = {1, 2, 3};
        QCOMPARE(rec.ExFlash_WR(9, kRing + 32, data, 3), 1);
        QCOMPARE(board::sim::simFpgaFlash()->peek(0x483000 + 32 + 0x273000, 3), (Bytes{1, 2, 3}));
        u8 back[3];
        QCOMPARE(rec.ExFlash_RD(9, kRing + 32, 3, back), 1);
        QCOMPARE(Bytes(back, back + 3), (Bytes{1, 2, 3}));
    }

    void shortPowerOnLeavesNoGroup()
    {
        power_on();
        QCOMPARE(peek(kSignature, 3), (Bytes{0xAA, 0x5A, 0xA5}));
        QCOMPARE(g_clock_record.group_pending, u8(1));
        run_minutes(29);
        QCOMPARE(peek(h1(0), 1), Bytes{0xFF});
        QCOMPARE(peek(h2(0), 1), Bytes{0xFF});
        QCOMPARE(g_clock_record.minutes, 29u);
        // A minute is not counted before 60 s have passed.
        G_timeTicks = G_timeTicks + kMinuteTicks;
        rec.clock_record_deal();
        QCOMPARE(g_clock_record.minutes, 29u);
    }

    void groupOpensAtThirtyMinutesAndStepsOnTime()
    {
        power_on();
        run_minutes(30);
        for (u32 h : {h1(0), h2(0)}) {
            Bytes hdr = peek(h, kHeaderSize);
            QCOMPARE(hdr[0], u8(0xAA));
            QCOMPARE(Bytes(hdr.begin() + 1, hdr.begin() + 8),
                     Bytes(g_clock_record.start_time, g_clock_record.start_time + 7));
            QCOMPARE(Bytes(hdr.begin() + 33, hdr.begin() + 40), Bytes(hdr.begin() + 1, hdr.begin() + 8));
            QCOMPARE(Bytes(hdr.begin() + 48, hdr.begin() + 53), (Bytes{0x55, 0x55, 0x55, 0xD5, 0xFF}));
            QCOMPARE(le(hdr, 8, 4), 0u);
            QCOMPARE(hdr[12], u8(0xFF));
            QCOMPARE(le(hdr, 13, 3), 0u);
        }
        Bytes entry = peek(kRing, 16);
        QCOMPARE(entry[0], u8(0xAA));
        QCOMPARE(le(entry, 13, 3), 0u);
        // Minute 32 completes the fourth byte: the record keeps pace.
        run_minutes(2);
        QCOMPARE(peek(h1(0) + 48, 5), (Bytes{0x55, 0x55, 0x55, 0x55, 0xFF}));
        // The step after 0x55 starts the next byte with 0xFD.
        run_minutes(2);
        QCOMPARE(peek(h2(0) + 48, 5), (Bytes{0x55, 0x55, 0x55, 0x55, 0xFD}));
        // An odd minute writes nothing.
        run_minutes(1);
        QCOMPARE(peek(h2(0) + 52, 1), Bytes{0xFD});
    }

    void powerCycleClosesTheGroup()
    {
        power_on();
        run_minutes(34);
        power_on();
        QCOMPARE(g_clock_record.group_index, u8(1));
        QCOMPARE(g_clock_record.total, 34u);
        QCOMPARE(le(peek(kRing, 16), 8, 4), 34u);
        QCOMPARE(g_clock_record.entry_index, 1u);
        QCOMPARE(g_clock_record.group_pending, u8(1));
        // The next group keeps the total of the earlier ones.
        run_minutes(30);
        QCOMPARE(le(peek(h1(1), 16), 8, 4), 34u);
        QCOMPARE(le(peek(h1(1), 16), 13, 3), 1u);
        QCOMPARE(peek(kRing + 16, 1), Bytes{0xAA});
        // A power-on shorter than 30 minutes adds no group.
        power_on();
        QCOMPARE(g_clock_record.group_index, u8(2));
        QCOMPARE(g_clock_record.total, 64u);
        power_on();
        QCOMPARE(g_clock_record.group_index, u8(2));
        QCOMPARE(g_clock_record.total, 64u);
    }

    void failedReadIsNotBlankFlash()
    {
        power_on();
        run_minutes(34);
        const Bytes header = peek(h1(0), kHeaderSize);
        const Bytes entry = peek(kRing, 16);
        g_clock_record = CLOCK_RECORD_STATE();
        sim->board().simSpi().setFailing("/dev/spidev32766.3", true);
        rec.clock_record_init();
        sim->board().simSpi().setFailing("/dev/spidev32766.3", false);
        QCOMPARE(g_clock_record.initialised, u8(0));
        QCOMPARE(peek(h1(0), kHeaderSize), header);
        QCOMPARE(peek(kRing, 16), entry);
        // The next try reads the record that is there.
        rec.clock_record_init();
        QCOMPARE(g_clock_record.initialised, u8(1));
        QCOMPARE(g_clock_record.group_index, u8(1));
        QCOMPARE(g_clock_record.total, 34u);
    }

    void recordFolderAndDefaultFile()
    {
        clock_record_run r;
        QCOMPARE(r.check_file_dir("/data/nofolder/records"), 1);
        QCOMPARE(r.dir_flag, u8(1));
        QCOMPARE(r.issetDefaultpara("/data/nofolder/records/default"), 1);

        QCOMPARE(r.check_file_dir("/data/records"), 0);
        QCOMPARE(r.dir_flag, u8(0));
        QCOMPARE(r.file_count, u8(0));
        QVERIFY(fileBuf_tarvo.take(16));
        fileBuf_tarvo.data()[0] = 0x12;
        QCOMPARE(r.issetDefaultpara("/data/records/default"), 0);
        QCOMPARE(fileBuf_tarvo.data()[0], u8(0x12)); // the transfer buffer is left alone
        fileBuf_tarvo.release();
        QFile f(QString::fromStdString(sim->host("/data/records/default")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray content = f.readAll();
        QCOMPARE(content.size(), int(clock_record_run::kDefaultFileSize));
        QCOMPARE(content.count(char(0xFF)), content.size());
        QCOMPARE(r.issetDefaultpara("/data/records/default"), 1);
        QCOMPARE(r.file_flag, u8(0));

        // Files are counted, symbolic links are not; a folder that holds
        // files gets no default file.
        QCOMPARE(r.check_file_dir("/data/records"), 0);
        QCOMPARE(r.file_count, u8(1));
        QVERIFY(QFile::link(QString::fromStdString(sim->host("/data/records/default")),
                            QString::fromStdString(sim->host("/data/records/link"))));
        r.get_file_list_path("/data/records");
        QCOMPARE(r.file_count, u8(1));
        QCOMPARE(r.issetDefaultpara("/data/records/other"), 1);
        QVERIFY(!QFile::exists(QString::fromStdString(sim->host("/data/records/other"))));
    }

    void repairedHeaderIsNotReopened()
    {
        power_on();
        run_minutes(36);
        // Power lost while group 1 was being opened: copy 1 complete,
        // copy 2 still blank.
        power_on();
        run_minutes(30);
        rec.ExFlash_Erase_Format(9, kHeader2Sector, 0, 1);
        Bytes g0 = peek(h1(0), kHeaderSize);
        rec.ExFlash_WR(9, h2(0), g0.data(), kHeaderSize);
        QCOMPARE(peek(h2(1), 1), Bytes{0xFF});
        power_on();
        // Copy 2 is repaired from copy 1 and group 1 is closed, not opened
        // again.
        QCOMPARE(peek(h2(1), kHeaderSize), peek(h1(1), kHeaderSize));
        QCOMPARE(g_clock_record.group_index, u8(2));
        QCOMPARE(g_clock_record.total, 36u + 30u);
        run_minutes(30);
        QCOMPARE(peek(h1(2), 1), Bytes{0xAA});
        QCOMPARE(peek(h1(1) + 48, 5), (Bytes{0x55, 0x55, 0x55, 0xD5, 0xFF}));
    }

    void halfWrittenCopyOneIsRestored()
    {
        power_on();
        run_minutes(30);
        power_on();
        // Copy 1 of group 1 got its start time but not its in-use byte.
        const u8 start[7] = {0x26, 0x20, 0x01, 0x01, 0x00, 0x00, 0x00};
        rec.ExFlash_WR(9, h1(1) + 1, start, 7);
        power_on();
        QCOMPARE(peek(h1(1), 8), Bytes(8, 0xFF));
        QCOMPARE(g_clock_record.group_index, u8(1));
    }

    void fullGroupClosesAtTheEndOfItsStepArea()
    {
        power_on();
        run_minutes(2880);
        QCOMPARE(g_clock_record.group_index, u8(1));
        QCOMPARE(g_clock_record.total, 2880u);
        QCOMPARE(le(peek(kRing, 16), 8, 4), 2880u);
        Bytes steps = peek(h1(0) + 48, 361);
        for (int i = 0; i < 360; ++i)
            QCOMPARE(steps[size_t(i)], u8(0x55));
        // Nothing past the 360 step bytes.
        QCOMPARE(steps[360], u8(0xFF));
        QCOMPARE(peek(h1(1), 1), Bytes{0xAA});
        QCOMPARE(le(peek(h1(1), 16), 8, 4), 2880u);
        QCOMPARE(peek(kRing + 16, 1), Bytes{0xAA});
        // A power cycle counts 360 full bytes as 2880 minutes.
        power_on();
        QCOMPARE(g_clock_record.total, 2880u);
        QCOMPARE(g_clock_record.group_index, u8(2));
    }

    void ninthGroupReusesHeaderZero()
    {
        power_on();
        // Eight groups in use.
        const u8 used = 0xAA;
        for (u32 g = 0; g < kGroups; ++g) {
            const u8 head[16] = {0xAA, 0x26, 0x20, 1, 1, 0, 0, 0, u8(g), 0, 0, 0, 0xFF, u8(g), 0, 0};
            rec.ExFlash_WR(9, h1(g), head, 16);
            rec.ExFlash_WR(9, h2(g), head, 16);
            rec.ExFlash_WR(9, h2(g), &used, 1);
        }
        power_on();
        QCOMPARE(g_clock_record.group_index, u8(8));
        QCOMPARE(g_clock_record.entry_index, 8u);
        run_minutes(30);
        QCOMPARE(g_clock_record.group_index, u8(0));
        QCOMPARE(peek(h1(0), 1), Bytes{0xAA});
        QCOMPARE(peek(h2(0), 1), Bytes{0xAA});
        QCOMPARE(le(peek(h2(0), 16), 13, 3), 8u);
        // Both header sectors were erased before group 0 was written again.
        QCOMPARE(peek(h1(1), 1), Bytes{0xFF});
        QCOMPARE(peek(h2(7), 1), Bytes{0xFF});
    }

    void ringWrapsAfterItsLastEntry()
    {
        power_on();
        run_minutes(30);
        // The group's entry is the ring's last one.
        g_clock_record.entry_index = kRingEntries - 1;
        g_clock_record.entry_addr = kRing + kEntrySize * (kRingEntries - 1);
        const u8 head[16] = {0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x3C, 0x00};
        rec.ExFlash_Erase_Format(9, kHeader1Sector, 0, 1);
        rec.ExFlash_Erase_Format(9, kHeader2Sector, 0, 1);
        rec.ExFlash_WR(9, h1(0), head, 16);
        rec.ExFlash_WR(9, h2(0), head, 16);
        const u8 junk = 0x00;
        rec.ExFlash_WR(9, kRing, &junk, 1);
        power_on();
        QCOMPARE(g_clock_record.entry_index, 1u << 20);
        QCOMPARE(g_clock_record.entry_addr, kRing);
        // Entry 0 is usable again: its sector was erased.
        QCOMPARE(peek(kRing, 1), Bytes{0xFF});
    }

    void clockSetMarksThePeriod()
    {
        power_on();
        g_clock_record.clock_set = 0xFF;
        rec.dealwith_record_timing();
        QCOMPARE(peek(h1(0) + 44, 1), Bytes{0x5A});
        run_minutes(30);
        QCOMPARE(peek(h2(0) + 44, 1), Bytes{0x5A});
        QCOMPARE(peek(kRing + 12, 1), Bytes{0x5A});

        power_on();
        g_clock_record.clock_set = 0xFF;
        run_minutes(30);
        QCOMPARE(peek(kRing + 16 + 12, 1), Bytes{0xFF});
        rec.dealwith_record_timing();
        QCOMPARE(peek(kRing + 16 + 12, 1), Bytes{0x5A});
        QCOMPARE(peek(h1(1) + 44, 1), Bytes{0x5A});
        QCOMPARE(peek(h2(1) + 44, 1), Bytes{0x5A});
    }

    void systemClockFromBcd()
    {
        const u8 ok[7] = {0x26, 0x20, 0x01, 0x05, 0x09, 0x07, 0x03};
        QCOMPARE(clock_record_run::set_system_clock_bcd(ok), 1);
        std::vector<std::string> cmds = sim->board().simShell().recorded();
        QCOMPARE(cmds.size(), size_t(1));
        QCOMPARE(QString::fromStdString(cmds[0]), QString("date \"2026-1-5 9:7:3\";hwclock -wu"));
        sim->board().simShell().clearRecorded();
        const u8 badDigit[7] = {0x2A, 0x20, 0x01, 0x05, 0x09, 0x07, 0x03};
        const u8 badDate[7] = {0x26, 0x20, 0x02, 0x30, 0x09, 0x07, 0x03};
        const u8 badTime[7] = {0x26, 0x20, 0x02, 0x03, 0x24, 0x07, 0x03};
        QCOMPARE(clock_record_run::set_system_clock_bcd(badDigit), 0);
        QCOMPARE(clock_record_run::set_system_clock_bcd(badDate), 0);
        QCOMPARE(clock_record_run::set_system_clock_bcd(badTime), 0);
        QVERIFY(sim->board().simShell().recorded().empty());
    }

    void commandPageSetsClockAndMarks()
    {
        power_on();
        g_clock_record.clock_set = 0xFF;
        u8 page[16] = {};
        const u8 bad[7] = {0x26, 0x20, 0x13, 0x01, 0, 0, 0};
        std::memcpy(page + 8, bad, 7);
        m->clock_record.drv = m->p_drv;
        m->Checktime(page);
        QCOMPARE(g_clock_record.clock_set, u8(0xFF));
        const u8 good[7] = {0x26, 0x20, 0x12, 0x31, 0x23, 0x59, 0x58};
        std::memcpy(page + 8, good, 7);
        m->Checktime(page);
        QCOMPARE(g_clock_record.clock_set, u8(0x5A));
        QVERIFY(!sim->board().simShell().recorded().empty());
    }

    void workerStartsTheRecordOnceReady()
    {
        g_clock_record = CLOCK_RECORD_STATE();
        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 2;
        m->run_clock_record();
        QCOMPARE(g_clock_record.initialised, u8(0));
        m->time_real = TimeRealType();
        m->Record_Time_Deal();
        QCOMPARE(m->time_real.year, u16(0));

        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 3;
        fpga_manage::MCU_REG_func[0][FpgaReg::kScreen] &= u8(~0x08);
        m->start[0].vbo_state = 7;
        m->start[0].out_state = 16;
        m->run_clock_record();
        QCOMPARE(g_clock_record.initialised, u8(1));
        QCOMPARE(peek(kSignature, 3), (Bytes{0xAA, 0x5A, 0xA5}));
        G_timeTicks = G_timeTicks + kMinuteTicks + 1;
        m->run_clock_record();
        QCOMPARE(g_clock_record.minutes, 1u);

        g_change.record_time_stamp = G_timeTicks.load();
        G_timeTicks = G_timeTicks + 25;
        m->Record_Time_Deal();
        QCOMPARE(m->time_real.year, u16(0));
        G_timeTicks = G_timeTicks + 1;
        m->Record_Time_Deal();
        QVERIFY(m->time_real.year >= 2020);
        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 0;
    }

    void clockReading()
    {
        TimeRealType t;
        QCOMPARE(m->IT8563WE_Get(&t), 0);
        const QDate today = QDate::currentDate();
        QVERIFY(t.year >= 2020);
        QVERIFY(t.month >= 1 && t.month <= 12);
        QVERIFY(t.day >= 1 && t.day <= 31);
        QVERIFY(t.hour < 24 && t.minute < 60 && t.second < 60);
        QVERIFY(today.year() - t.year <= 1);
    }
};

QTEST_GUILESS_MAIN(TestClockRecord)
#include "test_clock_record.moc"
