// The cloud client against a test server on the loopback: "KQOC" frames with
// their CRC-16/ARC and header checks both ways, the login, commands and
// their answers, no connection where nothing is configured, TLS verified
// against the certificate file, and the identity from the stored barcode.
#include <QtTest>

#include <future>
#include <thread>

#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMutexLocker>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "remote/memory_json_parser.h"
#include "remote/message_deal_4g.h"
#include "remote/message_deal_cloud_4g.h"
#include "remote/networkclient_manage.h"
#include "support/lock_wait.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

using Bytes = std::vector<u8>;

namespace
{
// A listening socket on an ephemeral loopback port.
int listen_any(int* port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    *port = ntohs(a.sin_port);
    return s;
}

int accept_within(int s, int ms)
{
    pollfd p{s, POLLIN, 0};
    return poll(&p, 1, ms) > 0 ? accept(s, nullptr, nullptr) : -1;
}

// Frames the server side reads, cut by the same rules.
std::vector<cloud_frame_cutter::frame> read_frames(int fd, cloud_frame_cutter& cut, int ms)
{
    std::vector<cloud_frame_cutter::frame> out;
    pollfd p{fd, POLLIN, 0};
    while (out.empty() && poll(&p, 1, ms) > 0) {
        u8 buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        cut.feed(buf, size_t(n), out);
    }
    return out;
}

void send_all(int fd, const Bytes& b)
{
    QCOMPARE(send(fd, b.data(), b.size(), 0), ssize_t(b.size()));
}

// A self-signed certificate for 127.0.0.1 and its key, made by the openssl
// tool in dir; empty when it cannot be made.
QPair<QByteArray, QByteArray> make_certificate(const QString& dir, const QString& name)
{
    const QString cert = dir + "/" + name + ".crt", key = dir + "/" + name + ".key";
    QProcess p;
    p.start("openssl",
            {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key,
             "-out", cert, "-days", "2", "-subj", "/CN=" + name, "-addext", "subjectAltName=IP:127.0.0.1"});
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return {};
    return {readHostFile(cert), readHostFile(key)};
}

// The certificate file as the module file commands write it.
QByteArray ca_file(const QByteArray& data)
{
    QByteArray f(7, 0);
    f[0] = char(0xAA);
    f[1] = 101;
    for (int i = 0; i < 4; ++i)
        f[3 + i] = char(u8(data.size() >> (8 * i)));
    return f + data;
}

// A TLS cloud server of one connection in its own thread: it reads the
// login, sends "getinfo" and reads the answer.
class TlsServer
{
  public:
    struct Accepting : QTcpServer {
        qintptr fd = -1;
        void incomingConnection(qintptr d) override { fd = d; }
    };
    int start(const QByteArray& cert, const QByteArray& key)
    {
        std::promise<int> port;
        auto ready = port.get_future();
        thread_ = std::thread([this, cert, key, &port] { run(cert, key, port); });
        return ready.get();
    }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    bool encrypted = false;
    std::vector<cloud_frame_cutter::frame> frames;

  private:
    void read_frame(QSslSocket& s, cloud_frame_cutter& cut)
    {
        const size_t had = frames.size();
        while (frames.size() == had && (s.bytesAvailable() > 0 || s.waitForReadyRead(3000))) {
            const QByteArray b = s.readAll();
            cut.feed(reinterpret_cast<const u8*>(b.constData()), size_t(b.size()), frames);
        }
    }
    void run(const QByteArray& cert, const QByteArray& key, std::promise<int>& port)
    {
        Accepting server;
        port.set_value(server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : -1);
        if (!server.waitForNewConnection(5000) || server.fd < 0)
            return;
        QSslSocket s;
        s.setSocketDescriptor(server.fd);
        s.setLocalCertificate(QSslCertificate(cert));
        s.setPrivateKey(QSslKey(key, QSsl::Ec));
        s.startServerEncryption();
        encrypted = s.waitForEncrypted(5000);
        if (!encrypted)
            return;
        cloud_frame_cutter cut;
        read_frame(s, cut);
        const Bytes ask = protocol_phy_cloud_4g::build(cloud::kCommand, "{\"name\":\"getinfo\"}");
        s.write(reinterpret_cast<const char*>(ask.data()), qint64(ask.size()));
        s.waitForBytesWritten(3000);
        read_frame(s, cut);
    }
    std::thread thread_;
};
} // namespace

