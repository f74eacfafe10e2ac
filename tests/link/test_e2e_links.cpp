// The running program on the simulated board, spoken to as the PC tool does
// over TCP 5005 and 10002, UDP 5008 and 10005 and the serial port (the PC
// side of the cable the simulated board makes for /dev/ttyS2).
#include <QtTest>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pc_frames.h"
#include "support/net_helpers.h"

namespace
{
// Replies read from fd (stream or datagrams) until count arrived or ms
// passed without one.
std::vector<Bytes> replies(int fd, size_t count, int ms)
{
    ReplyReader r;
    u8 buf[70000];
    while (r.bodies.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        r.feed(buf, size_t(n));
    }
    return r.bodies;
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
        program = start_program(path.toStdString(), rootPath);
        QVERIFY(program > 0);
        // The program opens its links after its 4 s start-up.
        int fd = tcp_connect_within(5005, 15000);
        QVERIFY(fd >= 0);
        close(fd);
        master = open_pc_serial(rootPath);
        QVERIFY(master >= 0);
    }
    void cleanupTestCase()
    {
        if (program > 0) {
            kill(program, SIGKILL);
            waitpid(program, nullptr, 0);
        }
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
};

int main(int argc, char** argv)
{
    // Before any thread exists: the namespace belongs to the calling thread,
    // and the program started from it inherits it.
    own_network();
    QCoreApplication app(argc, argv);
    TestE2eLinks t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_e2e_links.moc"
