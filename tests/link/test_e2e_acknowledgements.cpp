// The running program on the simulated board, its data partition a small
// file system of the test's own: what it answers for files and settings the
// PC sends, when two tools send at once, when a file is nested too deep for
// any reader, when a FIFO stands where a file is read and when the
// partition is full.
#include <QtTest>

#include <QSettings>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pc_frames.h"
#include "support/fs_helpers.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
constexpr size_t kPartition = 16 << 20;

Bytes set_ip(const Bytes& ip, const Bytes& mask, u16 port)
{
    return request(kBox, 0xA4, cat({{1, 0, 0, 0}, ip, mask, {10, 0, 0, 1}, {u8(port), u8(port >> 8)}}));
}

Bytes bytes_of(const QByteArray& a)
{
    return Bytes(a.begin(), a.end());
}
} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestE2eAcknowledgements : public QObject
{
    Q_OBJECT
    QTemporaryDir root;
    std::string data;
    bool ownPartition = false;
    pid_t program = -1;
    int pc = -1;

    QString host(const std::string& boardPath) const { return root.path() + QString::fromStdString(boardPath); }
    bool alive() const { return waitpid(program, nullptr, WNOHANG) == 0; }
    // Sends a whole file in blocks of at most 30000 bytes; the end's reply.
    Bytes send_file(int fd, const Bytes& start, const Bytes& file)
    {
        const Bytes s = ask(fd, start);
        if (s.empty() || s[0] != 0)
            return s;
        for (size_t at = 0; at < file.size(); at += 30000) {
            const Bytes part(file.begin() + long(at), file.begin() + long(std::min(file.size(), at + 30000)));
            if (ask(fd, block_req(u32(at), part, u32(part.size()))) != Bytes{0, 2})
                return {};
        }
        return ask(fd, end_req(digest_of(file)));
    }
    // Waits for a file to go, up to 10 s: the pages run only once the
    // program's start-up is over.
    bool gone(const std::string& boardPath)
    {
        for (int i = 0; i < 200 && QFileInfo::exists(host(boardPath)); ++i)
            QTest::qWait(50);
        return !QFileInfo::exists(host(boardPath));
    }

  private slots:
    void initTestCase()
    {
        QByteArray path = qgetenv("ZEV_PROGRAM");
        if (path.isEmpty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        data = root.path().toStdString() + "/data";
        ownPartition = own_partition(data, kPartition);
        // What installs cut short by a power loss leave behind.
        QVERIFY(writeHostFile(host("/data/rcvrecovery/.KQFX.part"), "part"));
        QVERIFY(writeHostFile(host("/data/configs/.alias.json.part"), "part"));
        program = start_program(path.toStdString(), root.path().toStdString());
        QVERIFY(program > 0);
        pc = tcp_connect_within(5005, 15000);
        QVERIFY(pc >= 0);
    }
    void cleanupTestCase()
    {
        if (pc >= 0)
            close(pc);
        stop_program(program);
        if (ownPartition)
            drop_partition(data);
    }

    void leftoverTemporaryFilesAreRemovedAtStart()
    {
        QVERIFY(!QFileInfo::exists(host("/data/rcvrecovery/.KQFX.part")));
        QVERIFY(!QFileInfo::exists(host("/data/configs/.alias.json.part")));
    }

    // The alias file is read by the pages right after its install, the OSD
    // menu by the video processor when the image's OSD flag and register 11
    // ask for it: a file nested too deep is deleted, the box goes on.
    void tooDeeplyNestedFilesStopNothing()
    {
        QCOMPARE(send_file(pc, start_req("ALIS", 0, 200000), Bytes(200000, '[')), (Bytes{0, 3, 0}));
        QVERIFY(gone("/data/configs/alias.json"));
        QCOMPARE(send_file(pc, start_req("OSDS", 0, 1000000), Bytes(1000000, '[')), (Bytes{0, 3, 0}));
        QCOMPARE(ask(pc, request(kBox, 0x60, ram_rest(2124, 2, {1, 0}))), Bytes{0});
        QCOMPARE(ask(pc, request(kBox, 0xA0, {11, 0x08, 0, 0x08})), Bytes{0});
        QVERIFY(gone("/data/configs/omenu.json"));
        QVERIFY(alive());
        QCOMPARE(ask(pc, request(kBox, 0xA1, {6, 0x5A, 0, 0})), (Bytes{0, 0x5A}));
    }

    // A second tool's start while the first one's transfer is open is
    // refused; the first one's end installs its own bytes.
    void twoToolsSendingFilesAtOnce()
    {
        int other = tcp_connect(5005);
        QVERIFY(other >= 0);
        const QByteArray json = R"({"namelist":{"source":[{"id":1,"valid":"on","name":"Tool A"}]}})";
        const Bytes alias = bytes_of(json);
        QCOMPARE(ask(pc, start_req("ALIS", 0, u32(alias.size()))), (Bytes{0, 1, 0}));
        QCOMPARE(ask(pc, block_req(0, alias, u32(alias.size()))), (Bytes{0, 2}));
        QCOMPARE(ask(other, defined_req(7, "pack", 9, 4)), (Bytes{1, 7, 2}));
        QCOMPARE(ask(other, block_req(0, {1, 2, 3, 4}, 4)), (Bytes{1, 2}));
        QCOMPARE(ask(pc, end_req(digest_of(alias))), (Bytes{0, 3, 0}));
        QCOMPARE(readHostFile(host("/data/configs/alias.json")), json);
        QVERIFY(!QFileInfo::exists(host("/data/rcvrecovery/pack")));
        QCOMPARE(send_file(other, defined_req(7, "pack", 9, 4), {1, 2, 3, 4}), (Bytes{0, 3, 0}));
        close(other);
    }

    // A second tool's read start while the first one's read is open is
    // refused; each tool gets its own file and its digest.
    void twoToolsReadingFilesAtOnce()
    {
        int other = tcp_connect(5005);
        QVERIFY(other >= 0);
        const QByteArray alias = R"({"namelist":{"source":[{"id":1,"valid":"on","name":"Read A"}]}})";
        const QByteArray menu = R"({"menu":"Read B"})";
        QVERIFY(writeHostFile(host("/data/configs/alias.json"), alias));
        QVERIFY(writeHostFile(host("/data/configs/omenu.json"), menu));
        // The file in one block, then the end's digest.
        auto read = [](int fd, size_t size) {
            const Bytes b = ask(fd, read_block_req(0, u32(size))), e = ask(fd, read_end_req());
            return cat({Bytes(b.begin() + std::min<long>(2, long(b.size())), b.end()),
                        Bytes(e.begin() + std::min<long>(2, long(e.size())), e.end())});
        };
        QCOMPARE(ask(pc, read_start_req("ALIS")), cat({{0, 4, 1}, le32(u32(alias.size()))}));
        QCOMPARE(ask(other, read_start_req("OSDS")), (Bytes{1, 4, 2, 0, 0, 0, 0}));
        QCOMPARE(read(pc, alias.size()), cat({bytes_of(alias), digest_of(bytes_of(alias))}));
        QCOMPARE(ask(other, read_start_req("OSDS")), cat({{0, 4, 1}, le32(u32(menu.size()))}));
        QCOMPARE(read(other, menu.size()), cat({bytes_of(menu), digest_of(bytes_of(menu))}));
        close(other);
    }

    void networkSettingsNoInterfaceCanUseAreRefused()
    {
        const QByteArray settings = readHostFile(host("/data/configs/tcpip.ini"));
        const Bytes ip = {192, 168, 0, 50}, m24 = {255, 255, 255, 0};
        const Bytes refused[] = {
            set_ip({0, 0, 0, 0}, m24, 5005),
            set_ip({255, 255, 255, 255}, m24, 5005),
            set_ip({239, 1, 2, 3}, m24, 5005),
            set_ip({127, 0, 0, 1}, m24, 5005),
            set_ip({192, 168, 0, 0}, m24, 5005),
            set_ip({192, 168, 0, 255}, m24, 5005),
            set_ip(ip, {0, 0, 0, 0}, 5005),
            set_ip(ip, m24, 10002),
            request(kBox, 0xA4, {0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
            request(kBox, 0xA4, {0, 0, 0, 0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}),
            request(kBox, 0xA4, {0, 0, 0, 0, 0, 0, 0, 0, 0}),
        };
        for (const Bytes& r : refused)
            QCOMPARE(ask(pc, r).at(0), u8(1));
        QCOMPARE(readHostFile(host("/data/configs/tcpip.ini")), settings);
        QVERIFY(!QFileInfo::exists(host("/etc/network/interfaces")));
        // The second server keeps its port.
        int second = tcp_connect(10002);
        QCOMPARE(ask(second, request(kBox, 0xA1, {6, 0x33, 0, 0})), (Bytes{0, 0x33}));
        close(second);
    }

    // A barcode longer than any serial text is refused (5), not stored where
    // it would make the settings file too long to read back.
    void barcodeTheSettingsCannotKeepIsRefused()
    {
        const QByteArray longText = QString(20000, QChar(0xFF)).toUtf8();
        const Bytes text(longText.begin(), longText.end());
        const u16 L = u16(text.size() + 2);
        QCOMPARE(ask(pc, request(kBox, 0xA2, cat({{30, u8(L), u8(L >> 8)}, text}))), (Bytes{5, 30}));
        QCOMPARE(ask(pc, request(kBox, 0xA2, {30, 6, 0, 'S', 'N', '-', '1'})), (Bytes{0, 30}));
        QSettings stored(host("/data/configs/tcpip.ini"), QSettings::IniFormat);
        QCOMPARE(stored.value("config/Barcode").toString(), QString("SN-1"));
        QCOMPARE(stored.status(), QSettings::NoError);
    }

    // A FIFO where the PC reads a file, or where a module send or a stored
    // setting looks for one, is no file and is never waited on: the start
    // answers as for a missing file, another client is answered meanwhile.
    void fifoWhereAFileIsLookedFor_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Bytes>("start");
        QTest::addColumn<Bytes>("answer");
        QTest::newRow("mode menu") << "/data/modes/MO01.json" << read_start_req("MO01") << Bytes{0, 4, 0, 0, 0, 0, 0};
        QTest::newRow("scan file") << "/data/smartmapping/KQFR" << defined_req(8, "KQFR", 13, 0)
                                   << Bytes{0, 8, 0, 0, 0, 0, 0};
        QTest::newRow("certificate") << "/data/configs/cloud_cafile" << module_start_req("F002", 100, 0)
                                     << Bytes{1, 64, 1, 101, 0};
        QTest::newRow("settings lock") << "/data/configs/tcpip.ini.lock"
                                       << request(kBox, 0xA2, {30, 5, 0, 'F', 'I', 'F'}) << Bytes{0, 30};
    }
    void fifoWhereAFileIsLookedFor()
    {
        QFETCH(QString, path);
        QFETCH(Bytes, start);
        QFETCH(Bytes, answer);
        QVERIFY(QDir().mkpath(QFileInfo(host(path.toStdString())).path()));
        QCOMPARE(mkfifo(QFile::encodeName(host(path.toStdString())).constData(), 0644), 0);
        int other = tcp_connect(5005);
        QVERIFY(other >= 0);
        put(pc, wire(with_bcc(start)));
        QCOMPARE(ask(other, request(kBox, 0xA1, {6, 0x5A, 0, 0})), (Bytes{0, 0x5A}));
        const std::vector<Bytes> r = replies(pc, 1, 1000);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(Bytes(r[0].begin() + 10, r[0].end() - 1), answer);
        close(other);
        QFile::remove(host(path.toStdString()));
    }

    // Last: it fills the partition.
    void fullPartitionSettingsAnswerFailure()
    {
        if (!ownPartition)
            QSKIP("no private mount can be had here");
        const QByteArray settings = readHostFile(host("/data/configs/tcpip.ini"));
        QVERIFY(fill_up(data + "/filler"));
        const Bytes newIp = set_ip({192, 168, 0, 60}, {255, 255, 255, 0}, 5005);
        QCOMPARE(ask(pc, newIp), Bytes{1});
        QCOMPARE(ask(pc, request(kBox, 0xA2, {30, 5, 0, 'N', 'E', 'W'})), (Bytes{2, 30}));
        QCOMPARE(ask(pc, request(kBox, 0xA2, {32, 36, 0, 0xAA, 0x55, 1, 0x03, 0})), (Bytes{2, 32}));
        // Cloud settings under an all-zero key: server 1.2.3.4:80, no user, no name.
        const Bytes cloud = cat({{11}, Bytes(49, 0), {0, 0, 7, '1', '.', '2', '.', '3', '.', '4', 80, 0, 0, 0}});
        QCOMPARE(ask(pc, request(kBox, 0xC3, cloud)).at(0), u8(1));
        // Nor for the blank barcode of a module send start with the overwrite
        // flag: "not available", not "done".
        QCOMPARE(ask(pc, module_start_req("F001", 10, 1)), (Bytes{1, 78, 1, 100, 0}));
        // No room for a record file either.
        QCOMPARE(ask(pc, defined_req(7, "pack2", 9, 10)), (Bytes{1, 7, 2}));
        QCOMPARE(readHostFile(host("/data/configs/tcpip.ini")), settings);
        // The program kept the address it has stored.
        const Bytes search = ask(pc, request(kBox, 0xA4, {3}));
        QCOMPARE(Bytes(search.begin() + 11, search.begin() + 15), (Bytes{192, 168, 0, 199}));
        QVERIFY(alive());
        // With room again, the same request is stored.
        QVERIFY(QFile::remove(host("/data/filler")));
        QCOMPARE(ask(pc, newIp), Bytes{0});
        QVERIFY(readHostFile(host("/data/configs/tcpip.ini")).contains("IPAddress=192.168.0.60"));
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eAcknowledgements)

#include "test_e2e_acknowledgements.moc"
