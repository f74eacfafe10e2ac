// The record-file reader on pack and scan-parameter files built byte by
// byte: sub-file lookup in any order, screens, ports, card blocks,
// operations and their data, and damaged files.
#include <QtTest>

#include "ledout/rcv_recovery_file.h"
#include "rcv_files.h"
#include "support/sim_fixture.h"

namespace
{
const QString kPack = "/data/rcvrecovery/screen.pack";

RcvOp op(uint8_t type, uint8_t target, uint32_t addr, FileBytes data, uint32_t ticks = 100)
{
    return RcvOp{type, target, addr, ticks, std::move(data)};
}

// Two screens: the second has ports 3 and 1; port 1's cards carry 3, 0 and
// 2 operations.
std::vector<RcvScreen> twoScreens()
{
    RcvScreen a{0x1001, {{0, {{op(1, 1, 0x10, {1, 2, 3})}}}}, {op(1, 2, 0, {9, 9})}};
    RcvScreen b{0x2002,
                {{3, {{op(6, 1, 0, {})}}},
                 {1,
                  {{op(1, 1, 0x100, {0xA1}), op(1, 2, 0, {0xA2, 0xA3}), op(2, 3, 0, {})},
                   {},
                   {op(5, 1, 0, {0xC1, 0xC2, 0xC3}), op(16, 1, 0, {0x39, 0x01})}}}},
                {op(1, 1, 0x200, {7, 7, 7, 7}), op(3, 1, 0, {0x55})}};
    return {a, b};
}
} // namespace

class TestRcvRecoveryFile : public QObject
{
    Q_OBJECT

    SimFixture* fx_ = nullptr;

