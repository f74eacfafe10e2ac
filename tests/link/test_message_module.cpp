// Module files of the cloud link and the module's status, spoken as the PC
// tool does: starts, blocks in and out of order, ends, cancels.
#include <QtTest>

#include <cstring>

#include <QDir>

#include "core/zevrampara.h"
#include "pc_frames.h"
#include "remote/networkclient_manage.h"
#include "remote/remote_links.h"
#include "support/fs_helpers.h"
#include "support/sim_fixture.h"

namespace
{
Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = u8(i * 13 + 1);
    return b;
}
} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestMessageModule : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    message_deal md;

    // Code byte of a reply.
    static u8 code(const Reply& r) { return r.body.at(11); }

    void send_file(const char* name, u16 tid, const Bytes& data, u8 endCode = 200)
    {
        QCOMPARE(code(send(md, module_start_req(name, u32(data.size()), 1))), u8(200));
        for (size_t at = 0; at < data.size(); at += 500) {
            Bytes part(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + 500)));
            QCOMPARE(code(send(md, module_block_req(tid, u32(at), part))), u8(200));
        }
        QCOMPARE(code(send(md, module_end_req(0xC6, tid, u32(data.size())))), endCode);
    }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
        static remote_links remote;
        message_remote::install(&remote);
    }
    void cleanupTestCase() { delete sim; }
    void init() { QFile::remove(sim->hostQ("/data/configs/cloud_cafile")); }

    void startRefusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<uint>("size");
        QTest::addColumn<int>("overwrite");
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("want");
        QTest::addColumn<int>("tid");
        QTest::newRow("too large") << "F002" << 40000u << 0 << false << 66 << 101;
        QTest::newRow("exists") << "F002" << 400u << 0 << true << 65 << 101;
        QTest::newRow("too large, exists") << "F002" << 40000u << 0 << true << 65 << 101;
        QTest::newRow("too large, overwrite") << "F002" << 40000u << 1 << false << 66 << 101;
        QTest::newRow("F003") << "F003" << 4u << 1 << false << 64 << 0;
    }
    void startRefusals()
    {
        QFETCH(QString, name);
        QFETCH(uint, size);
        QFETCH(int, overwrite);
        QFETCH(bool, present);
        QFETCH(int, want);
        QFETCH(int, tid);
        if (present)
            writeHostFile(sim->hostQ("/data/configs/cloud_cafile"), "x");
        Reply r = send(md, module_start_req(name.toLatin1().constData(), size, u8(overwrite)));
        QCOMPARE(int(code(r)), want);
        QCOMPARE(r.status(), u8(1));
        QCOMPARE(r.body[13] | (r.body[14] << 8), tid);
        // The refused start is the open transfer: its id takes data (a
        // state without a file stores none).
        r = send(md, module_block_req(u16(tid), 0, {1, 2}));
        QCOMPARE(r.status(), u8(0));
        QCOMPARE(int(code(r)), 200);
    }

    void dataNeverPassTheLimitOfTheFile()
    {
        QCOMPARE(code(send(md, module_start_req("F002", 40000, 1))), u8(66));
        QCOMPARE(code(send(md, module_block_req(101, 0, pattern(32768)))), u8(200));
        QCOMPARE(code(send(md, module_block_req(101, 32768, {1}))), u8(76));
    }

    void certificateRoundTrip()
    {
        const Bytes data = pattern(1000);
        // Without overwrite and absent: ready (64), and the transfer runs.
        Reply r = send(md, module_start_req("F002", 1000, 0));
        QCOMPARE(code(r), u8(64));
        QCOMPARE(Bytes(r.body.begin() + 13, r.body.begin() + 15), (Bytes{101, 0}));
        QCOMPARE(code(send(md, module_block_req(101, 0, Bytes(data.begin(), data.begin() + 600)))), u8(200));
        // A repeated offset is out of order and copies nothing.
        QCOMPARE(code(send(md, module_block_req(101, 0, Bytes(100, 0xEE)))), u8(75));
        // Ending early is refused; nothing is written.
        QCOMPARE(code(send(md, module_end_req(0xC6, 101, 1000))), u8(77));
        QVERIFY(!QFile::exists(sim->hostQ("/data/configs/cloud_cafile")));
        QCOMPARE(code(send(md, module_block_req(101, 600, Bytes(data.begin() + 600, data.end())))), u8(200));
        QCOMPARE(code(send(md, module_block_req(101, 1000, {1}))), u8(76));
        QCOMPARE(code(send(md, module_end_req(0xC6, 101, 1000))), u8(200));
        const QByteArray file = readHostFile(sim->hostQ("/data/configs/cloud_cafile"));
        QCOMPARE(file.size(), 1007);
        QCOMPARE(Bytes(file.begin(), file.begin() + 7), (Bytes{0xAA, 101, 0, 0xE8, 0x03, 0, 0}));
        QCOMPARE(Bytes(file.begin() + 7, file.end()), data);

        r = send(md, request(kBox, 0xC8, tag_bytes("F002")));
        QCOMPARE(r.data(), (Bytes{200, 0, 101, 0, 0xE8, 0x03, 0, 0}));
        r = send(md, request(kBox, 0xC9, cat({{101, 0}, le32(0)})));
        QCOMPARE(r.body[19] | (r.body[20] << 8), 768);
        QCOMPARE(Bytes(r.body.begin() + 21, r.body.end() - 1), Bytes(data.begin(), data.begin() + 768));
        QCOMPARE(code(send(md, request(kBox, 0xC9, cat({{101, 0}, le32(0)})))), u8(75));
        r = send(md, request(kBox, 0xC9, cat({{101, 0}, le32(768)})));
        QCOMPARE(r.body[19] | (r.body[20] << 8), 232);
        QCOMPARE(Bytes(r.body.begin() + 21, r.body.end() - 1), Bytes(data.begin() + 768, data.end()));
        QCOMPARE(code(send(md, module_end_req(0xCA, 101, 1000))), u8(200));
        QCOMPARE(code(send(md, module_end_req(0xCA, 101, 999))), u8(77));
    }

    void readsStopAtWhatIsStored()
    {
        // The head claims 5000 bytes; 10 are stored.
        Bytes f = {0xAA, 101, 0, 0x88, 0x13, 0, 0};
        const Bytes data = pattern(10);
        f.insert(f.end(), data.begin(), data.end());
        writeHostFile(sim->hostQ("/data/configs/cloud_cafile"),
                      QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size())));
        Reply r = send(md, request(kBox, 0xC8, tag_bytes("F002")));
        QCOMPARE(r.body[15], u8(10));
        r = send(md, request(kBox, 0xC9, cat({{101, 0}, le32(0)})));
        QCOMPARE(Bytes(r.body.begin() + 21, r.body.end() - 1), data);
        r = send(md, request(kBox, 0xC9, cat({{101, 0}, le32(10)})));
        QCOMPARE(r.body[19], u8(0));
        // Missing file and unknown id.
        QFile::remove(sim->hostQ("/data/configs/cloud_cafile"));
        QCOMPARE(send(md, request(kBox, 0xC8, tag_bytes("F002"))).data(), (Bytes{78, 1, 101, 0, 0, 0, 0, 0}));
        QCOMPARE(send(md, request(kBox, 0xC8, tag_bytes("F009"))).data(), (Bytes{78, 1, 0, 0, 0, 0, 0, 0}));
        // The read state without a file answers its id 0 as done.
        QCOMPARE(code(send(md, request(kBox, 0xC9, cat({{0, 0}, le32(0)})))), u8(200));
        QCOMPARE(code(send(md, module_end_req(0xCA, 0, 0))), u8(200));
    }

    void writeFailureIsReported()
    {
        const QString path = sim->hostQ("/data/configs/cloud_cafile");
        QDir().mkpath(path);
        QCOMPARE(code(send(md, module_start_req("F002", 2, 1))), u8(200));
        send(md, module_block_req(101, 0, {1, 2}));
        Reply r = send(md, module_end_req(0xC6, 101, 2));
        QDir(path).removeRecursively();
        QCOMPARE(r.status(), u8(1));
        QCOMPARE(code(r), u8(78));
    }

    // On a full partition the write fails and the stored file stays as it
    // was, or absent.
    void failedWriteKeepsTheStoredFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("before");
        const QByteArray cert = QByteArray::fromHex("aa6500e8030000") + QByteArray(1000, 'c');
        QTest::newRow("certificate") << "/data/configs/cloud_cafile" << cert;
        QTest::newRow("no certificate") << "/data/configs/cloud_cafile" << QByteArray();
        QTest::newRow("interfaces") << "/etc/network/interfaces" << QByteArray("auto lo\n");
        QTest::newRow("no interfaces") << "/etc/network/interfaces" << QByteArray();
    }
    void failedWriteKeepsTheStoredFile()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, before);
        const QString file = sim->hostQ(path.toStdString());
        const std::string folder = file.section('/', 0, -2).toStdString();
        if (!own_partition(folder, 1 << 20))
            QSKIP("no private mount can be had here");
        const bool full = (before.isNull() || writeHostFile(file, before)) && fill_up(folder + "/filler");
        if (path.endsWith("interfaces"))
            QCOMPARE(send(md, request(kBox, 0xA4, {0, 0, 0, 0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC})).status(), u8(1));
        else
            send_file("F002", 101, pattern(20000), 78);
        const bool kept = QFileInfo::exists(file) == !before.isNull() && readHostFile(file) == before;
        QStringList left = QDir(file.section('/', 0, -2)).entryList(QDir::Files | QDir::Hidden);
        drop_partition(folder);
        QVERIFY(full);
        QVERIFY(kept);
        left.removeOne("filler");
        QCOMPARE(left, before.isNull() ? QStringList() : QStringList{file.section('/', -1)});
    }

    void settingsFileReconnectsTheLinks()
    {
        g_reconfig_4g = 0;
        g_rconfig_device_nubocloud = 0;
        g_4G_RAM[56] = 3;
        const std::string json = R"({"deviceid":"dev-7","serverip":"10.0.0.5","serverport":6001})";
        send_file("F004", 102, Bytes(json.begin(), json.end()));
        QCOMPARE(int(g_reconfig_4g), 1);
        QCOMPARE(int(g_rconfig_device_nubocloud), 1);
        QCOMPARE(g_4G_RAM[56], u8(0));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(g_4G_property), 6), QByteArray("dev-7\0", 6));
        QCOMPARE(Bytes(g_4G_property + 37, g_4G_property + 43), (Bytes{10, 0, 0, 5, 0x71, 0x17}));

        // Read back as it was sent; the size is the head's, which counts its
        // own two length bytes, and they follow the data as zeros.
        Reply r = send(md, request(kBox, 0xC8, tag_bytes("F004")));
        QCOMPARE(int(r.body[15]), int(json.size()) + 2);
        r = send(md, request(kBox, 0xC9, cat({{102, 0}, le32(0)})));
        Bytes back(json.begin(), json.end());
        back.insert(back.end(), {0, 0});
        QCOMPARE(Bytes(r.body.begin() + 21, r.body.end() - 1), back);
        QCOMPARE(code(send(md, module_end_req(0xCA, 102, u32(json.size()) + 2))), u8(200));

        // A file with a bad address is not loaded.
        const std::string bad = R"({"deviceid":"x","serverip":"10.0.0.500","serverport":6001})";
        send_file("F004", 102, Bytes(bad.begin(), bad.end()));
        QCOMPARE(g_4G_property[0], u8('d'));
    }

    void cancels()
    {
        QCOMPARE(code(send(md, module_start_req("F002", 10, 1))), u8(200));
        QCOMPARE(code(send(md, request(kBox, 0xC7, {102, 0}))), u8(74));
        QCOMPARE(code(send(md, request(kBox, 0xC7, {101, 0}))), u8(200));
        QCOMPARE(send(md, module_block_req(101, 0, {1})).status(), u8(1));
        Utils::set_net_barcode("BC");
        QCOMPARE(code(send(md, request(kBox, 0xC8, tag_bytes("F001")))), u8(200));
        QCOMPARE(code(send(md, request(kBox, 0xCB, {101, 0}))), u8(74));
        QCOMPARE(code(send(md, request(kBox, 0xCB, {100, 0}))), u8(200));
        QCOMPARE(code(send(md, request(kBox, 0xC9, cat({{100, 0}, le32(0)})))), u8(74));
    }

    // A transfer belongs to the client that started it: while it is open
    // and heard from within 30 s, another client's start is refused, and its
    // blocks and end are not for it; after 30 s of silence its start is taken.
    void transfersOfTwoClients_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<Bytes>("asked");
        QTest::addColumn<Bytes>("reply"); // from the status on
        const Bytes wrongId = {1, 74, 1, 0, 0};
        QTest::newRow("read: start") << 0 << read_start_req("OSDS") << Bytes{1, 4, 2, 0, 0, 0, 0};
        QTest::newRow("read: block") << 0 << read_block_req(0, 2) << Bytes{1, 5};
        QTest::newRow("read: end") << 0 << read_end_req() << cat({{1, 6}, Bytes(16, 0)});
        QTest::newRow("read: write end") << 0 << end_req(digest_of({})) << Bytes{0, 3, 0};
        QTest::newRow("module send: start") << 1 << module_start_req("F004", 10, 1) << Bytes{1, 78, 1, 0, 0};
        QTest::newRow("module send: block") << 1 << module_block_req(101, 0, {3, 4}) << wrongId;
        QTest::newRow("module send: end") << 1 << module_end_req(0xC6, 101, 2) << wrongId;
        QTest::newRow("module read: start")
            << 2 << request(kBox, 0xC8, tag_bytes("F002")) << Bytes{1, 78, 1, 0, 0, 0, 0, 0, 0};
        QTest::newRow("module read: block")
            << 2 << request(kBox, 0xC9, cat({{100, 0}, le32(0)})) << cat({wrongId, Bytes(6, 0)});
        QTest::newRow("module read: end") << 2 << module_end_req(0xCA, 100, 0) << wrongId;
    }
    void transfersOfTwoClients()
    {
        QFETCH(int, kind);
        QFETCH(Bytes, asked);
        QFETCH(Bytes, reply);
        // Each kind's start, a step of it, its end.
        const Bytes steps[3][3] = {
            {read_start_req("ALIS"), read_block_req(0, 2), read_end_req()},
            {module_start_req("F002", 2, 1), module_block_req(101, 0, {1, 2}), module_end_req(0xC7, 101, 0)},
            {request(kBox, 0xC8, tag_bytes("F001")), request(kBox, 0xC9, cat({{100, 0}, le32(0)})),
             module_end_req(0xCB, 100, 0)},
        };
        const Bytes* own = steps[kind];
        message_deal other;
        Utils::set_net_barcode("BC");
        writeHostFile(sim->hostQ("/data/configs/alias.json"), "{}");
        const u32 t = G_timeTicks += 10000;
        QCOMPARE(send(md, own[0]).status(), u8(0));
        const Reply r = send(other, asked);
        QCOMPARE(Bytes(r.body.begin() + 10, r.body.end() - 1), reply);
        QCOMPARE(send(md, own[1]).status(), u8(0));
        G_timeTicks = t + 3000;
        QCOMPARE(send(other, own[0]).status(), u8(1));
        G_timeTicks = t + 3001;
        QCOMPARE(send(other, own[0]).status(), u8(0));
        QCOMPARE(send(md, own[1]).status(), u8(1));
        QCOMPARE(send(other, own[2]).status(), u8(0));
    }

    void moduleState()
    {
        std::memset(g_4G_RAM, 0, sizeof g_4G_RAM);
        QCOMPARE(send(md, request(kBox, 0x8F, {})).data(), (Bytes{2, 0}));
        QCOMPARE(send(md, request(kBox, 0x8F, {})).status(), u8(1));
        g_4G_RAM[0] = 0xAA;
        g_4G_RAM[56] = 3;
        QCOMPARE(send(md, request(kBox, 0x8F, {})).data(), (Bytes{1, 3}));
        Reply r = send(md, request(kBox, 0x8E, {1}));
        QCOMPARE(r.body.size(), size_t(71));
        QCOMPARE(r.body[12], u8(0xAA));
        QCOMPARE(send(md, request(kBox, 0x8E, {2})).body.size(), size_t(12));
    }
};

QTEST_MAIN(TestMessageModule)
#include "test_message_module.moc"
