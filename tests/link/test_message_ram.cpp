// Parameter-RAM commands addressed to the box, and the single-parameter
// write, fed as the PC tool sends them and checked byte for byte.
#include <QtTest>

#include <cstring>

#include <QWidget>

#include "core/zevrampara.h"
#include "pc_frames.h"
#include "support/sim_fixture.h"
#include "ui/shell/panel_gui.h"
#include "ui/shell/panel_screen.h"
#include "video/c331_manage.h"

namespace
{
u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}

Bytes read_req(u32 address, u16 length, u16 dest = kBox)
{
    return request(dest, 0x61, ram_rest(address, length));
}
Bytes write_req(u32 address, const Bytes& data, u16 dest = kBox)
{
    return request(dest, 0x60, ram_rest(address, u16(data.size()), data));
}
Bytes status_and(u8 status, const Bytes& data)
{
    Bytes b;
    b.reserve(data.size() + 1);
    b.push_back(status);
    for (u8 x : data)
        b.push_back(x);
    return b;
}
} // namespace

class TestMessageRam : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    message_deal md;
    // The board's screen, as the program has it off screen, and something
    // on it for the capture to grab.
    PanelScreen screen;
    QWidget page;
    PanelGui gui;

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
        page.resize(320, 240);
        page.show();
        message_gui::install(&gui);
    }
    void cleanupTestCase() { delete sim; }
    void init() { c331_manage::para_update_flag = 0; }

    void imageWriteBounds()
    {
        std::memset(img() + 0xFF8, 0x11, 8);
        Bytes bad = write_req(0xFFE, {1, 2, 3, 4});
        QCOMPARE(send(md, bad).body, expected_reply(bad, {0x01}));
        QCOMPARE(img()[0xFFE], u8(0x11));
        QCOMPARE(img()[0xFFF], u8(0x11));
        Bytes good = write_req(0xFFC, {1, 2, 3, 4});
        QCOMPARE(send(md, good).body, expected_reply(good, {0x00}));
        QCOMPARE(img()[0xFFC], u8(1));
        QCOMPARE(img()[0xFFF], u8(4));
        // Writes change memory only; the PC asks for the apply itself.
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }

    void writeShorterThanItsLengthRefused()
    {
        img()[100] = 0x22;
        Bytes req = request(kBox, 0x60, ram_rest(100, 4, {9, 9}));
        QCOMPARE(send(md, req).body, expected_reply(req, {0x01}));
        QCOMPARE(img()[100], u8(0x22));
    }

    void escapedBytesInData()
    {
        Bytes data = {0xA5, 0x5A, 0xA6, 0x5B, 0x01, 0x02};
        Bytes req = write_req(200, data);
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        QCOMPARE(Bytes(img() + 200, img() + 206), data);
        Bytes rd = read_req(200, 6);
        QCOMPARE(send(md, rd).body, expected_reply(rd, status_and(0, data)));
    }

    void userModeSlots()
    {
        // Mode 3, offset 2 inside its slot (after the two marker bytes).
        Bytes req = write_req(0x3002, {7, 8, 9});
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        QCOMPARE(ZevRamPara::user_mode[2][2], u8(7));
        QCOMPARE(ZevRamPara::user_mode[2][4], u8(9));
        // Past a slot's 4098 bytes.
        Bytes over = write_req(0x3FFF, {1, 2, 3, 4});
        QCOMPARE(send(md, over).body, expected_reply(over, {0x01}));
        // Mode 17 is no slot.
        Bytes none = write_req(0x11000, {1});
        QCOMPARE(send(md, none).body, expected_reply(none, {0x01}));

        // A read runs on from the slot into the next one.
        ZevRamPara::user_mode[2][4095] = 0x4D;
        ZevRamPara::user_mode[2][4096] = 0x4E;
        ZevRamPara::user_mode[2][4097] = 0x5E;
        ZevRamPara::user_mode[3][0] = 0x6F;
        Bytes rd = read_req(0x3FFF, 4);
        QCOMPARE(send(md, rd).body, expected_reply(rd, {0, 0x4D, 0x4E, 0x5E, 0x6F}));
        // The last slot's end reads zeros.
        ZevRamPara::user_mode[15][4095] = 0x42;
        ZevRamPara::user_mode[15][4096] = 0x43;
        ZevRamPara::user_mode[15][4097] = 0x44;
        QCOMPARE(send(md, read_req(0x10FFF, 5)).data(), (Bytes{0x42, 0x43, 0x44, 0, 0}));
    }

    void window4g()
    {
        std::memset(g_4G_RAM, 0, sizeof g_4G_RAM);
        Bytes req = write_req(0xA1000010, {1, 2, 3, 4, 5, 6, 7, 8});
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        QCOMPARE(Bytes(g_4G_RAM, g_4G_RAM + 9), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0}));
        Bytes big = write_req(0xA1000010, Bytes(0xF8, 0x33));
        QCOMPARE(send(md, big).body, expected_reply(big, {0x01}));
        QCOMPARE(g_4G_RAM[8], u8(0));
        Bytes rd = read_req(0xA1000004, 3);
        QCOMPARE(send(md, rd).body, expected_reply(rd, {0, 1, 2, 3}));
    }

    void readOnlyWindowsRefuseWrites()
    {
        for (u32 a : {0x600000u, 0x600040u, 0x800000u, 0xA0000000u, 0xFD000000u, 0xFE000000u, 0x20000u}) {
            Bytes req = write_req(a, {1});
            QCOMPARE(send(md, req).body, expected_reply(req, {0x01}));
        }
    }

    void deviceTypeAndTables()
    {
        Bytes rd = read_req(0x600000, 4);
        QCOMPARE(send(md, rd).body, expected_reply(rd, {0, 6, 3, 9, 9}));
        QCOMPARE(send(md, read_req(0x600004, 4)).data(), (Bytes{8, 8, 0, 0}));

        g_lcd_lang_valid = 0x2001F;
        g_zev_max_pixel = 0x00A1B2C3;
        g_4G_RAM[0] = 0xAA;
        Bytes cap = send(md, read_req(0x600040, 64)).data();
        QCOMPARE(cap[0], u8(0x1F));
        QCOMPARE(cap[2], u8(16));
        QCOMPARE(Bytes(cap.begin() + 4, cap.begin() + 11), (Bytes{252, 31, 252, 31, 64, 0, 64}));
        QCOMPARE(Bytes(cap.begin() + 12, cap.begin() + 16), (Bytes{0xC3, 0xB2, 0xA1, 0x00}));
        QCOMPARE(cap[54], u8(1));
        QCOMPARE(cap[58], u8(2));
        QCOMPARE(cap[60], u8(1));
        QCOMPARE(cap[61], u8(0));
        g_lcd_lang_valid = kDefaultLcdLangValid;
        g_4G_RAM[0] = 0;
        cap = send(md, read_req(0x600040 + 54, 5)).data();
        QCOMPARE(cap, (Bytes{0, 0, 31, 0, 1}));

        Bytes desc = send(md, read_req(0x600440, 100)).data();
        QCOMPARE(Bytes(desc.begin(), desc.begin() + 7), (Bytes{0x52, 0x8B, 25, 0, 12, 0, 1}));
        QCOMPARE(desc[16], u8(2));
        QCOMPARE(desc[38], u8(2));
        QCOMPARE(Bytes(desc.begin() + 64, desc.begin() + 68), (Bytes{15, 15, 3, 3}));
        QCOMPARE(Bytes(desc.begin() + 96, desc.begin() + 100), (Bytes{15, 15, 3, 3}));
    }

    void deviceStatus()
    {
        ZevRamPara::device.status[0] = 1;
        ZevRamPara::device.status[5] = 0x42;
        QCOMPARE(send(md, read_req(0x600880, 6)).data(), (Bytes{1, 0, 0, 0, 0, 0x42}));
        ZevRamPara::device.status[1023] = 0x99;
        QCOMPARE(send(md, read_req(0x600C7F, 2)).data(), (Bytes{0x99, 0}));
    }

    void informationBlock()
    {
        ZevRamPara::put16(img(), Img::kLedWidth, 1920);
        ZevRamPara::put16(img(), Img::kLedHeight, 1080);
        g_Nubo_cloudserverip = "1.2.3.4";
        g_Nubo_cloudserverport = 0x1234;
        g_Nubo_clouduserid = "u";
        g_Nubo_controllername = "";
        Bytes rd = read_req(0xA0000080, 16);
        Bytes expect = {0x07, 0x80, 0x04, 0x38, 7, '1', '.', '2', '.', '3', '.', '4', 0x34, 0x12, 1, 'u'};
        QCOMPARE(send(md, rd).body, expected_reply(rd, status_and(0, expect)));
        QCOMPARE(send(md, read_req(0xA0000090, 2)).data(), (Bytes{0, 0}));

        g_update_status = 1;
        G_timeTicks = 2000;
        std::memset(g_4G_property, 0, sizeof g_4G_property);
        for (int i = 0; i < 12; ++i)
            g_4G_property[25 + i] = u8(0x30 + i);
        g_4G_property[37] = 192;
        g_4G_property[40] = 7;
        g_4G_property[41] = 0x88;
        g_4G_property[42] = 0x13;
        Bytes info = send(md, read_req(0xA0000000, 0x80)).data();
        QCOMPARE(info[0x00], u8(0));
        QCOMPARE(Bytes(info.begin() + 1, info.begin() + 10), (Bytes{1, 0, 1, 0x52, 0x8B, 15, 11, 16, 0}));
        QCOMPARE(info[0x10], u8(1));
        QCOMPARE(Bytes(info.begin() + 0x11, info.begin() + 0x1A), (Bytes{8, 0x52, 0x8B, 2, 0x26, 3, 0x30, 1, 11}));
        QCOMPARE(Bytes(info.begin() + 0x1C, info.begin() + 0x20), (Bytes{100, 0, 0, 0}));
        QCOMPARE(info[0x29], u8(15));
        QCOMPARE(info[0x2A], u8(11));
        QCOMPARE(info[0x2B], u8(11));
        QCOMPARE(info[0x42], u8(12));
        QCOMPARE(info[0x43], u8(0x30));
        QCOMPARE(info[0x4E], u8(0x3B));
        QCOMPARE(Bytes(info.begin() + 0x65, info.begin() + 0x6B), (Bytes{192, 0, 0, 7, 0x13, 0x88}));
        g_update_status = 0;
    }

    void zeroAndEchoWindows()
    {
        Bytes zeros = read_req(0xFD000000, 3);
        QCOMPARE(send(md, zeros).body, expected_reply(zeros, {0, 0, 0, 0}));
        // The echo window answers with the request's own bytes: the rest of
        // the address, the length, the two carried bytes, its BCC, then zeros.
        Bytes echo = read_req(0xFE000010, 9);
        const u8 bcc = with_bcc(echo).back();
        QCOMPARE(send(md, echo).body, expected_reply(echo, {0, 0x00, 0x00, 0xFE, 9, 0, 0, 0, bcc, 0}));
        // Outside every window: zeros.
        QCOMPARE(send(md, read_req(0x20000, 2)).data(), (Bytes{0, 0}));
    }

    void largestReadIsWhole()
    {
        img()[0] = 0x5A;
        img()[0xFFF] = 0xA5;
        Reply r = send(md, read_req(0, 0xFFFF));
        QVERIFY(r.sent);
        QCOMPARE(r.body.size(), size_t(11 + 0xFFFF + 1));
        QCOMPARE(r.body[11], u8(0x5A));
        QCOMPARE(r.body[11 + 0xFFF], u8(0xA5));
        QCOMPARE(r.body[11 + 0x1000], u8(0));
    }

    void screenCapture()
    {
        Bytes head = send(md, read_req(0x800000, 16)).data();
        QCOMPARE(Bytes(head.begin(), head.begin() + 7), (Bytes{0xAA, 0xAA, 0x40, 0x01, 0xF0, 0x00, 24}));
        const u32 len = u32(head[12] | head[13] << 8 | head[14] << 16 | head[15] << 24);
        QCOMPARE(len, message_deal::capture_length);
        Bytes file = send(md, read_req(0x800080, 10)).data();
        QCOMPARE(file[0], u8(0xAA));
        QCOMPARE(file[1], u8(0xAA));
        // A PNG file, saved where the board keeps it.
        QVERIFY(len > 0);
        QCOMPARE(Bytes(file.begin() + 2, file.begin() + 6), (Bytes{0x89, 'P', 'N', 'G'}));
        QVERIFY(QFile::exists(sim->hostQ("/123.png")));
        // Reading further header bytes does not grab again.
        message_deal::capture_length = 77;
        Bytes later = send(md, read_req(0x80000C, 4)).data();
        QCOMPARE(later, (Bytes{77, 0, 0, 0}));
    }

    void failedCaptureAnswersZeroAndRetries()
    {
        // The capture file cannot be written: a folder stands in its place.
        QDir().mkpath(sim->hostQ("/123.png"));
        QFile::remove(sim->hostQ("/123.png"));
        QDir().mkpath(sim->hostQ("/123.png/x"));
        Bytes head = send(md, read_req(0x800000, 16)).data();
        QCOMPARE(Bytes(head.begin() + 12, head.end()), (Bytes{0, 0, 0, 0}));
        // The next request tries again and succeeds once the path is free.
        QDir(sim->hostQ("/123.png")).removeRecursively();
        head = send(md, read_req(0x800000, 16)).data();
        QVERIFY(message_deal::capture_length > 0);
        QCOMPARE(u32(head[12] | head[13] << 8 | head[14] << 16), message_deal::capture_length);
    }

    void singleParameterRefusals()
    {
        Bytes bad = request(kBox, 0xB0, {0x30, 0, 6, 50, 0});
        QCOMPARE(send(md, bad).body, expected_reply(bad, {0x01}));
        Bytes shortReq = request(kBox, 0xB0, {0x31, 0, 6});
        QCOMPARE(send(md, shortReq).body, expected_reply(shortReq, {0x01}));
    }

    void singleParameterItems()
    {
        ZevRamPara::put16(img(), Img::kBrightness, 30);
        Bytes ignored = request(kBox, 0xB0, {0x31, 0, 6, 101, 0});
        QCOMPARE(send(md, ignored).body, expected_reply(ignored, {0x00, 0x31}));
        QCOMPARE(ZevRamPara::img16(Img::kBrightness), u16(30));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));

        Bytes items = request(kBox, 0xB0, {0x31, 0, 6, 50, 0, 29, 4, 0, 51, 6, 0, 60, 1, 0, 10, 3, 0, 12, 99, 0});
        QCOMPARE(send(md, items).body, expected_reply(items, {0x00, 0x31}));
        QCOMPARE(ZevRamPara::img16(Img::kBrightness), u16(50));
        QCOMPARE(ZevRamPara::img16(ZevRamPara::layerOffset(1) + Img::kLayerSource), u16(4));
        QCOMPARE(ZevRamPara::img16(Img::kBlackout), u16(0));
        QCOMPARE(ZevRamPara::img16(2184), u16(3));
        QCOMPARE(ZevRamPara::img16(2188), u16(99));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));

        // A trailing part of an item is not an item.
        c331_manage::para_update_flag = 0;
        Bytes partial = request(kBox, 0xB0, {0x31, 0, 6, 70});
        QCOMPARE(send(md, partial).body, expected_reply(partial, {0x00, 0x31}));
        QCOMPARE(ZevRamPara::img16(Img::kBrightness), u16(50));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }

    void singleParameterAudioAndModes()
    {
        ZevRamPara::put16(img(), Img::kAudioLayer, 2);
        const int rec = ZevRamPara::layerOffset(2);
        send(md, request(kBox, 0xB0, {0x31, 0, 93, 1, 0}));
        QCOMPARE(img()[rec + 20], u8(100));
        QCOMPARE(img()[rec + 21], u8(0x80));
        send(md, request(kBox, 0xB0, {0x31, 0, 93, 0, 0}));
        QCOMPARE(img()[rec + 20], u8(0));
        QCOMPARE(img()[rec + 21], u8(0));
        // An index past the six windows is skipped.
        ZevRamPara::put16(img(), Img::kAudioLayer, 6);
        const int past = ZevRamPara::layerOffset(6);
        img()[past + 20] = 0x12;
        c331_manage::para_update_flag = 0;
        send(md, request(kBox, 0xB0, {0x31, 0, 93, 1, 0}));
        QCOMPARE(img()[past + 20], u8(0x12));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));

        u8* slot = ZevRamPara::user_mode[9];
        slot[0] = slot[1] = 0xAA;
        std::memset(slot + 2, 0x6D, Img::kModeBytes);
        ZevRamPara::put16(img(), Img::kModeToSave, 4);
        send(md, request(kBox, 0xB0, {0x31, 0, 54, 17, 0}));
        QCOMPARE(img()[Img::kModeStart], u8(0x6D));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(10));
        QCOMPARE(ZevRamPara::img16(Img::kModeToSave), u16(0));
        // An empty slot recalls nothing.
        ZevRamPara::user_mode[1][0] = 0xFF;
        send(md, request(kBox, 0xB0, {0x31, 0, 54, 1, 0}));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(10));
    }

    void fpgaAddressesWithoutManagerRefused()
    {
        Bytes rd = read_req(0x00000010, 4, kFpga);
        QCOMPARE(send(md, rd).body, expected_reply(rd, {0x01, 0x00}));
        Bytes wr = write_req(0x00000010, {1, 2}, kFpga);
        QCOMPARE(send(md, wr).body, expected_reply(wr, {0x01}));
    }

    void badFramesDropped()
    {
        Bytes body = with_bcc(read_req(0, 4));
        body.back() ^= 0xFF;
        QVERIFY(!pc_exchange(md, wire(body)).sent);
        Bytes w = wire(with_bcc(read_req(0, 4)));
        w.pop_back();
        QVERIFY(!pc_exchange(md, w).sent);
    }
};

QTEST_MAIN(TestMessageRam)
#include "test_message_ram.moc"