    void write(const QString& path, const FileBytes& b)
    {
        QVERIFY(writeHostFile(fx_->hostQ(path.toStdString()),
                              QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()))));
    }
    // Reads the pack's head, table, screen head and screen i.
    void openScreen(rcvRecovery& r, unsigned char i)
    {
        QCOMPARE(r.get_rcvPackedFileNum(kPack), 0);
        for (unsigned char e = 0; e < r.subfile_count(); ++e)
            QCOMPARE(r.get_rcvPackedFileInfo(kPack, e), 0);
        QCOMPARE(r.update_rcvScreenHead(kPack), 0);
        QCOMPARE(r.update_rcvScreenIDinfo(kPack, i), 0);
    }

  private slots:
    void initTestCase() { fx_ = new SimFixture(false); }

    void subFilesInAnyOrder_data()
    {
        QTest::addColumn<std::vector<uint8_t>>("order");
        QTest::newRow("10 11 12") << std::vector<uint8_t>{10, 11, 12};
        QTest::newRow("12 10 11") << std::vector<uint8_t>{12, 10, 11};
        QTest::newRow("11 12 10") << std::vector<uint8_t>{11, 12, 10};
    }
    void subFilesInAnyOrder()
    {
        QFETCH(std::vector<uint8_t>, order);
        write(kPack, recoveryPack(twoScreens(), order));
        rcvRecovery r;
        openScreen(r, 1);
        QCOMPARE(int(r.screen_head.screen_num), 2);
        QCOMPARE(r.screen.config_id, 0x2002u);
        QCOMPARE(r.update_rcvXYscreenNetnum(kPack), 0);
        QCOMPARE(int(r.net_num), 2);
        QCOMPARE(r.update_rcvXYscreenNetpara(kPack, 1), 0);
        QCOMPARE(int(r.net.net_ledx), 1);
        QCOMPARE(int(r.net.net_rcv_num), 3);

        // Card 2 of the port: after blocks of 3 and 0 operations.
        QCOMPARE(r.update_rcvXYrcvOperateTimes(kPack, 2, false), 0);
        QCOMPARE(r.block_offset, 4u + 54u + 4u);
        QCOMPARE(int(r.op_num), 2);
        QCOMPARE(r.update_rcvXYrcvOperatepara(kPack, 0, false), 0);
        QCOMPARE(int(r.operate.type), 5);
        QCOMPARE(r.operate.dataLen, 3u);
        const uint64_t at =
            uint64_t(r.subfile_offset(11)) + r.screen.rcv_xy_offset + r.net.net_para_offset + r.operate.offset;
        u8 data[3];
        QCOMPARE(r.update_rcvOperatedata(kPack, at, data, 3), 0);
        QCOMPARE(FileBytes(data, data + 3), FileBytes({0xC1, 0xC2, 0xC3}));

        // The screen's parameter operations.
        QCOMPARE(r.update_smartDebugingOperateTimes(kPack, false), 0);
        QCOMPARE(int(r.op_num), 2);
        QCOMPARE(r.update_smartDebugingOperatepara(kPack, 1, false), 0);
        QCOMPARE(int(r.operate.type), 3);
        u8 one = 0;
        QCOMPARE(
            r.update_rcvOperatedata(kPack, r.subfile_offset(12) + r.screen.rcv_para_offset + r.operate.offset, &one, 1),
            0);
        QCOMPARE(one, u8(0x55));
    }

    void screenPastTheCountIsRefused()
    {
        write(kPack, recoveryPack(twoScreens()));
        rcvRecovery r;
        openScreen(r, 0);
        QCOMPARE(r.update_rcvScreenIDinfo(kPack, 2), 1);
        QCOMPARE(r.screen.config_id, 0x1001u);
    }

    void scanParameterFile()
    {
        const QString scan = "/data/smartmapping/panel.scan";
        write(scan, scanFile({op(1, 2, 0, {1, 2}), op(1, 1, 0x40, {3, 4, 5})}));
        rcvRecovery r;
        QCOMPARE(r.update_smartDebugingOperateTimes(scan, true), 0);
        QCOMPARE(int(r.op_num), 2);
        QCOMPARE(r.update_smartDebugingOperatepara(scan, 1, true), 0);
        QCOMPARE(r.operate.targetAddr, 0x40u);
        u8 d[3];
        QCOMPARE(r.update_rcvOperatedata(scan, 16 + uint64_t(r.operate.offset), d, 3), 0);
        QCOMPARE(FileBytes(d, d + 3), FileBytes({3, 4, 5}));
    }

    void damagedFiles_data()
    {
        QTest::addColumn<int>("damage");
        QTest::newRow("seven sub-files") << 0;
        QTest::newRow("truncated") << 1;
        QTest::newRow("offset past the end") << 2;
        QTest::newRow("offset wrapping 32 bits") << 3;
        QTest::newRow("missing") << 4;
        QTest::newRow("LED port 32") << 5;
        QTest::newRow("33 ports in a table") << 6;
    }
    void damagedFiles()
    {
        QFETCH(int, damage);
        std::vector<RcvScreen> screens = twoScreens();
        if (damage == 5)
            screens[1].ports[0].ledx = 32;
        if (damage == 6)
            screens[1].ports.resize(33);
        FileBytes b = recoveryPack(screens);
        if (damage == 0)
            b[3] = 7;
        if (damage == 1)
            b.resize(b.size() / 2);
        if (damage == 2)
            put32(b, 12, uint32_t(b.size()));
        if (damage == 3)
            put32(b, 12, 0xFFFFFFF0u);
        const QString path = damage == 4 ? QString("/data/rcvrecovery/none") : kPack;
        write(kPack, b);
        rcvRecovery r;
        int result = r.get_rcvPackedFileNum(path);
        for (unsigned char e = 0; result == 0 && e < r.subfile_count(); ++e)
            result = r.get_rcvPackedFileInfo(path, e);
        if (result == 0)
            result = r.update_rcvScreenHead(path);
        for (unsigned char i = 0; result == 0 && i < 2; ++i)
            result = r.update_rcvScreenIDinfo(path, i);
        if (result == 0)
            result = r.update_rcvXYscreenNetnum(path);
        for (unsigned char i = 0; result == 0 && i < r.net_num; ++i) {
            result = r.update_rcvXYscreenNetpara(path, i);
            for (unsigned char c = 0; result == 0 && c < r.net.net_rcv_num; ++c)
                result = r.update_rcvXYrcvOperateTimes(path, c, false);
        }
        QCOMPARE(result, damage == 4 ? 1 : 2);
    }

    void listings()
    {
        write("/data/rcvrecovery/a", {1});
        write("/data/rcvrecovery/.a.part", {1});
        write("/data/smartmapping/b", {1});
        write("/mnt/usb1/c", {1});
        QDir().mkpath(fx_->hostQ("/mnt/usb1/sub"));
        rcvRecovery r;
        QCOMPARE(r.get_dir_file("/data/rcvrecovery"), 0);
        QVERIFY(r.recovery_files().contains("a"));
        QVERIFY(!r.recovery_files().contains(".a.part"));
        QCOMPARE(r.get_dir_file("/mnt/usb1"), 0); // not the listed spelling
        QVERIFY(r.scan_files().isEmpty());
        QCOMPARE(r.get_dir_file("/mnt/usb1/"), 0);
        QCOMPARE(r.scan_files(), QStringList({"c"}));
        QCOMPARE(r.get_dir_file("/data/nothing"), 1);
        QCOMPARE(rcvRecovery::check_file_dir("/data/newdir"), 1);
        QCOMPARE(rcvRecovery::check_file_dir("/data/newdir"), 0);
    }
};

QTEST_MAIN(TestRcvRecoveryFile)
#include "test_rcv_recovery_file.moc"
