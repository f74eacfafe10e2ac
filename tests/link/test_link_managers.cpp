// The link managers driven one pass at a time, as the PC tool talks to them:
// the serial link on a pseudo-terminal, the TCP servers on 5005 and 10002
// and the UDP servers on 5008, 10005 and 13769, with a card side standing in
// for the FPGA's pass-through.
#include <QtTest>

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "core/zevrampara.h"
#include "link/networkmanage.h"
#include "link/uart_inout.h"
#include "link/udpnetmanage.h"
#include "pc_frames.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
// Non-blocking, and told the address each datagram was sent to.
int udp_client()
{
    int fd = udp_socket(0, SOCK_NONBLOCK);
    int on = 1;
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    return fd;
}

void send_to(int fd, int port, const Bytes& b)
{
    sockaddr_in to = loopback(port);
    sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

Bytes unknown_group()
{
    return wire(with_bcc(request(kBox, 0x99, {1, 2, 3})));
}
Bytes card_frame(u8 tag)
{
    return wire(with_bcc(request(0x0001, 0x61, {tag, 0, 0, 0}, 1, 2)));
}
Bytes card_answer(u8 tag)
{
    return with_bcc(request(kPc, 0x61, {0, tag}, 1, 2, 0x0001));
}

// Datagram with the address it was sent to.
struct Datagram {
    Bytes body;
    in_addr to{};
};
std::vector<Datagram> take_datagrams(int fd)
{
    std::vector<Datagram> out;
    for (;;) {
        u8 buf[70000];
        char control[256];
        iovec iov{buf, sizeof buf};
        msghdr m{};
        m.msg_iov = &iov;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof control;
        ssize_t n = recvmsg(fd, &m, MSG_DONTWAIT);
        if (n <= 0)
            return out;
        Datagram d;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                d.to = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_addr;
        ReplyReader r;
        r.feed(buf, size_t(n));
        if (!r.bodies.empty())
            d.body = r.bodies.front();
        out.push_back(d);
    }
}

// The card side: records forwarded frames and answers on the next service
// turn when an answer is set.
pthread_mutex_t card_lock = PTHREAD_MUTEX_INITIALIZER;
std::vector<Bytes> forwarded;
Bytes next_answer;
int services = 0;
int fake_forward(unsigned int length, unsigned char* frame)
{
    forwarded.emplace_back(frame, frame + length);
    return 1;
}
void fake_service()
{
    ++services;
    if (!next_answer.empty()) {
        passby::queue_answer(next_answer.data(), int(next_answer.size()));
        next_answer.clear();
    }
}
void install_cards()
{
    passby::install({&card_lock, fake_forward, fake_service});
}
void remove_cards()
{
    passby::install({});
}

// Wi-Fi side standing in for the access point manager.
bool wifi_running = false;
int wifi_result = 0;
std::vector<Bytes> wifi_seen;
bool fake_running()
{
    return wifi_running;
}
int fake_handle(u8* data, int length, const sockaddr_in& from)
{
    wifi_seen.emplace_back(data, data + length);
    if (wifi_result == 0) {
        const u8 ok[] = {'O', 'K'};
        udpnetManage::p_udpnetManage->queue_13769_answer(ok, 2, from);
    }
    return wifi_result;
}
} // namespace

