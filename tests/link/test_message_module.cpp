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

    // On a full partition the end answers 78 and the stored file stays as
    // it was, or absent.
    void failedWriteKeepsTheStoredFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("tid");
        QTest::addColumn<QByteArray>("before");
        const QByteArray cert = QByteArray::fromHex("aa6500e8030000") + QByteArray(1000, 'c');
        QTest::newRow("certificate") << "F002" << 101 << cert;
        QTest::newRow("no certificate") << "F002" << 101 << QByteArray();
        QTest::newRow("settings") << "F004" << 102 << QByteArray::fromHex("aa0400") + "{}";
        QTest::newRow("no settings") << "F004" << 102 << QByteArray();
    }
    void failedWriteKeepsTheStoredFile()
    {
        QFETCH(QString, name);
        QFETCH(int, tid);
        QFETCH(QByteArray, before);
        const std::string folder = sim->host("/data/configs");
        const QString file = sim->hostQ(name == "F002" ? "/data/configs/cloud_cafile" : "/data/configs/cloud_setinfo");
        if (!own_partition(folder, 1 << 20))
            QSKIP("no private mount can be had here");
        if (!before.isNull())
            QVERIFY(writeHostFile(file, before));
        const bool full = fill_up(folder + "/filler");
        if (full)
            send_file(name.toLatin1().constData(), u16(tid), pattern(name == "F002" ? 20000 : 4000), 78);
        const bool kept = QFileInfo::exists(file) == !before.isNull() && readHostFile(file) == before;
        const QStringList left = QDir(QString::fromStdString(folder)).entryList(QDir::Files | QDir::Hidden);
        drop_partition(folder);
        QVERIFY(full);
        QVERIFY(kept);
        QCOMPARE(left, (before.isNull() ? QStringList{"filler"} : QStringList{file.section('/', -1), "filler"}));
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
        g_str_barcode = "BC";
        QCOMPARE(code(send(md, request(kBox, 0xC8, tag_bytes("F001")))), u8(200));
        QCOMPARE(code(send(md, request(kBox, 0xCB, {101, 0}))), u8(74));
        QCOMPARE(code(send(md, request(kBox, 0xCB, {100, 0}))), u8(200));
        QCOMPARE(code(send(md, request(kBox, 0xC9, cat({{100, 0}, le32(0)})))), u8(74));
    }

    // Two clients at once: a module send or read counts only for the client
    // that started it; the other's start is not available until its end or
    // 30 s of silence, and a file write of the other meanwhile keeps its
    // bytes apart.
    void transfersOfTwoClients()
    {
        message_deal other;
        const Bytes cert = pattern(600), alias = pattern(20);
        const Bytes wrongId = {1, 74, 1, 0, 0};
        g_str_barcode = "BC";
        G_timeTicks = 1000;
        QCOMPARE(code(send(md, module_start_req("F002", 600, 1))), u8(200));
        QCOMPARE(code(send(md, module_block_req(101, 0, Bytes(cert.begin(), cert.begin() + 300)))), u8(200));
        QCOMPARE(code(send(md, request(kBox, 0xC8, tag_bytes("F001")))), u8(200));
        QCOMPARE(send(other, start_req("ALIS", 0, 20)).data(), (Bytes{1, 0}));
        struct {
            Bytes request;
            Bytes reply; // from the status on
        } refused[] = {
            {module_block_req(101, 300, Bytes(300, 0xEE)), wrongId},
            {module_end_req(0xC6, 101, 600), wrongId},
            {module_end_req(0xC7, 101, 0), wrongId},
            {module_start_req("F004", 10, 1), {1, 78, 1, 0, 0}},
            {request(kBox, 0xC9, cat({{100, 0}, le32(0)})), cat({wrongId, Bytes(6, 0)})},
            {module_end_req(0xCA, 100, 0), wrongId},
            {module_end_req(0xCB, 100, 0), wrongId},
            {request(kBox, 0xC8, tag_bytes("F002")), {1, 78, 1, 0, 0, 0, 0, 0, 0}},
        };
        for (const auto& row : refused) {
            Reply r = send(other, row.request);
            QCOMPARE(Bytes(r.body.begin() + 10, r.body.end() - 1), row.reply);
        }
        send(other, block_req(0, alias, 20));
        QCOMPARE(code(send(md, module_block_req(101, 300, Bytes(cert.begin() + 300, cert.end())))), u8(200));
        QCOMPARE(code(send(md, module_end_req(0xC6, 101, 600))), u8(200));
        QCOMPARE(send(other, end_req(digest_of(alias))).data(), (Bytes{3, 0}));
        const QByteArray file = readHostFile(sim->hostQ("/data/configs/cloud_cafile"));
        QCOMPARE(Bytes(file.begin() + 7, file.end()), cert);
        const QByteArray names = readHostFile(sim->hostQ("/data/configs/alias.json"));
        QCOMPARE(Bytes(names.begin(), names.end()), alias);
        QCOMPARE(code(send(md, request(kBox, 0xC9, cat({{100, 0}, le32(0)})))), u8(200));

        // Transfers left open stop holding the others back after 30 s.
        QCOMPARE(code(send(md, module_start_req("F002", 2, 1))), u8(200));
        G_timeTicks = 4000;
        QCOMPARE(code(send(other, module_start_req("F002", 2, 1))), u8(78));
        QCOMPARE(code(send(other, request(kBox, 0xC8, tag_bytes("F001")))), u8(78));
        G_timeTicks = 4001;
        QCOMPARE(code(send(other, module_start_req("F002", 2, 1))), u8(200));
        QCOMPARE(code(send(md, module_block_req(101, 0, {1, 2}))), u8(74));
        QCOMPARE(code(send(other, module_block_req(101, 0, {3, 4}))), u8(200));
        QCOMPARE(code(send(other, module_end_req(0xC6, 101, 2))), u8(200));
        QCOMPARE(readHostFile(sim->hostQ("/data/configs/cloud_cafile")).mid(7), QByteArray("\x03\x04"));
        QCOMPARE(code(send(other, request(kBox, 0xC8, tag_bytes("F001")))), u8(200));
        QCOMPARE(code(send(md, request(kBox, 0xC9, cat({{100, 0}, le32(2)})))), u8(74));
        QCOMPARE(code(send(other, module_end_req(0xCB, 100, 0))), u8(200));
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
