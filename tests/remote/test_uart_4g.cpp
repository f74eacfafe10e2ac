// The 4G modem's serial link on a pseudo-terminal standing in for port 1:
// frames answered on the same line, group 0xC4, the reconnect push, and
// card answers of its pass-through frames coming back on this link.
#include <QtTest>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "../link/pc_frames.h"
#include "core/zevrampara.h"
#include "ledout/passby.h"
#include "remote/networkclient_manage.h"
#include "remote/remote_links.h"
#include "remote/uart_inout_4G.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
pthread_mutex_t card_lock = PTHREAD_MUTEX_INITIALIZER;
Bytes next_answer;
u8 marker_seen = 0;
int fake_forward(unsigned int, unsigned char*)
{
    marker_seen = g_passby_trans_port.load();
    return 1;
}
void fake_service()
{
    if (!next_answer.empty()) {
        passby::queue_answer(next_answer.data(), int(next_answer.size()));
        next_answer.clear();
    }
}
} // namespace

class TestUart4g : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    Kq_uart_inout_4G* link = nullptr;
    int master = -1, slave = -1;

    // Runs passes until a reply body arrives on the modem's side.
    std::vector<Bytes> exchange(const Bytes& wireBytes)
    {
        put(master, wireBytes);
        ReplyReader rd;
        for (int i = 0; i < 50 && rd.bodies.empty(); ++i) {
            link->receive_pass(10);
            rd.drain(master);
        }
        return rd.bodies;
    }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
        static remote_links remote;
        message_remote::install(&remote);
        QVERIFY(pty_at(sim->host("/dev/ttyS1"), master, slave));
        link = new Kq_uart_inout_4G();
        QVERIFY(link->open_port(Kq_uart_inout_4G::kPort, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0);
    }
    void cleanupTestCase()
    {
        delete link;
        close(master);
        close(slave);
        delete sim;
    }

    void framesAreAnsweredOnThisLine()
    {
        pc_cmd_valid = 0;
        auto r = exchange(tagged(0x42));
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x42));
        QCOMPARE(int(pc_cmd_valid), 1);

        const std::string json = R"({"name":"heartbeat"})";
        r = exchange(wire(with_bcc(request(kBox, 0xC4, Bytes(json.begin(), json.end())))));
        QCOMPARE(r.size(), size_t(1));
        QVERIFY(QByteArray(reinterpret_cast<const char*>(r[0].data()) + 11, int(r[0].size()) - 12)
                    .contains("\"name\":\"heartbeat\""));
    }

    void reconnectRequestSendsTheProperty()
    {
        std::memcpy(g_4G_property, "m-1\0", 4);
        g_reconfig_4g = 1;
        ReplyReader rd;
        for (int i = 0; i < 20 && rd.bodies.empty(); ++i) {
            link->receive_pass(10);
            rd.drain(master);
        }
        QCOMPARE(int(g_reconfig_4g), 0);
        QCOMPARE(rd.bodies.size(), size_t(1));
        const Bytes& b = rd.bodies[0];
        QCOMPARE(b[9], u8(0xC4));
        QCOMPARE(b.back(), Utils::BCC(b.data(), unsigned(b.size() - 1)));
        QVERIFY(QByteArray(reinterpret_cast<const char*>(b.data()) + 10, int(b.size()) - 11)
                    .contains("\"cloudid\":\"m-1\""));
    }

    void cardAnswersComeBackHere()
    {
        passby::install({&card_lock, fake_forward, fake_service});
        const Bytes answer = with_bcc(request(kPc, 0x55, {1, 2, 3}, 0, 0, 0x0001));
        next_answer = answer;
        auto r = exchange(wire(with_bcc(request(0x0001, 0x55, {9}))));
        passby::install({});
        QCOMPARE(int(marker_seen), int(PASSBY_4G));
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0], answer);
        QCOMPARE(int(g_passby_trans_port), int(PASSBY_NONE));
    }

    // Last: it takes the 4G marker from the link above.
    void newCloudSettingsWakeTheSleepingLine()
    {
        int m = -1, s = -1;
        QVERIFY(pty_at(sim->host("/dev/ttyS3"), m, s));
        auto* line = new Kq_uart_inout_4G();
        Kq_uart_inout_4G::p_uart_inout_4G = line;
        QCOMPARE(line->usart_init(3, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
        auto answer = [m] {
            ReplyReader rd;
            for (int i = 0; i < 300 && rd.bodies.empty(); ++i) {
                pollfd p{m, POLLIN, 0};
                poll(&p, 1, 10);
                rd.drain(m);
            }
            return rd.bodies.size() == 1 ? rd.bodies[0] : Bytes();
        };
        // Answered: the line's thread runs, and has gone back to sleep.
        put(m, tagged(0x43));
        const Bytes first = answer();
        remote_links().settings_installed();
        const Bytes pushed = answer();
        Kq_uart_inout_4G::p_uart_inout_4G = nullptr;
        delete line;
        close(m);
        close(s);
        QCOMPARE(tag_of(first), u8(0x43));
        QVERIFY(pushed.size() > 9);
        QCOMPARE(pushed[9], u8(0xC4));
    }
};

QTEST_MAIN(TestUart4g)
#include "test_uart_4g.moc"