class TestLinkManagers : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    Kq_uart_inout* uart = nullptr;
    networkManage* tcp = nullptr;
    udpnetManage* udp = nullptr;
    int master = -1, slave = -1;

    template <typename Pass, typename Cond> bool pump(Pass pass, Cond cond, int passes = 200)
    {
        for (int i = 0; i < passes && !cond(); ++i)
            pass();
        return cond();
    }
    // Silence is judged after this many passes.
    static constexpr int kQuietPasses = 30;
    std::vector<Bytes> serial_replies(size_t count, int passes = 200)
    {
        ReplyReader r;
        pump(
            [&] {
                uart->receive_pass(5);
                r.drain(master);
            },
            [&] { return r.bodies.size() >= count; }, passes);
        // Anything more would show up within a few further passes.
        for (int i = 0; i < 3; ++i) {
            uart->receive_pass(2);
            r.drain(master);
        }
        return r.bodies;
    }
    std::vector<Bytes> tcp_replies(networkManage::port_link& p, int fd, size_t count, int passes = 200)
    {
        ReplyReader r;
        pump(
            [&] {
                tcp->port_pass(p, 5);
                r.drain(fd);
            },
            [&] { return r.bodies.size() >= count; }, passes);
        for (int i = 0; i < 3; ++i) {
            tcp->port_pass(p, 2);
            r.drain(fd);
        }
        return r.bodies;
    }
    std::vector<Datagram> udp_replies(udpnetManage::port_link& p, int fd, size_t count, int passes = 200)
    {
        std::vector<Datagram> got;
        pump(
            [&] {
                udp->port_pass(p, 5);
                for (Datagram& d : take_datagrams(fd))
                    got.push_back(d);
            },
            [&] { return got.size() >= count; }, passes);
        for (int i = 0; i < 3; ++i) {
            udp->port_pass(p, 2);
            for (Datagram& d : take_datagrams(fd))
                got.push_back(d);
        }
        return got;
    }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
        QVERIFY(pty_at(sim->host("/dev/ttyS2"), master, slave));
        uart = new Kq_uart_inout();
        QVERIFY(uart->open_port(2, g_BPS, O_RDWR | O_NOCTTY | O_NONBLOCK) > 0);
        tcp = new networkManage();
        QCOMPARE(tcp->open(), 0);
        udp = new udpnetManage();
        udpnetManage::p_udpnetManage = udp;
        QCOMPARE(udp->open(), 0);
    }
    void cleanupTestCase()
    {
        remove_cards();
        udpnetManage::p_udpnetManage = nullptr;
        delete udp;
        delete tcp;
        delete uart;
        close(master);
        close(slave);
        delete sim;
    }
    void init()
    {
        remove_cards();
        forwarded.clear();
        next_answer.clear();
        services = 0;
        g_passby_trans_port = PASSBY_NONE;
        G_timeTicks = 1000;
    }

    // Serial link.
    void serialAnswersEveryFrameOfOneRead()
    {
        put(master, cat({Bytes{0x00, 0x13}, tagged(1), Bytes{0x77}, tagged(2), tagged(3)}));
        std::vector<Bytes> r = serial_replies(3);
        QCOMPARE(r.size(), size_t(3));
        QCOMPARE(tag_of(r[0]), u8(1));
        QCOMPARE(tag_of(r[1]), u8(2));
        QCOMPARE(tag_of(r[2]), u8(3));
        QCOMPARE(r[0], expected_reply(request(kBox, 0xA1, {6, 1, 0, 0}), {0, 1}));
    }

    void serialKeepsAFrameSplitOverReads()
    {
        Bytes f = tagged(9);
        put(master, Bytes(f.begin(), f.begin() + 5));
        for (int i = 0; i < 5; ++i)
            uart->receive_pass(2);
        put(master, Bytes(f.begin() + 5, f.end()));
        std::vector<Bytes> r = serial_replies(1);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(9));
    }

    void serialIsSilentOnBadCheckBytesAndUnknownGroups()
    {
        Bytes bad = with_bcc(request(kBox, 0xA1, {6, 4, 0, 0}));
        bad.back() ^= 0x01;
        pc_cmd_valid = 0;
        put(master, cat({wire(bad), unknown_group()}));
        QCOMPARE(serial_replies(1, kQuietPasses).size(), size_t(0));
        // The unknown group still counts as host traffic; the bad frame not.
        QCOMPARE(pc_cmd_valid.load(), u8(1));
    }

    void serialWritesALargeReplyWhole()
    {
        // 4096 image bytes that all need escaping, then zeros: the reply is
        // larger than a serial record.
        std::memset(ZevRamPara::p_zevrampara_config, 0xA5, 4096);
        put(master, wire(with_bcc(request(kBox, 0x61, ram_rest(0, 0xFFFF)))));
        // The PC reads while the link writes.
        ReplyReader reader;
        std::atomic<bool> stop{false}, got{false};
        QThread* t = QThread::create([&] {
            while (!stop && !got) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 10) > 0)
                    reader.drain(master);
                got = !reader.bodies.empty();
            }
        });
        t->start();
        pump([&] { uart->receive_pass(5); }, [&] { return got.load(); });
        stop = true;
        t->wait();
        delete t;
        std::vector<Bytes> r = reader.bodies;
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0].size(), size_t(11 + 0xFFFF + 1));
        QCOMPARE(r[0][11], u8(0xA5));
        QCOMPARE(r[0][11 + 4095], u8(0xA5));
        std::memset(ZevRamPara::p_zevrampara_config, 0, 4096);
    }

    void serialDropsCardFramesWithoutACardSide()
    {
        put(master, card_frame(1));
        QCOMPARE(serial_replies(1, kQuietPasses).size(), size_t(0));
        QCOMPARE(uart->state(), u8(Kq_uart_inout::IDLE));
    }

    void serialPassesCardFramesThroughAndBack()
    {
        install_cards();
        next_answer = card_answer(0x42);
        pc_cmd_valid = 0;
        put(master, card_frame(0x42));
        std::vector<Bytes> r = serial_replies(1);
        QCOMPARE(forwarded.size(), size_t(1));
        // The cards get the whole body, check byte included.
        QCOMPARE(forwarded[0], with_bcc(request(0x0001, 0x61, {0x42, 0, 0, 0}, 1, 2)));
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0], card_answer(0x42));
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_NONE));
        QCOMPARE(uart->state(), u8(Kq_uart_inout::IDLE));
        QCOMPARE(pc_cmd_valid.load(), u8(1));
    }

    void serialCardAnswerNeverDisplacesALocalReply()
    {
        install_cards();
        // A card frame, then a local frame in the same read: the local frame
        // ends the wait; the late card answer queues behind its reply.
        put(master, cat({card_frame(1), tagged(5)}));
        std::vector<Bytes> r = serial_replies(1);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(5));
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_SERIAL));
        // The FPGA worker hands the answer over from its own service.
        {
            pthread_mutex_lock(&card_lock);
            Bytes a = card_answer(1);
            QVERIFY(passby::queue_answer(a.data(), int(a.size())));
            pthread_mutex_unlock(&card_lock);
        }
        r = serial_replies(1);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0], card_answer(1));
    }

    void serialGivesUpWaitingAfterTwoHundredTicks()
    {
        install_cards();
        G_timeTicks = 5000;
        put(master, card_frame(3));
        pump([&] { uart->receive_pass(5); }, [&] { return uart->state() == Kq_uart_inout::WAIT_CARDS; });
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_SERIAL));
        G_timeTicks = 5000 + kPassbyGiveUpTicks - 1;
        uart->receive_pass(1);
        QCOMPARE(uart->state(), u8(Kq_uart_inout::WAIT_CARDS));
        QVERIFY(services > 0);
        G_timeTicks = 5000 + kPassbyGiveUpTicks;
        uart->receive_pass(1);
        QCOMPARE(uart->state(), u8(Kq_uart_inout::IDLE));
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_NONE));
        // An answer after the give-up has no link to go to.
        Bytes a = card_answer(3);
        QVERIFY(!passby::queue_answer(a.data(), int(a.size())));
    }

    // TCP servers.
    void tcpAnswersPipelinedFramesInOrder()
    {
        int c = tcp_connect(g_port);
        Bytes all;
        for (u8 i = 0; i < 40; ++i)
            all = cat({all, tagged(i)});
        put(c, all);
        std::vector<Bytes> r = tcp_replies(tcp->control_port(), c, 40);
        QCOMPARE(r.size(), size_t(40));
        for (u8 i = 0; i < 40; ++i)
            QCOMPARE(tag_of(r[i]), i);
        close(c);
    }

    void tcpKeepsFramesSplitIntoTinySegments()
    {
        int c = tcp_connect(networkManage::kSecondPort);
        Bytes f = tagged(7);
        // Segments of 3, 1 and 5 bytes: each is handed over as it comes.
        size_t cuts[] = {0, 3, 4, 9, f.size()};
        for (size_t i = 0; i + 1 < 5; ++i) {
            put(c, Bytes(f.begin() + long(cuts[i]), f.begin() + long(cuts[i + 1])));
            for (int k = 0; k < 3; ++k)
                tcp->port_pass(tcp->port_10002(), 2);
        }
        std::vector<Bytes> r = tcp_replies(tcp->port_10002(), c, 1);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(7));
        close(c);
    }

    void tcpNeverMixesTwoClientsBytes()
    {
        int a = tcp_connect(g_port);
        int b = tcp_connect(g_port);
        Bytes fa = tagged(0x0A), fb = tagged(0x0B);
        put(a, Bytes(fa.begin(), fa.begin() + 6));
        put(b, Bytes(fb.begin(), fb.begin() + 4));
        for (int k = 0; k < 5; ++k)
            tcp->port_pass(tcp->control_port(), 2);
        put(a, Bytes(fa.begin() + 6, fa.end()));
        put(b, Bytes(fb.begin() + 4, fb.end()));
        ReplyReader ra, rb;
        pump(
            [&] {
                tcp->port_pass(tcp->control_port(), 5);
                ra.drain(a);
                rb.drain(b);
            },
            [&] { return ra.bodies.size() + rb.bodies.size() >= 2; });
        QCOMPARE(ra.bodies.size(), size_t(1));
        QCOMPARE(rb.bodies.size(), size_t(1));
        QCOMPARE(tag_of(ra.bodies[0]), u8(0x0A));
        QCOMPARE(tag_of(rb.bodies[0]), u8(0x0B));
        close(a);
        close(b);
    }

    void tcpAnswersAnUnknownGroupWithTheHeaderOnly()
    {
        int c = tcp_connect(g_port);
        put(c, unknown_group());
        std::vector<Bytes> r = tcp_replies(tcp->control_port(), c, 1);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0], expected_reply(request(kBox, 0x99, {1, 2, 3}), {}));
        QCOMPARE(r[0].size(), size_t(11));
        close(c);
    }

    void tcpDropsBadFramesAndResynchronises()
    {
        int c = tcp_connect(g_port);
        Bytes bad = with_bcc(request(kBox, 0xA1, {6, 4, 0, 0}));
        bad.back() ^= 0x01;
        // An over-long frame, then a frame with a bad check byte, then a
        // good one.
        Bytes longFrame(networkManage::kFrameLimit + 100, 0x11);
        longFrame[0] = 0xA5;
        put(c, longFrame);
        for (int k = 0; k < 20; ++k)
            tcp->port_pass(tcp->control_port(), 2);
        put(c, cat({Bytes{0x5A}, wire(bad), tagged(0x21)}));
        std::vector<Bytes> r = tcp_replies(tcp->control_port(), c, 1);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x21));
        close(c);
    }

    void tcpSurvivesAClientVanishingMidReply()
    {
        int gone = tcp_connect(g_port);
        int stays = tcp_connect(g_port);
        Bytes big;
        for (int i = 0; i < 8; ++i)
            big = cat({big, wire(with_bcc(request(kBox, 0x61, ram_rest(0, 0xFFFF))))});
        put(gone, big);
        linger l{1, 0};
        setsockopt(gone, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        for (int k = 0; k < 3; ++k)
            tcp->port_pass(tcp->control_port(), 2);
        close(gone);
        put(stays, tagged(0x31));
        std::vector<Bytes> r = tcp_replies(tcp->control_port(), stays, 1);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x31));
        close(stays);
    }

    void tcpHostTrafficIsNotedOnTheControlPortOnly()
    {
        int c = tcp_connect(networkManage::kSecondPort);
        pc_cmd_valid = 0;
        put(c, tagged(1));
        QCOMPARE(tcp_replies(tcp->port_10002(), c, 1).size(), size_t(1));
        QCOMPARE(pc_cmd_valid.load(), u8(0));
        close(c);
        c = tcp_connect(g_port);
        Bytes bad = with_bcc(request(kBox, 0xA1, {6, 4, 0, 0}));
        bad.back() ^= 0x01;
        put(c, wire(bad));
        QCOMPARE(tcp_replies(tcp->control_port(), c, 1, kQuietPasses).size(), size_t(0));
        QCOMPARE(pc_cmd_valid.load(), u8(1));
        close(c);
    }

    void tcpCardAnswerGoesToTheClientThatAsked()
    {
        install_cards();
        int asker = tcp_connect(g_port);
        int other = tcp_connect(g_port);
        for (int k = 0; k < 3; ++k)
            tcp->port_pass(tcp->control_port(), 2);
        next_answer = card_answer(0x55);
        put(asker, card_frame(0x55));
        ReplyReader ra, ro;
        pump(
            [&] {
                tcp->port_pass(tcp->control_port(), 5);
                ra.drain(asker);
                ro.drain(other);
            },
            [&] { return !ra.bodies.empty(); });
        QCOMPARE(forwarded.size(), size_t(1));
        QCOMPARE(ra.bodies.size(), size_t(1));
        QCOMPARE(ra.bodies[0], card_answer(0x55));
        QCOMPARE(ro.bodies.size(), size_t(0));
        QCOMPARE(tcp->control_port().state.load(), u8(networkManage::IDLE));
        close(asker);
        close(other);
    }

    void tcpPort10002HandsCardFramesToTheDispatcher()
    {
        install_cards();
        int c = tcp_connect(networkManage::kSecondPort);
        put(c, card_frame(0x66));
        std::vector<Bytes> r = tcp_replies(tcp->port_10002(), c, 1);
        QCOMPARE(forwarded.size(), size_t(0));
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(protocol_phy::src(r[0].data()), u16(0x0001));
        close(c);
    }

    void tcpGivesUpWaitingAndServesTheQueue()
    {
        install_cards();
        G_timeTicks = 7000;
        int c = tcp_connect(g_port);
        put(c, card_frame(1));
        pump([&] { tcp->port_pass(tcp->control_port(), 5); },
             [&] { return tcp->control_port().state == networkManage::WAIT_CARDS; });
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_TCP));
        G_timeTicks = 7000 + kPassbyGiveUpTicks;
        tcp->port_pass(tcp->control_port(), 1);
        QCOMPARE(tcp->control_port().state.load(), u8(networkManage::IDLE));
        QCOMPARE(g_passby_trans_port.load(), u8(PASSBY_NONE));
        close(c);
    }

    // UDP servers.
    void udp5008BroadcastsAnd10005AnswersTheSender()
    {
        int c = udp_client();
        send_to(c, udpnetManage::kPort, tagged(0x11));
        std::vector<Datagram> r = udp_replies(udp->port_5008(), c, 1);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0].body), u8(0x11));
        QCOMPARE(ntohl(r[0].to.s_addr), 0x7FFFFFFFu);
        send_to(c, udpnetManage::kSecondPort, tagged(0x12));
        r = udp_replies(udp->port_10005(), c, 1);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0].body), u8(0x12));
        QCOMPARE(ntohl(r[0].to.s_addr), u32(INADDR_LOOPBACK));
        close(c);
    }

    void udpIsSilentOnAnUnknownGroup()
    {
        int c = udp_client();
        send_to(c, udpnetManage::kSecondPort, unknown_group());
        QCOMPARE(udp_replies(udp->port_10005(), c, 1, kQuietPasses).size(), size_t(0));
        close(c);
    }

    void udpAssemblesPerSender()
    {
        int a = udp_client();
        int b = udp_client();
        Bytes fa = tagged(0x1A), fb = tagged(0x1B);
        send_to(a, udpnetManage::kSecondPort, Bytes(fa.begin(), fa.begin() + 7));
        send_to(b, udpnetManage::kSecondPort, Bytes(fb.begin(), fb.begin() + 3));
        send_to(a, udpnetManage::kSecondPort, Bytes(fa.begin() + 7, fa.end()));
        send_to(b, udpnetManage::kSecondPort, Bytes(fb.begin() + 3, fb.end()));
        std::vector<Datagram> ra = udp_replies(udp->port_10005(), a, 1);
        std::vector<Datagram> rb = take_datagrams(b);
        QCOMPARE(ra.size(), size_t(1));
        QCOMPARE(rb.size(), size_t(1));
        QCOMPARE(tag_of(ra[0].body), u8(0x1A));
        QCOMPARE(tag_of(rb[0].body), u8(0x1B));
        close(a);
        close(b);
    }

    void udpCardFramesPassThroughOn5008Only()
    {
        install_cards();
        int c = udp_client();
        next_answer = card_answer(0x77);
        send_to(c, udpnetManage::kPort, card_frame(0x77));
        std::vector<Datagram> r = udp_replies(udp->port_5008(), c, 1);
        QCOMPARE(forwarded.size(), size_t(1));
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0].body, card_answer(0x77));
        QCOMPARE(ntohl(r[0].to.s_addr), 0x7FFFFFFFu);
        send_to(c, udpnetManage::kSecondPort, card_frame(0x78));
        r = udp_replies(udp->port_10005(), c, 1);
        QCOMPARE(forwarded.size(), size_t(1));
        QCOMPARE(r.size(), size_t(1));
        close(c);
    }

    void udpWifiDatagramsWaitForTheAccessPoint()
    {
        int c = udp_client();
        udp->set_wifi_side({fake_running, fake_handle});
        wifi_running = false;
        wifi_seen.clear();
        const Bytes text = {'A', 'T', '+', 'G', 'E', 'T', 'V', 'E', 'R'};
        send_to(c, udpnetManage::kWifiPort, text);
        for (int k = 0; k < 5; ++k)
            udp->wifi_pass(2);
        QCOMPARE(wifi_seen.size(), size_t(0));
        QCOMPARE(udp->wifi_pending(), size_t(0));
        // Running: a datagram the handler does not accept is dropped, and
        // reading goes on with the next one.
        wifi_running = true;
        wifi_result = 1;
        pump([&] { udp->wifi_pass(5); }, [&] { return wifi_seen.size() >= 1; });
        QCOMPARE(wifi_seen.size(), size_t(1));
        QCOMPARE(wifi_seen[0], text);
        for (int k = 0; k < 5; ++k)
            udp->wifi_pass(2);
        QCOMPARE(wifi_seen.size(), size_t(1));
        QCOMPARE(udp->wifi_pending(), size_t(0));
        send_to(c, udpnetManage::kWifiPort, text);
        wifi_result = 0;
        std::string answer;
        pump([&] { udp->wifi_pass(5); },
             [&] {
                 char buf[16];
                 ssize_t n = recv(c, buf, sizeof buf, MSG_DONTWAIT);
                 if (n > 0)
                     answer.assign(buf, size_t(n));
                 return !answer.empty();
             });
        QCOMPARE(QString::fromStdString(answer), QString("OK"));
        QCOMPARE(udp->wifi_pending(), size_t(0));
        udp->set_wifi_side({});
        close(c);
    }

    // Last: it takes the serial marker from the link above.
    void threadsSleepUntilWokenAndEndWithTheirLink()
    {
        auto answered = [](int fd) {
            ReplyReader r;
            for (int i = 0; i < 300 && r.bodies.empty(); ++i) {
                pollfd p{fd, POLLIN, 0};
                poll(&p, 1, 10);
                r.drain(fd);
            }
            return r.bodies.size() == 1 ? tag_of(r.bodies[0]) : u8(0);
        };
        auto run = [](void* (*entry)(void*), void* link) {
            pthread_t t;
            return pthread_create(&t, nullptr, entry, link) == 0 ? t : pthread_t();
        };
        pthread_t port = run(networkManage::acceptThread_10002, &tcp->port_10002());
        int c = tcp_connect(networkManage::kSecondPort);
        put(c, tagged(0x44));
        QCOMPARE(answered(c), u8(0x44));
        tcp->port_10002().stop();
        QCOMPARE(pthread_join(port, nullptr), 0);
        close(c);

        // Cards that take every frame at once: more card frames than the
        // queue holds come back to back, and the frames held behind them
        // are answered without anything else waking the thread.
        passby::install({&card_lock, fake_forward, fake_service, [] { return false; }});
        Bytes burst;
        for (u8 i = 0; i < 3 * networkManage::port_link::kMaxPassing; ++i)
            burst = cat({burst, card_frame(i)});
        port = run(networkManage::acceptThread, &tcp->control_port());
        c = tcp_connect(g_port);
        put(c, cat({burst, tagged(0x46)}));
        QCOMPARE(answered(c), u8(0x46));
        tcp->control_port().stop();
        QCOMPARE(pthread_join(port, nullptr), 0);
        close(c);

        int m = -1, s = -1;
        QVERIFY(pty_at(sim->host("/dev/ttyS3"), m, s));
        auto* line = new Kq_uart_inout();
        QCOMPARE(line->usart1_init(3, g_BPS, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
        put(m, tagged(0x45));
        QCOMPARE(answered(m), u8(0x45));
        put(m, cat({burst, tagged(0x47)}));
        QCOMPARE(answered(m), u8(0x47));
        delete line;
        close(m);
        close(s);
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestLinkManagers)

#include "test_link_managers.moc"
