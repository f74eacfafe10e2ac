// The running program on the simulated board, spoken to as the PC tool does
// over TCP 5005 and 10002, UDP 5008 and 10005 and the serial port (the PC
// side of the cable the simulated board makes for /dev/ttyS2).
#include <QtTest>

#include <chrono>
#include <csignal>
#include <thread>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/uart_config.h"
#include "pc_frames.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
int elapsed_ms(std::chrono::steady_clock::time_point since)
{
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
}

// A read of card RAM through port 1 or 2 (route 1); card 100 does not exist,
// so nothing answers it.
Bytes card_read(u16 card, u8 port)
{
    return wire(with_bcc(request(card, 0x61, cat({le32(0x10), {4, 0, 0, 0}}), 1, port)));
}
constexpr int kGiveUpMs = int(kPassbyGiveUpTicks) * 10;

void send_udp(int fd, int port, const Bytes& b)
{
    sockaddr_in to = loopback(port);
    sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}
} // namespace

class TestE2eLinks : public QObject
{
    Q_OBJECT
    QTemporaryDir root;
    pid_t program = -1;
    int master = -1;

  private slots:
    void initTestCase()
    {
        QByteArray path = qgetenv("ZEV_PROGRAM");
        if (path.isEmpty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        std::string rootPath = root.path().toStdString();
        program = start_serving_program(path.toStdString(), rootPath);
        QVERIFY(program > 0);
        master = open_pc_serial(rootPath);
        QVERIFY(master >= 0);
    }
    void cleanupTestCase()
    {
        stop_program(program);
        if (master >= 0)
            close(master);
    }

    void tcpAnswersPipelinedAndSplitFrames()
    {
        for (int port : {5005, 10002}) {
            int c = tcp_connect(port);
            QVERIFY(c >= 0);
            Bytes all;
            for (u8 i = 0; i < 50; ++i)
                all = cat({all, tagged(i)});
            put(c, all);
            std::vector<Bytes> r = replies(c, 50, 2000);
            QCOMPARE(r.size(), size_t(50));
            for (u8 i = 0; i < 50; ++i)
                QCOMPARE(tag_of(r[i]), i);
            Bytes f = tagged(0x99);
            put(c, Bytes(f.begin(), f.begin() + 4));
            QTest::qWait(30);
            put(c, Bytes(f.begin() + 4, f.end()));
            r = replies(c, 1, 2000);
            QCOMPARE(r.size(), size_t(1));
            QCOMPARE(tag_of(r[0]), u8(0x99));
            close(c);
        }
    }

    void tcpHeaderOnlyReplyToUnknownGroupAndSilenceOnBadCheckByte()
    {
        int c = tcp_connect(5005);
        Bytes bad = with_bcc(request(kBox, 0xA1, {6, 1, 0, 0}));
        bad.back() ^= 0x40;
        put(c, cat({wire(bad), wire(with_bcc(request(kBox, 0x99, {1})))}));
        std::vector<Bytes> r = replies(c, 2, 500);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0], expected_reply(request(kBox, 0x99, {1}), {}));
        close(c);
    }

    void tcpClientVanishingMidReplyHarmsNoOne()
    {
        int gone = tcp_connect(5005);
        Bytes big;
        for (int i = 0; i < 8; ++i)
            big = cat({big, wire(with_bcc(request(kBox, 0x61, ram_rest(0, 0xFFFF))))});
        put(gone, big);
        linger l{1, 0};
        setsockopt(gone, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close(gone);
        int c = tcp_connect(5005);
        put(c, tagged(0x42));
        std::vector<Bytes> r = replies(c, 1, 3000);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x42));
        close(c);
        QCOMPARE(waitpid(program, nullptr, WNOHANG), 0);
    }

    void udpRepliesAndSilence()
    {
        int c = udp_socket();
        sockaddr_in p10005 = loopback(10005), p5008 = loopback(5008);
        Bytes f = tagged(0x51);
        sendto(c, f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&p10005), sizeof p10005);
        std::vector<Bytes> r = replies(c, 1, 2000);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x51));
        // 5008 answers on the loopback broadcast at the sender's port.
        f = tagged(0x52);
        sendto(c, f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&p5008), sizeof p5008);
        r = replies(c, 1, 2000);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x52));
        // Split over two datagrams; then an unknown group gets no reply.
        f = tagged(0x53);
        sendto(c, f.data(), 6, 0, reinterpret_cast<sockaddr*>(&p10005), sizeof p10005);
        sendto(c, f.data() + 6, f.size() - 6, 0, reinterpret_cast<sockaddr*>(&p10005), sizeof p10005);
        r = replies(c, 1, 2000);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x53));
        Bytes u = wire(with_bcc(request(kBox, 0x99, {1})));
        sendto(c, u.data(), u.size(), 0, reinterpret_cast<sockaddr*>(&p10005), sizeof p10005);
        QCOMPARE(replies(c, 1, 300).size(), size_t(0));
        close(c);
    }

    void serialAnswersOnThePseudoTerminal()
    {
        put(master, cat({Bytes{0x01, 0x02}, tagged(0x61), tagged(0x62)}));
        std::vector<Bytes> r = replies(master, 2, 2000);
        QCOMPARE(r.size(), size_t(2));
        QCOMPARE(tag_of(r[0]), u8(0x61));
        QCOMPARE(tag_of(r[1]), u8(0x62));
        put(master, wire(with_bcc(request(kBox, 0x99, {1}))));
        QCOMPARE(replies(master, 1, 300).size(), size_t(0));
    }

    // Last: it waits for the FPGA's start-up (about 18 s of ticks).
    void passThroughReachesTheCardsAndAnswersTheAskingClient()
    {
        // Port 10002 never notes host traffic, so asking there does not hold
        // the start-up back.
        int probe = tcp_connect(10002);
        QVERIFY(probe >= 0);
        bool up = false;
        for (int i = 0; i < 120 && !up; ++i) {
            put(probe, wire(with_bcc(request(kFpga, 0xA1, {80, 0xFF, 0, 0}))));
            std::vector<Bytes> r = replies(probe, 1, 1000);
            up = r.size() == 1 && r[0].size() > 11 && r[0][10] == 0 && r[0][11] == 3;
            if (!up)
                QTest::qWait(500);
        }
        close(probe);
        QVERIFY2(up, "the FPGA did not come up");

        int asking = tcp_connect(5005);
        int other = tcp_connect(5005);
        QVERIFY(asking >= 0 && other >= 0);
        // Card 2 on output port 2: write four bytes of its RAM, then read them back.
        const Bytes data = {0xA1, 0xB2, 0xC3, 0xD4};
        put(asking, wire(with_bcc(request(0x0002, 0x60, cat({le32(0x10), {4, 0, 0, 0}, data}), 1, 2))));
        std::vector<Bytes> w = replies(asking, 1, 3000);
        QCOMPARE(w.size(), size_t(1));
        put(asking, wire(with_bcc(request(0x0002, 0x61, cat({le32(0x10), {4, 0, 0, 0}}), 1, 2))));
        std::vector<Bytes> r = replies(asking, 1, 3000);
        QCOMPARE(r.size(), size_t(1));
        const Bytes& a = r[0];
        QCOMPARE(a.size(), size_t(16));
        QCOMPARE(u16(a[0] | a[1] << 8), kPc);
        QCOMPARE(a[10], u8(0));
        QCOMPARE(Bytes(a.begin() + 11, a.begin() + 15), data);
        // The other client of the same port hears nothing of it.
        QCOMPARE(replies(other, 1, 300).size(), size_t(0));
        close(asking);
        close(other);
    }

    // The tests below need the FPGA up, as the one above left it.
    void cardAnswersGoToTheirOwnSenders()
    {
        int a = tcp_connect(5005), b = tcp_connect(5005);
        int u = udp_socket();
        QVERIFY(a >= 0 && b >= 0 && u >= 0);
        for (int round = 0; round < 3; ++round) {
            put(a, card_read(0x0001, 1));
            put(b, card_read(0x0002, 2));
            send_udp(u, 5008, card_read(0x0003, 1));
            std::vector<Bytes> ra = replies(a, 1, 5000), rb = replies(b, 1, 5000), ru = replies(u, 1, 5000);
            QCOMPARE(ra.size(), size_t(1));
            QCOMPARE(rb.size(), size_t(1));
            QCOMPARE(ru.size(), size_t(1));
            QCOMPARE(protocol_phy::src(ra[0].data()), u16(0x0001));
            QCOMPARE(protocol_phy::src(rb[0].data()), u16(0x0002));
            QCOMPARE(protocol_phy::src(ru[0].data()), u16(0x0003));
        }
        close(a);
        close(b);
        close(u);
    }

    void unansweredCardFramesHoldNoOtherFrameUp()
    {
        Bytes six;
        for (int i = 0; i < 6; ++i)
            six = cat({six, card_read(100, 1)});
        int a = tcp_connect(5005), b = tcp_connect(5005);
        int ua = udp_socket(), ub = udp_socket();
        put(a, six);
        send_udp(ua, 5008, six);
        QTest::qWait(50);
        const auto t0 = std::chrono::steady_clock::now();
        put(b, tagged(0x71));
        std::vector<Bytes> r = replies(b, 1, 3 * kGiveUpMs);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x71));
        // The asking client's own later frame is served in between too.
        put(a, tagged(0x72));
        r = replies(a, 1, 3 * kGiveUpMs);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x72));
        send_udp(ub, 5008, tagged(0x73));
        r = replies(ub, 1, 3 * kGiveUpMs);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x73));
        QVERIFY2(elapsed_ms(t0) < kGiveUpMs, "a read waited behind frames for the cards");
        // Once the cards have let frames go unanswered, the queue behind
        // them drains quickly, and a card that answers is heard again.
        put(b, card_read(0x0001, 1));
        r = replies(b, 1, 4 * kGiveUpMs);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(protocol_phy::src(r[0].data()), u16(0x0001));
        QVERIFY2(elapsed_ms(t0) < 4 * kGiveUpMs, "twelve unanswered frames cost a full wait each");
        close(a);
        close(b);
        close(ua);
        close(ub);
    }

    void registerEightyIsNotWritableAndTheFpgaStaysUp()
    {
        int c = tcp_connect(10002);
        Bytes w = request(kFpga, 0xA0, {80, 0xFF, 0, 0});
        put(c, wire(with_bcc(w)));
        std::vector<Bytes> r = replies(c, 1, 2000);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0], expected_reply(w, {1}));
        QTest::qWait(200);
        put(c, wire(with_bcc(request(kFpga, 0xA1, {80, 0xFF, 0, 0}))));
        r = replies(c, 1, 2000);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(r[0][11], u8(3));
        close(c);
    }

    void heldConnectionsNeverLockANewClientOut()
    {
        for (int port : {5005, 10002}) {
            std::vector<int> held;
            for (int i = 0; i < 64; ++i) {
                held.push_back(tcp_connect(port));
                QVERIFY(held.back() >= 0);
            }
            // Each is accepted before the next comes.
            QTest::qWait(100);
            int c = tcp_connect(port);
            QVERIFY(c >= 0);
            put(c, tagged(0x44));
            std::vector<Bytes> r = replies(c, 1, 2000);
            QCOMPARE(r.size(), size_t(1));
            QCOMPARE(tag_of(r[0]), u8(0x44));
            // The one idle longest made room.
            u8 byte;
            pollfd p{held.front(), POLLIN, 0};
            QVERIFY(poll(&p, 1, 2000) == 1);
            QCOMPARE(read(held.front(), &byte, 1), ssize_t(0));
            for (int fd : held)
                close(fd);
            close(c);
        }
    }

    void udpRepliesTooLargeForOneDatagramAreRefused()
    {
        struct Row {
            int port;
            u16 length;
            bool whole;
        } rows[] = {{5008, 600, true},
                    {5008, 2000, false},
                    {5008, 0xFFFF, false},
                    {10005, 30000, true},
                    {10005, 0xFFFF, false}};
        int c = udp_socket();
        for (const Row& row : rows) {
            // A window that reads zeros: its bytes need no escaping.
            Bytes req = request(kBox, 0x61, ram_rest(0xFD000000, row.length));
            send_udp(c, row.port, wire(with_bcc(req)));
            std::vector<Bytes> r = replies(c, 1, 2000);
            QCOMPARE(r.size(), size_t(1));
            if (row.whole) {
                QCOMPARE(r[0].size(), size_t(11 + row.length + 1));
                QCOMPARE(r[0][10], u8(0));
            } else {
                QCOMPARE(r[0], expected_reply(req, {1}));
            }
        }
        close(c);
    }

    // A page refresh between the PC's write of a new LED size and its apply
    // copies the size into the shadow; the apply still sets the LED up (and
    // with it puts the audio back on window 0).
    void anLedSizeWrittenBeforeARefreshIsStillApplied()
    {
        int c = tcp_connect(5005);
        QVERIFY(c >= 0);
        auto word = [&](u32 at) {
            const Bytes r = ask(c, request(kBox, 0x61, ram_rest(at, 2)));
            return r.size() == 3 && r[0] == 0 ? int(r[1] | r[2] << 8) : -1;
        };
        const Bytes apply = request(kBox, 0xA0, {11, 0x02, 0, 0x02});
        // Audio on window 1, which is on.
        QCOMPARE(ask(c, request(kBox, 0x60, ram_rest(2298, 2, {1, 0}))), Bytes{0});
        QCOMPARE(ask(c, request(kBox, 0x60, ram_rest(2112, 2, {1, 0}))), Bytes{0});
        QCOMPARE(ask(c, apply), Bytes{0});
        QCOMPARE(word(2112), 1);
        const int width = word(1378) == 1024 ? 1280 : 1024;
        QCOMPARE(ask(c, request(kBox, 0x60, ram_rest(1378, 2, {u8(width), u8(width >> 8)}))), Bytes{0});
        // A brightness change applied and stored: the page refresh runs.
        QCOMPARE(ask(c, request(kBox, 0xB0, {0x31, 0, 6, 40, 0})), (Bytes{0, 0x31}));
        auto stored = [&] {
            const QByteArray f = readHostFile(root.path() + "/data/ram_device_info");
            return f.size() < 2 + 1380 - 768 ? -1 : int(u8(f[2 + 1378 - 768]) | u8(f[2 + 1379 - 768]) << 8);
        };
        for (int i = 0; i < 200 && stored() != width; ++i)
            QTest::qWait(50);
        QCOMPARE(stored(), width);
        // A screen capture runs on the GUI thread after the refresh's end.
        QCOMPARE(ask(c, request(kBox, 0x61, ram_rest(0x800000, 2))).size(), size_t(3));
        QCOMPARE(ask(c, apply), Bytes{0});
        QCOMPARE(word(2112), 0);
        close(c);
    }

    void serialAnswersEveryReadOfOneLongWrite()
    {
        Bytes all;
        for (int i = 0; i < 2000; ++i)
            all = cat({all, tagged(u8(i))});
        // The PC writes and reads at once, as a line does.
        std::thread writer([&] { put(master, all); });
        std::vector<Bytes> r = replies(master, 2000, 3000);
        writer.join();
        QCOMPARE(r.size(), size_t(2000));
        for (int i = 0; i < 2000; ++i)
            QCOMPARE(tag_of(r[size_t(i)]), u8(i));
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eLinks)

#include "test_e2e_links.moc"
