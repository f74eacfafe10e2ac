// EDID tables sent by the PC tool: stored as record files, taken into the RAM
// table and the parameter image, and served back.
#include <QtTest>

#include <cstring>

#include "chips/tarvosource.h"
#include "core/zevrampara.h"
#include "pc_frames.h"
#include "support/sim_fixture.h"
#include "video/c331_manage.h"

namespace
{
Bytes record(size_t n, u8 seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = u8(i * 3 + seed);
    // Timing: 1920 x 1080 at 60.
    const u8 timing[] = {0x80, 0x07, 0x38, 0x04, 60, 0};
    for (size_t i = 0; i < 6 && 2 + i < n; ++i)
        b[2 + i] = timing[i];
    return b;
}
Bytes write_req(u16 source, const Bytes& rec, u16 declared)
{
    return request(kBox, 0xC1,
                   cat({{1, u8(source), u8(source >> 8), 0, 0, 0, 0, u8(declared), u8(declared >> 8)}, rec}));
}
Bytes read_req(u16 source)
{
    return request(kBox, 0xC1, {2, u8(source), u8(source >> 8)});
}
} // namespace

class TestMessageEdid : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    message_deal md;

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
        tarvosource::p_tarvo_source = new tarvosource();
    }
    void cleanupTestCase() { delete sim; }
    void init()
    {
        c331_manage::para_update_flag = 0;
        std::memset(edid_ram_table_from, 0, sizeof edid_ram_table_from);
    }

    void storedAndServed()
    {
        const Bytes rec = record(288, 1);
        Bytes w = write_req(5, rec, 288);
        QCOMPARE(send(md, w).body, expected_reply(w, {0, 1}));
        QCOMPARE(readHostFile(sim->hostQ("/data/edidramtable/0005.bin")),
                 QByteArray(reinterpret_cast<const char*>(rec.data()), 288));
        QCOMPARE(Bytes(edid_ram_table + 5 * 256, edid_ram_table + 6 * 256), Bytes(rec.begin() + 32, rec.end()));
        QCOMPARE(edid_ram_table_from[5], u8(1));
        QCOMPARE(ZevRamPara::img16(926), u16(1920));
        QCOMPARE(ZevRamPara::img16(928), u16(1080));
        QCOMPARE(ZevRamPara::img16(930), u16(60));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));

        Bytes r = read_req(5);
        QCOMPARE(send(md, r).body, expected_reply(r, cat({{0, 2, 5, 0, 32, 0, 0x20, 0x01}, rec})));
        Bytes missing = read_req(3);
        QCOMPARE(send(md, missing).body, expected_reply(missing, {0, 2, 3, 0, 0, 0, 0, 0}));
    }

    // A record that cannot be read is answered as a missing one, kept, and
    // named in a warning.
    void unreadableRecordIsNamed()
    {
        const QString file = sim->hostQ("/data/edidramtable/0004.bin");
        QVERIFY(QDir().mkpath(file + "/in-the-way"));
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(file + " cannot be read: answered as missing, the file is kept as it is"));
        Bytes r = read_req(4);
        QCOMPARE(send(md, r).body, expected_reply(r, {0, 2, 4, 0, 0, 0, 0, 0}));
        QVERIFY(QFileInfo(file).isDir());
        QVERIFY(QDir(file).removeRecursively());
    }

    void onlyCarriedBytesTaken()
    {
        std::memset(edid_ram_table + 2 * 256, 0x77, 256);
        const Bytes rec = record(40, 9);
        Bytes w = write_req(2, rec, 40);
        QCOMPARE(send(md, w).body, expected_reply(w, {0, 1}));
        Bytes block(edid_ram_table + 2 * 256, edid_ram_table + 3 * 256);
        QCOMPARE(Bytes(block.begin(), block.begin() + 8), Bytes(rec.begin() + 32, rec.end()));
        QCOMPARE(Bytes(block.begin() + 8, block.end()), Bytes(248, 0));
        // A short file reads back zero-filled.
        Bytes r = read_req(2);
        QCOMPARE(send(md, r).body, expected_reply(r, cat({{0, 2, 2, 0, 32, 0, 0x20, 0x01}, rec, Bytes(248, 0)})));
    }

    void refusals_data()
    {
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("declared");
        QTest::addColumn<int>("status");
        QTest::newRow("source 6") << 6 << 288 << 2;
        QTest::newRow("longer than frame") << 1 << 400 << 1;
    }
    void refusals()
    {
        QFETCH(int, source);
        QFETCH(int, declared);
        QFETCH(int, status);
        std::memset(edid_ram_table + 256, 0x55, 256);
        Bytes w = write_req(u16(source), record(288, 4), u16(declared));
        QCOMPARE(send(md, w).body, expected_reply(w, {u8(status), 1}));
        QCOMPARE(edid_ram_table[256 + 10], u8(0x55));
        QCOMPARE(edid_ram_table_from[1], u8(0));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
        QVERIFY(!QFileInfo::exists(sim->hostQ("/data/edidramtable/0001.bin")));
    }
};

QTEST_MAIN(TestMessageEdid)
#include "test_message_edid.moc"
