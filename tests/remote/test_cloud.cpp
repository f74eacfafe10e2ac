// The cloud client against a test server on the loopback: "KQOC" frames with
// their CRC-16/ARC and header checks both ways, the login, commands and
// their answers, and no connection where nothing is configured.
#include <QtTest>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMutexLocker>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "remote/memory_json_parser.h"
#include "remote/networkclient_manage.h"
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
        client.client_pass();
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
};

QTEST_MAIN(TestCloud)
#include "test_cloud.moc"
