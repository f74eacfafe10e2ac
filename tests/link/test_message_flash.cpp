// Flash commands on the simulated board: erase, write and read of the FPGA's
// flash, its window and the video processor's flash, with their bounds,
// checked against what the flashes hold.
#include <QtTest>

#include "board/sim/sim_c331.h"
#include "board/sim/sim_fpga.h"
#include "board/sim/sim_spi_flash.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "pc_frames.h"
#include "support/sim_fixture.h"
#include "video/c331_drv.h"
#include "video/c331_manage.h"

Q_DECLARE_METATYPE(Bytes)

namespace
{
u32 word(u8 index, u32 address)
{
    return u32(index) << 24 | address;
}
Bytes erase_req(u32 w, u8 unit, u8 count, u16 dest = kBox)
{
    return request(dest, 0x70, cat({le32(w), {unit, count}}));
}
Bytes write_req(u32 w, const Bytes& data, u16 declared, u16 dest = kBox, u8 port = 0)
{
    return request(dest, 0x71, cat({le32(w), {u8(declared), u8(declared >> 8), 0, 0}, data}), 0, port);
}
Bytes write_req(u32 w, const Bytes& data)
{
    return write_req(w, data, u16(data.size()));
}
Bytes read_req(u32 w, u16 n, u16 dest = kBox, u8 port = 0)
{
    return request(dest, 0x72, cat({le32(w), {u8(n), u8(n >> 8)}}), 0, port);
}
Bytes pattern(size_t n, u8 seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = u8(i * 13 + seed);
    return b;
}
} // namespace

