// Commands addressed to the FPGA on the simulated board: registers, RAM pages
// by type, the parameter save to flash and the queries, checked byte for
// byte against the replies and against what the FPGA and its flash hold.
#include <QtTest>

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "board/sim/sim_fpga.h"
#include "board/sim/sim_spi_flash.h"
#include "core/logging.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "pc_frames.h"
#include "support/fpga_records.h"
#include "support/lock_wait.h"
#include "support/sim_fixture.h"
#include "support/test_rows.h"
#include "video/c331_manage.h"

using board::sim::SimFpga;

namespace
{
Bytes read_req(u32 address, u16 length, u8 port = 0)
{
    return request(kFpga, 0x61, ram_rest(address, length), 0, port);
}
Bytes write_req(u32 address, const Bytes& data, u8 port = 0)
{
    return request(kFpga, 0x60, ram_rest(address, u16(data.size()), data), 0, port);
}
u8* para()
{
    return fpga_manage::MCU_RAM_PARA_func[0];
}
u8* back()
{
    return fpga_manage::MCU_RAM_ETH_BACK_PARA_func[0];
}

// The debug lines of the link's category while run runs.
QStringList linkDebug;
void keepLinkDebug(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtDebugMsg && QByteArray(context.category) == lcLink().categoryName())
        linkDebug.append(text);
}
template <class F> QString printed(F run)
{
    linkDebug.clear();
    QLoggingCategory::setFilterRules("zev.link.debug=true");
    const QtMessageHandler before = qInstallMessageHandler(keepLinkDebug);
    run();
    qInstallMessageHandler(before);
    QLoggingCategory::setFilterRules(QString());
    return linkDebug.join('\n');
}
} // namespace

