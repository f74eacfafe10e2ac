// File transfers as the PC tool runs them: files of every kind sent and
// installed, fetched back, refused, interrupted and mixed with other
// commands, checked against what lands under the data root.
#include <QtTest>

#include <QDir>

#include <sys/stat.h>

#include "board/file_read.h"
#include "core/staging.h"
#include "core/zevrampara.h"
#include "link/file_install.h"
#include "link/message_deal_file.h"
#include "pc_frames.h"
#include "support/sim_fixture.h"

Q_DECLARE_METATYPE(Bytes)

namespace
{
Bytes pattern(size_t n, u8 seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = u8(i * 7 + seed + (i >> 8));
    return b;
}
Bytes file_bytes(const QByteArray& a)
{
    return Bytes(a.begin(), a.end());
}
} // namespace

class TestMessageFile : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    message_deal md;

    QByteArray host(const std::string& p) { return readHostFile(sim->hostQ(p)); }
    Bytes mtd(const char* dev, u32 n) { return file_bytes(host(dev).left(int(n))); }

    // Blocks of 1000 bytes, then the end request; the end reply's bytes 10..12.
    Bytes sendBlocks(const Bytes& data, const Bytes& digest)
    {
        for (size_t at = 0; at < data.size(); at += 1000) {
            Bytes part(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + 1000)));
            Reply b = send(md, block_req(u32(at), part, u32(part.size())));
            if (b.data() != Bytes{2})
                return {};
        }
        Reply e = send(md, end_req(digest));
        return Bytes(e.body.begin() + 10, e.body.end() - 1);
    }
    Bytes sendFile(const Bytes& start, const Bytes& data, const Bytes& digest)
    {
        Reply s = send(md, start);
        if (s.data().size() < 2 || s.status() != 0)
            return {s.status()};
        return sendBlocks(data, digest);
    }
    Bytes sendFile(const Bytes& start, const Bytes& data) { return sendFile(start, data, digest_of(data)); }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
    }
    void cleanupTestCase() { delete sim; }

    void filesOfEveryKindInstalled_data()
    {
        QTest::addColumn<Bytes>("start");
        QTest::addColumn<QString>("target");
        QTest::newRow("application") << start_req("FMCU", 0, 2500) << "/data/app/zevQ64N2";
        QTest::newRow("alias") << start_req("ALIS", 0, 2500) << "/data/configs/alias.json";
        QTest::newRow("menu") << start_req("OSDS", 0, 2500) << "/data/configs/omenu.json";
        QTest::newRow("mode 10") << start_req("MO0a", 0, 2500) << "/data/modes/MO0a.json";
        QTest::newRow("mode 16") << start_req("MO10", 0, 2500) << "/data/modes/MO10.json";
        QTest::newRow("recovery") << start_req("KQFX", 9, 2500) << "/data/rcvrecovery/KQFX";
        QTest::newRow("scan") << start_req("KQFR", 13, 2500) << "/data/smartmapping/KQFR";
        QTest::newRow("named") << defined_req(7, "recov1", 9, 2500) << "/data/rcvrecovery/recov1";
        QTest::newRow("named scan") << defined_req(7, "scan_2.bin", 13, 2500) << "/data/smartmapping/scan_2.bin";
    }
    void filesOfEveryKindInstalled()
    {
        QFETCH(Bytes, start);
        QFETCH(QString, target);
        const std::string path = target.toStdString();
        writeHostFile(sim->hostQ(path), "old");
        const Bytes data = pattern(2500, 3);
        // A wrong digest keeps the old file.
        Bytes bad = digest_of(data);
        bad[0] ^= 1;
        QCOMPARE(sendFile(start, data, bad), (Bytes{0, 3, 1}));
        // (The application's start already removed the old copy.)
        QCOMPARE(host(path), QByteArray(target.contains("zevQ64N2") ? "" : "old"));
        // A FIFO left at the temporary name is replaced, never waited on.
        const size_t slash = path.rfind('/');
        const std::string temp = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".part";
        QCOMPARE(mkfifo(sim->host(temp).c_str(), 0644), 0);
        QCOMPARE(sendFile(start, data), (Bytes{0, 3, 0}));
        QCOMPARE(file_bytes(host(path)), data);
        // No temporary file is left beside it, and no staged copy.
        QDir dir(sim->hostQ(path.substr(0, path.rfind('/'))));
        QVERIFY(dir.entryList(QStringList() << ".*.part", QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(!fileBuf_tarvo.data());
    }

    // What was written is read back and compared with what was sent: any
    // difference on the disk fails the install.
    void writtenFileComparedWithTheStagedBytes_data()
    {
        QTest::addColumn<QByteArray>("onDisk");
        QTest::addColumn<int>("result");
        const QByteArray sent(70000, 'a');
        QTest::newRow("same") << sent << int(board::FileWrite::written);
        QTest::newRow("one byte differs") << QByteArray(sent).replace(69999, 1, "b") << int(board::FileWrite::mismatch);
        QTest::newRow("shorter") << sent.left(69999) << int(board::FileWrite::mismatch);
        QTest::newRow("longer") << sent + "a" << int(board::FileWrite::mismatch);
    }
    void writtenFileComparedWithTheStagedBytes()
    {
        QFETCH(QByteArray, onDisk);
        const QByteArray sent(70000, 'a');
        const QString file = sim->hostQ("/data/compared");
        QVERIFY(writeHostFile(file, onDisk));
        QTEST(int(board::compare_file(file.toStdString(), sent.constData(), size_t(sent.size()))), "result");
        QCOMPARE(board::compare_file(file.toStdString() + ".none", nullptr, 0), board::FileWrite::failed);
    }

    void kernelAndLogoFlashed()
    {
        const Bytes kernel = pattern(3000, 9);
        Bytes bad = digest_of(kernel);
        bad[15] ^= 0x80;
        const Bytes before = mtd("/dev/mtd10", 0x500000);
        QCOMPARE(sendFile(start_req("FKRN", 0, 3000), kernel, bad), (Bytes{0, 3, 1}));
        QCOMPARE(mtd("/dev/mtd10", 0x500000), before);
        QCOMPARE(sendFile(start_req("FKRN", 0, 3000), kernel), (Bytes{0, 3, 0}));
        Bytes k = mtd("/dev/mtd10", 0x500000);
        QCOMPARE(Bytes(k.begin(), k.begin() + 3000), kernel);
        QVERIFY(std::all_of(k.begin() + 3000, k.end(), [](u8 b) { return b == 0; }));
        QCOMPARE(g_update_flag.load(), u8(1));

        const Bytes logo = pattern(1001, 1);
        QCOMPARE(sendFile(start_req("LOGO", 0, 1001), logo), (Bytes{0, 3, 0}));
        Bytes img = mtd("/dev/mtd8", 0x60000);
        QCOMPARE(Bytes(img.begin(), img.begin() + 5), (Bytes{'S', 'S', 'T', 'A', 'R'}));
        QCOMPARE(Bytes(img.begin() + 328, img.begin() + 332), (Bytes{'L', 'O', 'G', 'O'}));
        QCOMPARE(Bytes(img.begin() + 360, img.begin() + 368), (Bytes{0xEC, 0x03, 0, 0, 0x2C, 0, 0, 0}));
        QCOMPARE(Bytes(img.begin() + 372, img.begin() + 1373), logo);
        QVERIFY(std::all_of(img.begin() + 1373, img.end(), [](u8 b) { return b == 0; }));
        // The logo cannot overrun its partition.
        Reply big = send(md, start_req("LOGO", 0, 0x60000 - 371));
        QCOMPARE(big.data(), (Bytes{1, 2}));
        QCOMPARE(big.status(), u8(1));
    }

    void refusedStartsLeaveNothingToInstall_data()
    {
        QTest::addColumn<Bytes>("start");
        QTest::newRow("dot-dot") << defined_req(7, "../x", 9, 10);
        QTest::newRow("blank") << defined_req(7, "a b", 9, 10);
        QTest::newRow("shell") << defined_req(7, "x;reboot", 13, 10);
        QTest::newRow("empty") << defined_req(7, "", 9, 10);
        QTest::newRow("slash") << defined_req(7, "a/b", 9, 10);
        QTest::newRow("kind") << defined_req(7, "recov1", 5, 10);
        QTest::newRow("mode 0") << start_req("MO00", 0, 10);
        QTest::newRow("mode 17") << start_req("MO11", 0, 10);
        QTest::newRow("mode sign") << start_req("MO+1", 0, 10);
        QTest::newRow("bad kind") << start_req("KQFX", 13, 10);
        QTest::newRow("tag") << start_req("ABCD", 0, 10);
        QTest::newRow("short") << request(kBox, 0xC0, {1, 0, 0, 'A', 'L', 'I', 'S'});
        QTest::newRow("too big") << start_req("ALIS", 0, 0x60001);
    }
    void refusedStartsLeaveNothingToInstall()
    {
        QFETCH(Bytes, start);
        writeHostFile(sim->hostQ("/data/configs/alias.json"), "alias");
        // An accepted transfer is under way when the refused start comes.
        const Bytes data = pattern(10, 5);
        QCOMPARE(send(md, start_req("ALIS", 0, 10)).data(), (Bytes{1, 0}));
        send(md, block_req(0, data, 10));
        Reply r = send(md, start);
        QCOMPARE(r.status(), u8(1));
        QCOMPARE(Bytes(r.body.begin() + 12, r.body.begin() + 13), Bytes{2});
        QCOMPARE(g_zev_file_deal_para.kind, u8(0));
        QCOMPARE(sendBlocks(data, digest_of(data)), (Bytes{0, 3, 0}));
        QCOMPARE(host("/data/configs/alias.json"), QByteArray("alias"));
        QVERIFY(!QFileInfo::exists(sim->hostQ("/data/x")));
        QVERIFY(!QFileInfo::exists(sim->hostQ("/data/a")));
    }

    void interruptedAndMixedTransfers()
    {
        writeHostFile(sim->hostQ("/data/configs/omenu.json"), "menu file");
        const Bytes alias = pattern(2500, 11);
        // Cut short by a new start: the first file is never installed.
        writeHostFile(sim->hostQ("/data/modes/MO01.json"), "mode 1");
        send(md, start_req("MO01", 0, 2500));
        send(md, block_req(0, Bytes(alias.begin(), alias.begin() + 1000), 1000));
        QCOMPARE(send(md, start_req("ALIS", 0, 2500)).data(), (Bytes{1, 0}));
        send(md, block_req(0, Bytes(alias.begin(), alias.begin() + 1000), 1000));
        // A read transfer and a flash read in the middle change nothing.
        QCOMPARE(send(md, read_start_req("OSDS")).data(), (Bytes{4, 1, 9, 0, 0, 0}));
        Reply rb = send(md, read_block_req(0, 9));
        QCOMPARE(Bytes(rb.body.begin() + 12, rb.body.end() - 1), file_bytes("menu file"));
        Reply re = send(md, read_end_req());
        QCOMPARE(Bytes(re.body.begin() + 12, re.body.end() - 1), digest_of(file_bytes("menu file")));
        QCOMPARE(send(md, request(kBox, 0x72, cat({le32(0x08000000), {16, 0}}))).status(), u8(0));
        send(md, block_req(1000, Bytes(alias.begin() + 1000, alias.end()), 1500));
        QCOMPARE(send(md, end_req(digest_of(alias))).data(), (Bytes{3, 0}));
        QCOMPARE(file_bytes(host("/data/configs/alias.json")), alias);
        QCOMPARE(host("/data/modes/MO01.json"), QByteArray("mode 1"));
        // A repeated end installs the same bytes again.
        QCOMPARE(send(md, end_req(digest_of(alias))).data(), (Bytes{3, 0}));
        QCOMPARE(file_bytes(host("/data/configs/alias.json")), alias);
    }

    void blocksOutsideFrameOrBufferRefused()
    {
        send(md, start_req("ALIS", 0, 16));
        const Bytes data = pattern(16, 2);
        // Past the buffer, and longer than the frame carries.
        QCOMPARE(send(md, block_req(0x60000 - 8, data, 16)).body.at(10), u8(1));
        QCOMPARE(send(md, block_req(0xFFFFFFF8u, data, 16)).body.at(10), u8(1));
        QCOMPARE(send(md, block_req(0, data, 100000)).body.at(10), u8(1));
        QCOMPARE(send(md, block_req(0, data, 16)).body.at(10), u8(0));
        QCOMPARE(send(md, end_req(digest_of(data))).data(), (Bytes{3, 0}));
        // The boot loader is taken silently and never stored.
        QVERIFY(!send(md, start_req("FBOT", 0, 4)).sent);
        QCOMPARE(send(md, block_req(0, data, 16)).data(), Bytes{2});
    }

    void repeatedBlockFailsTheCheck()
    {
        writeHostFile(sim->hostQ("/data/configs/alias.json"), "alias");
        const Bytes data = pattern(2000, 4);
        send(md, start_req("ALIS", 0, 2000));
        send(md, block_req(0, Bytes(data.begin(), data.begin() + 1000), 1000));
        // Digest computed over what was sent, but the second block lands
        // on the first: the stored bytes are not the file.
        send(md, block_req(0, Bytes(data.begin() + 1000, data.end()), 1000));
        QCOMPARE(send(md, end_req(digest_of(data))).data(), (Bytes{3, 1}));
        QCOMPARE(host("/data/configs/alias.json"), QByteArray("alias"));
        // A boot loader sent next is checked for itself, not answered as
        // the failed file was.
        QVERIFY(!send(md, start_req("FBOT", 0, 16)).sent);
        send(md, block_req(0, pattern(16, 9), 16));
        QCOMPARE(send(md, end_req(digest_of(pattern(16, 9)))).data(), (Bytes{3, 0}));
    }

    void failedWritesKeepTheOldFile()
    {
        // The target is a folder: the rename cannot replace it.
        QDir().mkpath(sim->hostQ("/data/modes/MO02.json"));
        const Bytes data = pattern(50, 6);
        QCOMPARE(sendFile(start_req("MO02", 0, 50), data), (Bytes{1, 3, 1}));
        QVERIFY(QFileInfo(sim->hostQ("/data/modes/MO02.json")).isDir());
        // A file in its folder's place.
        QDir(sim->hostQ("/data/smartmapping")).removeRecursively();
        QVERIFY(writeHostFile(sim->hostQ("/data/smartmapping"), "x"));
        QCOMPARE(sendFile(start_req("KQFR", 13, 50), data), (Bytes{1, 3, 1}));
        QVERIFY(QFile::remove(sim->hostQ("/data/smartmapping")) && QDir().mkpath(sim->hostQ("/data/smartmapping")));
        // A partition that cannot be opened.
        QFile::remove(sim->hostQ("/dev/mtd8"));
        QDir().mkpath(sim->hostQ("/dev/mtd8"));
        QCOMPARE(sendFile(start_req("LOGO", 0, 50), data), (Bytes{1, 3, 1}));
        QCOMPARE(g_zev_file_deal_para.mtd_fd, -1);
        QDir(sim->hostQ("/dev/mtd8")).removeRecursively();
    }

    void applicationStartRemovesStaleCopy()
    {
        writeHostFile(sim->hostQ("/data/app/zevQ64N2"), "stale");
        send(md, start_req("FMCU", 0, 10));
        QVERIFY(!QFileInfo::exists(sim->hostQ("/data/app/zevQ64N2")));
        // A failed transfer leaves no application to move over the program.
        Bytes data = pattern(10, 0);
        QCOMPARE(sendBlocks(data, digest_of(pattern(10, 1))), (Bytes{0, 3, 1}));
        QVERIFY(!QFileInfo::exists(sim->hostQ("/data/app/zevQ64N2")));
    }

    void readsOfMissingAndNamedFiles()
    {
        QFile::remove(sim->hostQ("/data/configs/alias.json"));
        Bytes start = read_start_req("ALIS");
        QCOMPARE(send(md, start).data(), (Bytes{4, 0, 0, 0, 0, 0}));
        Reply b = send(md, read_block_req(0, 40));
        QCOMPARE(b.body.size(), size_t(10 + 42 + 1));
        QCOMPARE(b.body.at(12), u8(0));
        // More than a reply can carry.
        Reply big = send(md, read_block_req(0, 65536));
        QCOMPARE(big.data(), Bytes{5});
        QCOMPARE(big.status(), u8(1));

        writeHostFile(sim->hostQ("/data/rcvrecovery/pack1"), "pack");
        writeHostFile(sim->hostQ("/data/secret"), "secret");
        QCOMPARE(send(md, defined_req(8, "pack1", 9, 0)).data(), (Bytes{8, 1, 4, 0, 0, 0}));
        QCOMPARE(send(md, defined_req(8, "../secret", 9, 0)).data(), (Bytes{8, 0, 0, 0, 0, 0}));
        QCOMPARE(send(md, defined_req(8, "ABCD", 5, 0)).data(), (Bytes{4, 0, 0, 0, 0, 0}));
        QCOMPARE(send(md, request(kBox, 0xC0, {9})).data(), Bytes{6});
    }

    // Two clients at once: a start, block or end counts only for the client
    // that made it, and a transfer whose client went silent stops holding
    // the others back.
    void transfersOfTwoClients()
    {
        message_deal other;
        writeHostFile(sim->hostQ("/data/configs/alias.json"), "alias");
        const Bytes a = pattern(1500, 21), b = pattern(700, 22);
        QCOMPARE(send(md, start_req("ALIS", 0, 1500)).data(), (Bytes{1, 0}));
        send(md, block_req(0, Bytes(a.begin(), a.begin() + 1000), 1000));
        struct {
            Bytes request;
            Bytes reply; // status, echo, result
        } refused[] = {
            {defined_req(7, "rec1", 9, 700), {1, 7, 2}}, {start_req("KQFX", 9, 700), {1, 1, 2}},
            {start_req("FBOT", 0, 700), {1, 1, 2}},      {block_req(0, b, 700), {1, 2}},
            {end_req(digest_of(b)), {1, 3, 1}},
        };
        for (const auto& row : refused) {
            Reply r = send(other, row.request);
            QCOMPARE(Bytes(r.body.begin() + 10, r.body.end() - 1), row.reply);
        }
        send(md, block_req(1000, Bytes(a.begin() + 1000, a.end()), 500));
        QCOMPARE(send(md, end_req(digest_of(a))).data(), (Bytes{3, 0}));
        QCOMPARE(file_bytes(host("/data/configs/alias.json")), a);
        QVERIFY(!QFileInfo::exists(sim->hostQ("/data/rcvrecovery/rec1")));
        // The first client's transfer is ended: the other may start its own,
        // and the first can no longer end it.
        QCOMPARE(send(other, defined_req(7, "rec1", 9, 700)).data(), (Bytes{7, 0}));
        QCOMPARE(send(md, end_req(digest_of(a))).data(), (Bytes{3, 1}));
        send(other, block_req(0, b, 700));
        QCOMPARE(send(other, end_req(digest_of(b))).data(), (Bytes{3, 0}));
        QCOMPARE(file_bytes(host("/data/rcvrecovery/rec1")), b);

        // A client that vanished mid-transfer holds the others back 30 s.
        G_timeTicks = 1000;
        QCOMPARE(send(md, start_req("OSDS", 0, 10)).data(), (Bytes{1, 0}));
        G_timeTicks = 4000;
        QCOMPARE(send(other, start_req("ALIS", 0, 10)).data(), (Bytes{1, 2}));
        G_timeTicks = 4001;
        QCOMPARE(send(other, start_req("ALIS", 0, 10)).data(), (Bytes{1, 0}));
        QCOMPARE(send(md, block_req(0, pattern(10, 1), 10)).status(), u8(1));
        QCOMPARE(send(other, block_req(0, pattern(10, 1), 10)).status(), u8(0));
        QCOMPARE(send(other, end_req(digest_of(pattern(10, 1)))).data(), (Bytes{3, 0}));
        QCOMPARE(file_bytes(host("/data/configs/alias.json")), pattern(10, 1));
        QFile::remove(sim->hostQ("/data/rcvrecovery/rec1"));
    }

    // Record files cannot fill the data partition: each folder takes 16,
    // both together 16 MiB; a file replacing one of the same name counts
    // once.
    void recordFilesAreBounded()
    {
        auto start = [this](const std::string& name, u8 kind, u32 size) {
            Reply r = send(md, defined_req(7, name, kind, size));
            return Bytes(r.body.begin() + 10, r.body.end() - 1);
        };
        send(md, request(kBox, 0xC0, {10}));
        for (int i = 0; i < 16; ++i)
            QVERIFY(writeHostFile(sim->hostQ("/data/rcvrecovery/r" + std::to_string(i)), "r"));
        // Temporary files are not record files.
        QVERIFY(writeHostFile(sim->hostQ("/data/rcvrecovery/.r16.part"), "t"));
        QCOMPARE(start("r16", 9, 10), (Bytes{1, 7, 2}));
        QCOMPARE(start("r3", 9, 10), (Bytes{0, 7, 0}));
        QCOMPARE(start("s0", 13, 10), (Bytes{0, 7, 0}));
        QFile big(sim->hostQ("/data/smartmapping/big"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize((16 << 20) - 100));
        big.close();
        QCOMPARE(start("s1", 13, 100 - 16), (Bytes{0, 7, 0}));
        QCOMPARE(start("s1", 13, 100 - 15), (Bytes{1, 7, 2}));
        QCOMPARE(start("big", 13, 1000), (Bytes{0, 7, 0}));
        send(md, request(kBox, 0xC0, {10}));
    }

    void deleteEmptiesTheRecordFolders()
    {
        writeHostFile(sim->hostQ("/data/rcvrecovery/r1"), "1");
        writeHostFile(sim->hostQ("/data/smartmapping/s1"), "1");
        writeHostFile(sim->hostQ("/data/smartmapping/s 2;x"), "2");
        writeHostFile(sim->hostQ("/data/configs/keep"), "k");
        // Without an FPGA manager there is no list to clear.
        QCOMPARE(send(md, request(kBox, 0xC0, {10})).data(), Bytes{10});
        QVERIFY(QDir(sim->hostQ("/data/rcvrecovery")).isEmpty());
        QVERIFY(QDir(sim->hostQ("/data/smartmapping")).isEmpty());
        QVERIFY(QFileInfo::exists(sim->hostQ("/data/configs/keep")));
        QCOMPARE(send(md, request(kBox, 0xC0, {10})).data(), Bytes{10});
    }
};

QTEST_MAIN(TestMessageFile)
#include "test_message_file.moc"