class TestMessageFlash : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    message_deal md;

    Bytes fpgaFlash(u32 at, u32 n) { return board::sim::simFpgaFlash()->peek(at, n); }
    Bytes videoFlash(u32 at, u32 n) { return board::sim::SimC331::current()->flashRead(at, n); }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture(true);
        ZevRamPara::pInstance();
        fpga_manage::pInstance();
        c331_drv::flash_busy_limit_us = 20000;
        c331_manage::p_c331_manage = new c331_manage();
        QCOMPARE(c331_manage::p_c331_manage->initialize(), 0);
    }
    void cleanupTestCase() { delete sim; }

    void eraseWriteRead_data()
    {
        QTest::addColumn<u32>("w");
        QTest::addColumn<u16>("dest");
        QTest::addColumn<u8>("port");
        QTest::addColumn<int>("flash"); // 0 FPGA flash, 1 video processor's
        QTest::addColumn<u32>("at");    // where the bytes land
        QTest::newRow("fpga") << word(1, 0x100000) << kBox << u8(0) << 0 << u32(0x100000);
        QTest::newRow("fpga by port") << u32(0x101000) << kFpga << u8(1) << 0 << u32(0x101000);
        QTest::newRow("window start") << word(0, 0x480000) << kBox << u8(0) << 0 << u32(0x6F3000);
        QTest::newRow("window end") << word(0, 0x4C0000) << kBox << u8(0) << 0 << u32(0x733000);
        QTest::newRow("video") << word(4, 0xFFF000) << kBox << u8(0) << 1 << u32(0xFFF000);
    }
    void eraseWriteRead()
    {
        QFETCH(u32, w);
        QFETCH(u16, dest);
        QFETCH(u8, port);
        QFETCH(int, flash);
        QFETCH(u32, at);
        auto held = [&](u32 n) { return flash ? videoFlash(at, n) : fpgaFlash(at, n); };
        const Bytes data = pattern(300, u8(w));
        Bytes erase = request(dest, 0x70, cat({le32(w), {1, 0}}), 0, port);
        QCOMPARE(send(md, erase).body, expected_reply(erase, {0}));
        QCOMPARE(held(4096), Bytes(4096, 0xFF));
        Bytes write = write_req(w, data, u16(data.size()), dest, port);
        QCOMPARE(send(md, write).body, expected_reply(write, {0}));
        QCOMPARE(held(300), data);
        Bytes read = read_req(w, 300, dest, port);
        QCOMPARE(send(md, read).body, expected_reply(read, cat({{0}, data})));
    }

    void bounds_data()
    {
        QTest::addColumn<Bytes>("req");
        QTest::addColumn<u8>("status");
        QTest::newRow("erase unaligned") << erase_req(word(1, 0x1800), 1, 1) << u8(1);
        QTest::newRow("erase 32K at block 1") << erase_req(word(1, 0x1000), 2, 1) << u8(1);
        QTest::newRow("erase count 0 is 1") << erase_req(word(1, 0x1000), 1, 0) << u8(0);
        QTest::newRow("erase unit 3") << erase_req(word(1, 0), 3, 1) << u8(1);
        QTest::newRow("erase past end") << erase_req(word(1, 0x7F0000), 4, 2) << u8(1);
        QTest::newRow("erase before window") << erase_req(word(0, 0x47F000), 1, 1) << u8(1);
        QTest::newRow("erase past window") << erase_req(word(0, 0x4C0000), 1, 2) << u8(1);
        QTest::newRow("erase source flash") << erase_req(word(8, 0), 1, 1) << u8(0);
        QTest::newRow("write past window") << write_req(word(0, 0x4C1000), pattern(16, 0)) << u8(1);
        QTest::newRow("write across window end") << write_req(word(0, 0x4C0FF8), pattern(16, 0)) << u8(1);
        QTest::newRow("write longer than frame") << write_req(word(1, 0x2000), pattern(16, 0), 17) << u8(1);
        QTest::newRow("write empty") << write_req(word(1, 0x2000), {}) << u8(1);
        QTest::newRow("write second flash") << write_req(word(3, 0x2000), pattern(16, 0)) << u8(1);
        QTest::newRow("read video top") << read_req(word(4, 0xFFFFFF), 1) << u8(0);
        QTest::newRow("read source last byte") << read_req(word(8, 0xFFFF), 1) << u8(0);
        QTest::newRow("read source past end") << read_req(word(8, 0xFFFF), 2) << u8(1);
        QTest::newRow("read empty") << read_req(word(1, 0), 0) << u8(1);
        QTest::newRow("read second flash") << read_req(word(3, 0), 16) << u8(1);
    }
    void bounds()
    {
        QFETCH(Bytes, req);
        QFETCH(u8, status);
        Reply r = send(md, req);
        QCOMPARE(r.status(), status);
        if (status)
            QCOMPARE(r.body.size(), size_t(12));
    }

    void windowEraseStaysInside()
    {
        // A 64 KiB erase at the window's start would reach the sector in
        // front of it.
        QCOMPARE(send(md, erase_req(word(1, 0x6F2000), 1, 1)).status(), u8(0));
        QCOMPARE(send(md, write_req(word(1, 0x6F2000), {0x42})).status(), u8(0));
        QCOMPARE(send(md, erase_req(word(0, 0x480000), 4, 1)).status(), u8(0));
        QCOMPARE(fpgaFlash(0x6F2000, 1), Bytes{0x42});
        QCOMPARE(fpgaFlash(0x6F3000, 0x10000), Bytes(0x10000, 0xFF));
    }

    void largestReadAndSourceFlash()
    {
        Reply r = send(md, read_req(word(1, 0x10000), 65535));
        QCOMPARE(r.status(), u8(0));
        QCOMPARE(r.body.size(), size_t(10 + 1 + 65535 + 1));
        QCOMPARE(r.data(), fpgaFlash(0x10000, 65535));
        Reply s = send(md, read_req(word(8, 0), 20));
        QCOMPARE(s.status(), u8(0));
        QCOMPARE(s.data(), Bytes(20, 0));
    }
};

QTEST_MAIN(TestMessageFlash)
#include "test_message_flash.moc"