class TestMessageFpga : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    message_deal md;
    SimFpga* fpga() { return board::sim::simFpga(); }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        board::sim::attachFpga(sim->board());
        ZevRamPara::pInstance();
        fpga_manage::pInstance();
        c331_manage::p_c331_manage = new c331_manage();
    }
    void cleanupTestCase() { delete sim; }
    void init()
    {
        fpga_manage::MCU_REG_func[0][80] = 3;
        c331_manage::p_c331_manage->panel_mode = 0;
    }

    void registerWriteAndRead()
    {
        Bytes w = request(kFpga, 0xA0, {6, 0xFF, 0, 0x42}, 0, 1);
        QCOMPARE(send(md, w).body, expected_reply(w, {0x00}));
        QCOMPARE(fpga()->reg(6), u8(0x42));
        Bytes r = request(kFpga, 0xA1, {6, 0, 0, 0});
        QCOMPARE(send(md, r).body, expected_reply(r, {0x00, 0x42}));
        // Mirror-only registers answer from the mirror.
        Bytes r80 = request(kFpga, 0xA1, {80, 0, 0, 0});
        QCOMPARE(send(md, r80).body, expected_reply(r80, {0x00, 0x03}));
        // The second FPGA is not fitted.
        Bytes r2 = request(kFpga, 0xA1, {6, 0, 0, 0}, 0, 2);
        QCOMPARE(send(md, r2).body, expected_reply(r2, {0x01, 0x00}));
        Bytes w2 = request(kFpga, 0xA0, {6, 0xFF, 0, 0x42}, 0, 2);
        QCOMPARE(send(md, w2).body, expected_reply(w2, {0x01}));
    }

    void programRegistersTakeWritesButTheFpgaState()
    {
        // 64 manual brightness, 66 on/off table, 67 power state, 85 card
        // errors and 96 live in the mirror and take the write; 80, the FPGA
        // state, is refused; 97 to 127 exist nowhere and take it unchanged.
        struct Row {
            u8 reg;
            u8 status;
            u8 after;
        } rows[] = {{64, 0, 0x5A}, {66, 0, 0x5A}, {67, 0, 0x5A}, {85, 0, 0x5A}, {96, 0, 0x5A},
                    {80, 1, 3},    {97, 0, 3},    {127, 0, 3},   {63, 0, 0x5A}, {128, 0, 0x5A}};
        for (const Row& row : rows) {
            fpga_manage::MCU_REG_func[0][row.reg] = 3;
            Bytes w = request(kFpga, 0xA0, {row.reg, 0xFF, 0, 0x5A}, 0, 1);
            QCOMPARE(send(md, w).body, expected_reply(w, {row.status}));
            QCOMPARE(fpga_manage::MCU_REG_func[0][row.reg], row.after);
        }
        fpga_manage::MCU_REG_func[0][80] = 3;
    }

    void paraWriteCopiesBackParameters()
    {
        Bytes req = write_req(8, {0x11, 0x22, 0x33, 0x44});
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        QCOMPARE(Bytes(back() + 4, back() + 8), (Bytes{0x11, 0x22, 0x33, 0x44}));
        QCOMPARE(fpga()->ram(1, 8, 4), (Bytes{0x11, 0x22, 0x33, 0x44}));
        // Port 1's y word lies at 21 and 22.
        send(md, write_req(19, {1, 2, 3, 4}));
        QCOMPARE(Bytes(back() + 12, back() + 16), (Bytes{1, 2, 3, 4}));
        // The screen origin and size.
        send(md, write_req(56, {5, 6, 7, 8, 9, 10, 11, 12}));
        QCOMPARE(Bytes(back() + 132, back() + 136), (Bytes{5, 6, 7, 8}));
        QCOMPARE(Bytes(back(), back() + 4), (Bytes{9, 10, 11, 12}));
        // Ports 4 and 8: x and y only.
        send(md, write_req(520, {1, 2, 3, 4, 5, 6, 7, 8}));
        QCOMPARE(Bytes(back() + 36, back() + 44), (Bytes{1, 2, 3, 4, 0, 0, 0, 0}));
        send(md, write_req(632, {9, 9, 9, 9}));
        QCOMPARE(Bytes(back() + 124, back() + 128), (Bytes{9, 9, 9, 9}));
    }

    void paraRangeRefused()
    {
        const u8 before = para()[1020];
        Bytes req = write_req(1020, {1, 2, 3, 4, 5});
        QCOMPARE(send(md, req).body, expected_reply(req, {0x01}));
        QCOMPARE(para()[1020], before);
        Bytes rd = read_req(1020, 5);
        QCOMPARE(send(md, rd).body, expected_reply(rd, {0x01, 0x00}));
        // Bits 12 to 23 name no page of type 0.
        Bytes high = read_req(0x00010008, 2);
        QCOMPARE(send(md, high).body, expected_reply(high, {0x01, 0x00}));
    }

    void paraReadTakesBackParametersAndHalvesPanelWord()
    {
        send(md, write_req(4, {1, 2, 3, 4, 5, 6, 7, 8}));
        back()[5] = 0x99;
        Bytes rd = read_req(4, 8);
        QCOMPARE(send(md, rd).body, expected_reply(rd, {0, 1, 2, 3, 4, 5, 0x99, 7, 8}));

        // The FPGA measures the input width into the word at 116.
        fpga()->setMeasuredInput(2048, 1080, 833333);
        QCOMPARE(send(md, read_req(116, 2)).data(), (Bytes{0x00, 0x08}));
        c331_manage::p_c331_manage->panel_mode = 1;
        QCOMPARE(send(md, read_req(116, 2)).data(), (Bytes{0x00, 0x04}));
        // The word is read again from the FPGA each time: no compounding.
        QCOMPARE(send(md, read_req(116, 2)).data(), (Bytes{0x00, 0x04}));

        // While the FPGA is not up the data are zeros.
        fpga_manage::MCU_REG_func[0][80] = 2;
        QCOMPARE(send(md, read_req(4, 3)).data(), (Bytes{0, 0, 0}));
    }

    // The FPGA's start rewrites the parameter page beside the PC links:
    // their writes, reads and the store wait for the page's lock.
    void paraPageUnderItsLock_data() { numberedRows("kind", {"ram write", "ram read", "parameter store"}); }
    void paraPageUnderItsLock()
    {
        QFETCH(int, kind);
        const Bytes req[] = {write_req(100, {3, 0}), read_req(100, 2), request(kFpga, 0x81, {0x00}, 0, 1)};
        QVERIFY(waits_for(held(fpga_manage::para_mutex), [&] { send(md, req[kind]); }));
    }

    void transmitReceiveAndZoomPages()
    {
        Bytes sub0 = write_req(0x01000010, {1, 2});
        QCOMPARE(send(md, sub0).body, expected_reply(sub0, {0x00}));
        // Sub 0: the reply keeps the request's bytes.
        Bytes r0 = read_req(0x01000000, 3);
        QCOMPARE(send(md, r0).body, expected_reply(r0, {0x00, 0x00, 0x00, 0x01}));

        Bytes tx = write_req(0x01002010, {0xA5, 0x5A});
        QCOMPARE(send(md, tx).body, expected_reply(tx, {0x00}));
        QCOMPARE(fpga_manage::MCU_RAM_TX_func[0][0], u8(0xA5));
        QCOMPARE(fpga()->ram(3, 0x10, 2), (Bytes{0xA5, 0x5A}));
        Bytes rx = write_req(0x01003000, {7});
        send(md, rx);
        QCOMPARE(fpga_manage::MCU_RAM_RX_func[0][0], u8(7));
        QCOMPARE(fpga()->ram(4, 0, 1), (Bytes{7}));
        QCOMPARE(send(md, read_req(0x01003000, 1)).data(), (Bytes{7}));

        send(md, write_req(0x02001000, {3, 4}));
        QCOMPARE(fpga_manage::MCU_RAM_ZOOM[1], u8(4));
        QCOMPARE(fpga()->ram(34, 0, 2), (Bytes{3, 4}));
        send(md, write_req(0x04000000, {8}));
        QCOMPARE(fpga()->ram(50, 0, 1), (Bytes{8}));

        Bytes range = write_req(0x010023FF, {1, 2});
        QCOMPARE(send(md, range).body, expected_reply(range, {0x01}));
    }

    void commandAndSilentTypes()
    {
        send(md, write_req(0x05000000, {0x12, 0x34}));
        QCOMPARE(send(md, read_req(0x05000000, 2)).data(), (Bytes{0x12, 0x34}));
        Bytes t3 = read_req(0x03000000, 2);
        QCOMPARE(send(md, t3).body, expected_reply(t3, {0x00, 0x00, 0x00}));
        Bytes w9 = write_req(0x09000000, {1});
        QCOMPARE(send(md, w9).body, expected_reply(w9, {0x00}));
    }

    // A command page the PC wrote runs and is stored as written, though the
    // FPGA starts again before the PC runs it: the worker's record loads and
    // register copies go elsewhere, and its fields follow after the run.
    void commandPageRunsAsThePcWroteIt_data()
    {
        numberedRows("start", {"brightness record loaded", "on/off record loaded", "registers 28 to 31 copied"});
    }
    void commandPageRunsAsThePcWroteIt()
    {
        QFETCH(int, start);
        fpga_manage* m = fpga_manage::p_fpga_manage;
        QVERIFY(storeFpgaRecord(m, kBriRecord, briRecord(16, 9)));
        Bytes onoff = {0xAA, 2, 0xAA, 0, 0, 0, 5, 0, 1, 0x07, 0x30, 0x22, 0x00};
        onoff.resize(50, 0);
        QVERIFY(storeFpgaRecord(m, kOnOffRecord, onoff));
        const Bytes page = briRecord(1, 100);
        Bytes w = write_req(0x05000000, page);
        QCOMPARE(send(md, w).body, expected_reply(w, {0x00}));
        if (start == 0)
            m->record_bright_change();
        else if (start == 1)
            m->record_onoff_time(2);
        else
            m->FPGA_to_RAM(0);
        Bytes run = request(kFpga, 0xA0, {2, 0x04, 0, 0x04});
        QCOMPARE(send(md, run).body, expected_reply(run, {0x00}));
        QCOMPARE(board::sim::simFpgaFlash()->peek(kBriRecord, u32(page.size())), page);
        if (start == 2) {
            const Bytes now = send(md, read_req(0x05000000, 16)).data();
            QCOMPARE(Bytes(now.begin() + 12, now.end()),
                     (Bytes{fpga()->reg(28), fpga()->reg(29), fpga()->reg(30), fpga()->reg(31)}));
        }
    }

    void extendedPage()
    {
        fpga_manage::MCU_RAM_EXTEND[49] = 0xFF;
        Bytes req = write_req(0x00000800 + 300, {0x77});
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        QCOMPARE(fpga_manage::MCU_RAM_EXTEND[300], u8(0x77));
        QCOMPARE(fpga_manage::MCU_RAM_EXTEND[49], u8(0xBF));
        send(md, write_req(0x06000000 + 301, {0x78}));
        QCOMPARE(fpga_manage::MCU_RAM_EXTEND[301], u8(0x78));
        // The multicast settings follow the page.
        fpga_manage::p_fpga_manage->multicast_mask = 0x1FF;
        send(md, write_req(0x06000000 + 257, {0x01, 0x02, 0x00, 0x00}));
        QCOMPARE(fpga_manage::p_fpga_manage->multicast_mode, 0x0201u);
        QCOMPARE(fpga_manage::p_fpga_manage->multicast_mask, 0x100u);

        fpga_manage::MCU_REG_func[0][64] = 0x3C;
        fpga_manage::MCU_REG_func[0][80] = 0; // the extended page needs no FPGA
        Bytes ex = send(md, read_req(0x00000800, 100)).data();
        QCOMPARE(ex[72], u8(1));
        QCOMPARE(ex[49], u8(0x9F));
        QCOMPARE(ex[28], u8(0x3C));
        const QDate today = QDate::currentDate();
        auto bcd = [](int v) { return u8(((v / 10) % 10) << 4 | (v % 10)); };
        QCOMPARE(ex[16], bcd(today.year() % 100));
        QCOMPARE(ex[17], bcd(today.year() / 100));
        QCOMPARE(ex[18], bcd(today.month()));
        QCOMPARE(ex[23], u8(0));
        Bytes bad = read_req(0x00000800 + 1000, 30);
        QCOMPARE(send(md, bad).body, expected_reply(bad, {0x01, 0x00}));
    }

    void paramSaveStoresAndVerifies()
    {
        for (int i = 0; i < 1024; ++i)
            para()[i] = u8(i * 7);
        ZevRamPara::put16(para(), 56, 0);
        ZevRamPara::put16(para(), 58, 0);
        board::sim::simFpgaFlash()->clearOps();
        Bytes req = request(kFpga, 0x81, {0x00}, 0, 1);
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        Bytes stored = board::sim::simFpgaFlash()->peek(0x6C7000, 1025);
        QCOMPARE(stored[0], u8(0xAA));
        QCOMPARE(Bytes(stored.begin() + 1, stored.end()), Bytes(para(), para() + 1024));

        // The second FPGA's flash is refused without bus traffic.
        board::sim::simFpgaFlash()->clearOps();
        Bytes second = request(kFpga, 0x81, {0x00}, 0, 2);
        QCOMPARE(send(md, second).body, expected_reply(second, {0x01}));
        QVERIFY(board::sim::simFpgaFlash()->ops().empty());
    }

    void paramSaveShowsTheSyncTextUnlessItIsOk()
    {
        const Bytes req = request(kFpga, 0x81, {0x00});
        g_debugSwitch = 254;
        g_rcv_sync_led = "cards 3 of 4";
        QVERIFY(printed([&] { send(md, req); }).contains("cards 3 of 4"));
        g_rcv_sync_led = "OK";
        QVERIFY(!printed([&] { send(md, req); }).contains("OK"));
        g_debugSwitch = 0;
    }

    void paramSaveFailureKeepsLivePage()
    {
        std::memset(para(), 0x5C, 1024);
        board::sim::simFpgaFlash()->setStuckBusy(true);
        // The busy wait gives up quickly here.
        fpga_manage::p_fpga_manage->p_drv->busy_limit_ms = 20;
        Bytes req = request(kFpga, 0x81, {0x00});
        QCOMPARE(send(md, req).body, expected_reply(req, {0x01}));
        board::sim::simFpgaFlash()->setStuckBusy(false);
        fpga_manage::p_fpga_manage->p_drv->busy_limit_ms = 3000;
        QCOMPARE(para()[0], u8(0x5C));
    }

    void paramSaveTakesLedSizeFromCards()
    {
        ZevRamPara::put16(para(), 60, 1000);
        ZevRamPara::put16(para(), 62, 30);
        ZevRamPara::put16(para(), 56, 24);
        ZevRamPara::put16(para(), 58, 0);
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, ZevRamPara::layerOffset(3), 1);
        c331_manage::para_update_flag = 0;
        send(md, request(kFpga, 0x81, {0x00}));
        QCOMPARE(ZevRamPara::img16(Img::kLedWidth), u16(1024));
        QCOMPARE(ZevRamPara::img16(Img::kLedHeight), u16(64));
        QCOMPARE(ZevRamPara::img16(Img::kOut1Width), u16(1024));
        QCOMPARE(ZevRamPara::img16(ZevRamPara::layerOffset(0) + Img::kLayerW), u16(1024));
        QCOMPARE(ZevRamPara::img16(ZevRamPara::layerOffset(3)), u16(0));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
    }

    void versionReplies()
    {
        G_timeTicks = 4000;
        g_update_status = 1;
        Bytes box = request(kBox, 0x82, {0x00});
        QCOMPARE(send(md, box).body,
                 expected_reply(box, {0, 1, 8, 0x52, 0x8B, 11, 1, 0x30, 3, 0x26, 2, 0, 0, 200, 0, 0, 0}));
        g_update_status = 0;
        u8* reg = fpga_manage::MCU_REG_func[0];
        reg[21] = 0x21;
        reg[28] = 0x28;
        reg[29] = 0x29;
        reg[30] = 0x30;
        reg[31] = 0x31;
        Bytes f = request(kFpga, 0x82, {0x00});
        QCOMPARE(send(md, f).body,
                 expected_reply(f, {0, 0x21, 0, 15, 11, 11, 0x28, 0x29, 0x30, 0x31, 0, 0, 0, 200, 0, 0, 0}));
    }

    void clockCommand()
    {
        sim->board().simShell().clearRecorded();
        g_clock_record.clock_set = 0xFF;
        Bytes req = request(kBox, 0x87, {0x24, 0x20, 0x05, 0x06, 0x07, 0x08, 0x09});
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        std::vector<std::string> cmds = sim->board().simShell().recorded();
        QCOMPARE(cmds.size(), size_t(1));
        QCOMPARE(QString::fromStdString(cmds[0]), QString("date \"2024-5-6 7:8:9\";hwclock -wu"));
        QCOMPARE(g_clock_record.clock_set, u8(0x5A));

        // Not a date: nothing runs and the period is not marked.
        sim->board().simShell().clearRecorded();
        g_clock_record.clock_set = 0xFF;
        Bytes bad = request(kBox, 0x87, {0x24, 0x20, 0x13, 0x06, 0x07, 0x08, 0x09});
        QCOMPARE(send(md, bad).body, expected_reply(bad, {0x01}));
        Bytes shortReq = request(kBox, 0x87, {0x24, 0x20, 0x05});
        QCOMPARE(send(md, shortReq).body, expected_reply(shortReq, {0x01}));
        QVERIFY(sim->board().simShell().recorded().empty());
        QCOMPARE(g_clock_record.clock_set, u8(0xFF));
    }

    void runningTimeInExtendedPage()
    {
        g_clock_record.total = 0x010000;
        g_clock_record.minutes2 = 5;
        g_clock_record.minutes = 7;
        g_clock_record.entry_index = 0x123456;
        const u8 start[7] = {0x26, 0x20, 0x12, 0x07, 0x04, 0x30, 0x59};
        std::memcpy(g_clock_record.start_time, start, 7);
        Bytes ex = send(md, read_req(0x00000800 + 76, 24)).data();
        QCOMPARE(ex, (Bytes{0x05, 0x00, 0x01, 0x00, 7,    0,    0,    0,    0x56, 0x34, 0x12, 0,
                            0x26, 0x20, 0x12, 0x07, 0x04, 0x30, 0x59, 0xFF, 5,    0,    0,    0}));
    }

    void informationBlockFromFpga()
    {
        std::memset(para(), 0, 1024);
        ZevRamPara::put16(para(), 100, 0x120);
        ZevRamPara::put16(para(), 640, 0x003);
        u8* reg = fpga_manage::MCU_REG_func[0];
        reg[28] = 1;
        reg[29] = 2;
        reg[30] = 3;
        reg[31] = 4;
        Bytes info = send(md, request(kBox, 0x61, ram_rest(0xA0000000, 0x80))).data();
        QCOMPARE(Bytes(info.begin() + 0x2C, info.begin() + 0x30), (Bytes{4, 3, 2, 1}));
        QCOMPARE(Bytes(info.begin() + 0x7C, info.begin() + 0x80), (Bytes{0x23, 0x01, 0x23, 0x01}));
    }

    void uniqueId()
    {
        Bytes req = request(kBox, 0x83, {0x00});
        Bytes expect{0x00};
        for (u8 b : board::sim::SimSpiFlash::kUid)
            expect.push_back(b);
        QCOMPARE(send(md, req).body, expected_reply(req, expect));
    }
};

QTEST_MAIN(TestMessageFpga)
#include "test_message_fpga.moc"