class TestCloud : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
        for (int i = 0; i < 12; ++i)
            g_4G_property[25 + i] = u8(0xA0 + i);
    }
    void cleanupTestCase() { delete sim; }

    void frameLayout()
    {
        const Bytes f = protocol_phy_cloud_4g::build(cloud::kAnswer, "123456789");
        QCOMPARE(f.size(), size_t(27 + 9));
        QCOMPARE(Bytes(f.begin(), f.begin() + 5), (Bytes{'K', 'Q', 'O', 'C', 0xA0}));
        QCOMPARE(Bytes(f.begin() + 16, f.begin() + 27),
                 (Bytes{9, 0, 0, 0, 2, 0, 0x3D, 0xBB, 0, 0, Utils::BCC(f.data(), 26)}));
    }

    void cutterKeepsGoodFramesOnly()
    {
        Bytes stream = {'x', 'K', 'Q'};
        const Bytes a = protocol_phy_cloud_4g::build(1, "{\"name\":\"a\"}");
        Bytes badCrc = protocol_phy_cloud_4g::build(1, "{\"name\":\"b\"}");
        badCrc.back() ^= 1;
        Bytes badBcc = protocol_phy_cloud_4g::build(1, "{}");
        badBcc[26] ^= 1;
        const Bytes c = protocol_phy_cloud_4g::build(2, "{\"name\":\"c\"}");
        for (const Bytes* p : std::initializer_list<const Bytes*>{&a, &badCrc, &badBcc, &c})
            stream.insert(stream.end(), p->begin(), p->end());
        cloud_frame_cutter cut;
        std::vector<cloud_frame_cutter::frame> out;
        // Fed in pieces of 5 bytes.
        for (size_t i = 0; i < stream.size(); i += 5)
            cut.feed(stream.data() + i, std::min<size_t>(5, stream.size() - i), out);
        QCOMPARE(out.size(), size_t(2));
        QCOMPARE(out[0].body, std::string("{\"name\":\"a\"}"));
        QCOMPARE(out[1].code, u16(2));
        QCOMPARE(out[1].body, std::string("{\"name\":\"c\"}"));
    }

    void talksToTheConfiguredServer()
    {
        int port = 0;
        int ls = listen_any(&port);
        QVERIFY(ls >= 0);
        networkclient_Manage client;

        // Nothing configured: no connection is tried.
        g_Nubo_cloud = 0;
        g_Nubo_cloudserverip = "127.0.0.1";
        g_Nubo_cloudserverport = port;
        // Its thread would sleep until the settings change.
        QCOMPARE(client.client_pass(), -1);
        QCOMPARE(accept_within(ls, 100), -1);

        g_Nubo_cloud = 1;
        g_Nubo_clouduserid = "u-9";
        client.client_pass();
        QCOMPARE(int(client.connected), 1);
        int peer = accept_within(ls, 2000);
        QVERIFY(peer >= 0);
        cloud_frame_cutter cut;
        auto got = read_frames(peer, cut, 2000);
        QCOMPARE(got.size(), size_t(1));
        QCOMPARE(got[0].code, cloud::kCommand);
        boost::property_tree::ptree t;
        QVERIFY(memory_json_parser::parse(got[0].body.data(), got[0].body.size(), t));
        QCOMPARE(QString::fromStdString(t.get<std::string>("name")), QString("login"));
        QCOMPARE(QString::fromStdString(t.get<std::string>("userid")), QString("u-9"));

        // A command with a broken CRC is ignored; the next one is answered.
        Bytes bad = protocol_phy_cloud_4g::build(cloud::kCommand, "{\"name\":\"reboot\"}");
        bad.back() ^= 0x20;
        send_all(peer, bad);
        send_all(peer, protocol_phy_cloud_4g::build(cloud::kCommand, "{\"name\":\"getinfo\"}"));
        g_app_reset_flag = 0;
        client.client_pass();
        got = read_frames(peer, cut, 2000);
        QCOMPARE(got.size(), size_t(1));
        QCOMPARE(got[0].code, cloud::kAnswer);
        QVERIFY(memory_json_parser::parse(got[0].body.data(), got[0].body.size(), t));
        QCOMPARE(QString::fromStdString(t.get<std::string>("name")), QString("getinfo"));
        QCOMPARE(t.get<int>("result"), 0);
        QCOMPARE(int(g_app_reset_flag), 0);
        QCOMPARE(cut.dropped(), 0u);

        // A reconnect request drops the connection and logs in again.
        {
            QMutexLocker lock(&Utils::_reconfig_device_nubocloud_mutex);
            g_rconfig_device_nubocloud = 1;
        }
        client.client_pass();
        QCOMPARE(int(g_rconfig_device_nubocloud), 0);
        int again = accept_within(ls, 2000);
        QVERIFY(again >= 0);
        cloud_frame_cutter cut2;
        got = read_frames(again, cut2, 2000);
        QCOMPARE(got.size(), size_t(1));

        // The server going away is noticed.
        close(again);
        close(peer);
        client.client_pass();
        QCOMPARE(int(client.connected), 0);
        close(ls);
        g_Nubo_cloud = 0;
    }

    void answersCarryNumbersAndOneMeaningPerKey_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("answer");
        QTest::newRow("property") << "{\"name\":\"getproperty\"}"
                                  << "{\"name\":\"getproperty\",\"result\":0,\"cloudid\":\"c-1\","
                                     "\"identity\":\"a0a1a2a3a4a5a6a7a8a9aaab\",\"serverip\":\"10.1.2.3\","
                                     "\"serverport\":9000}";
        QTest::newRow("info") << "{\"name\":\"getinfo\"}"
                              << "{\"name\":\"getinfo\",\"result\":0,\"deviceid\":"
                                 "\"0123456789abcdef0123456789abcdef\",\"barcode\":\"S\\\"N\",\"ip\":"
                                 "\"192.168.0.9\",\"mac\":\"00:11:22:33:44:55\"}";
        QTest::newRow("unknown") << "{\"name\":\"x\\ny\"}"
                                 << "{\"name\":\"x\\u000ay\",\"result\":1}";
    }
    void answersCarryNumbersAndOneMeaningPerKey()
    {
        QFETCH(QString, request);
        QFETCH(QString, answer);
        std::memcpy(g_4G_property, "c-1\0", 4);
        const u8 server[6] = {10, 1, 2, 3, 0x28, 0x23};
        std::memcpy(g_4G_property + 37, server, 6);
        std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", 33);
        Utils::set_net_identity({"192.168.0.9", "255.255.255.0", "192.168.0.1", "00:11:22:33:44:55", "S\"N"});
        const QByteArray in = request.toUtf8();
        std::string out;
        QCOMPARE(message_deal_cloud_4g::deal(in.constData(), size_t(in.size()), out), message_deal_cloud_4g::ANSWER);
        QCOMPARE(QString::fromStdString(out), answer);
    }

    void identityComesFromTheStoredBarcodeAtEveryStart()
    {
        const QString kept = sim->hostQ(message_deal_4g::kBarcodeFile);
        QFile::remove(sim->hostQ(message_deal_4g::kSetInfoFile));
        QFile::remove(kept);
        const Bytes id = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xA7, 0xB8, 0xC9, 0xD0, 0xE1, 0xF2};
        // First start: no cloud settings, the barcode setting gives the
        // identity, which the barcode file then keeps.
        std::memset(g_4G_property, 0, sizeof g_4G_property);
        Utils::set_net_barcode("A1B2C3D4E5F6A7B8C9D0E1F2");
        QVERIFY(message_deal_4g::get_4G_property() != 0);
        QCOMPARE(Bytes(g_4G_property + 25, g_4G_property + 37), id);
        QCOMPARE(readHostFile(kept), QByteArray("\xAA\x1A\x00", 3) + QByteArray("A1B2C3D4E5F6A7B8C9D0E1F2"));
        // Next start: the kept barcode, whatever the setting now holds; the
        // frame headers carry it.
        std::memset(g_4G_property, 0, sizeof g_4G_property);
        Utils::set_net_barcode(" ");
        message_deal_4g::get_4G_property();
        const Bytes f = protocol_phy_cloud_4g::build(cloud::kCommand, "{}");
        QCOMPARE(Bytes(f.begin() + 4, f.begin() + 16), id);
        // New cloud settings drop the file: the setting gives it again.
        QFile::remove(kept);
        Utils::set_net_barcode("0102");
        message_deal_4g::get_4G_property();
        QCOMPARE(Bytes(g_4G_property + 25, g_4G_property + 28), (Bytes{1, 2, 0xC3}));
        QFile::remove(kept);
    }

    // The cloud link reads the property block while a PC link replaces the
    // identity in it: both wait for its mutex, and the block is not changed
    // before the writer has it.
    void propertyBlockWaitsForItsMutex()
    {
        std::string login;
        QVERIFY(waits_for(
            held(Utils::_cloud_property_mutex), [&] { login = message_deal_cloud_4g::login(); }, [] {}));
        QVERIFY(login.find("\"name\":\"login\"") != std::string::npos);
        g_4G_property[25] = 0x77;
        u8 during = 0;
        QVERIFY(waits_for(
            held(Utils::_cloud_property_mutex), [] { message_deal_4g::set_identity("0102"); },
            [&] { during = g_4G_property[25]; }));
        QCOMPARE(during, u8(0x77));
        QCOMPARE(g_4G_property[25], u8(0x01));
    }

    void tlsWithTheCertificateFileOnly()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS library");
        QTemporaryDir dir;
        const auto server = make_certificate(dir.path(), "cloud");
        const auto other = make_certificate(dir.path(), "other");
        QVERIFY2(!server.first.isEmpty() && !other.first.isEmpty(), "openssl could not make the certificates");
        const QString caPath = sim->hostQ(cloud_tls_socket::kCaFile);
        g_Nubo_cloud = 1;
        g_Nubo_cloudserverip = "127.0.0.1";
        struct Case {
            QByteArray file;
            bool connects;
        } cases[] = {{ca_file(server.first), true},
                     {ca_file(other.first), false},
                     // Stored with the overwrite flag, past the new-file limit.
                     {ca_file(server.first.leftJustified(40000, '\n')), true}};
        for (const Case& c : cases) {
            QVERIFY(writeHostFile(caPath, c.file));
            TlsServer tls;
            g_Nubo_cloudserverport = tls.start(server.first, server.second);
            QVERIFY(g_Nubo_cloudserverport > 0);
            networkclient_Manage client;
            client.client_pass();
            QCOMPARE(int(client.connected), int(c.connects));
            if (c.connects)
                client.client_pass();
            tls.join();
            QCOMPARE(tls.encrypted, c.connects);
            if (!c.connects)
                continue;
            QCOMPARE(tls.frames.size(), size_t(2));
            QVERIFY(tls.frames[0].body.find("\"name\":\"login\"") != std::string::npos);
            QVERIFY(tls.frames[1].body.find("\"name\":\"getinfo\",\"result\":0") != std::string::npos);
        }
        // A file without a certificate, or one that cannot be read: nothing
        // goes out in the clear.
        for (bool folder : {false, true}) {
            QVERIFY(folder ? QFile::remove(caPath) && QDir().mkpath(caPath)
                           : writeHostFile(caPath, ca_file("not a certificate")));
            int port = 0;
            int ls = listen_any(&port);
            g_Nubo_cloudserverport = port;
            networkclient_Manage client;
            client.client_pass();
            QCOMPARE(int(client.connected), 0);
            QCOMPARE(accept_within(ls, 100), -1);
            close(ls);
        }
        QDir(caPath).removeRecursively();
        g_Nubo_cloud = 0;
    }
};

int main(int argc, char** argv)
{
    // Before any thread exists: the namespace belongs to the calling thread.
    own_network();
    QCoreApplication app(argc, argv);
    TestCloud t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_cloud.moc"
