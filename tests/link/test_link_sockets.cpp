// The socket and terminal layers under the links: TCP server connections and
// their ids, UDP reply addresses, the TCP and UDP clients, and the serial
// port's opening, speeds and whole writes.
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "link/serial_modules.h"
#include "link/tcpclinet.h"
#include "link/tcpserver.h"
#include "link/udpclient.h"
#include "link/udpserver.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
// Reads what arrives on fd within ms.
QByteArray read_for(int fd, int ms)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    char buf[65536];
    while (t.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, int(n));
    }
    return got;
}

// Polls the server until cond holds, at most 200 steps of 10 ms.
template <typename F> bool step_until(TcpServer& s, F cond)
{
    for (int i = 0; i < 200 && !cond(); ++i)
        s.recvData(10);
    return cond();
}
} // namespace

class TestLinkSockets : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;

  private slots:
    void initTestCase() { sim = new SimFixture(); }
    void cleanupTestCase() { delete sim; }

    // TCP server: pieces carry their connection; ids are never reused.
    void tcpPiecesAreTaggedWithTheirConnection()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        int a = tcp_connect(s.port());
        int b = tcp_connect(s.port());
        QVERIFY(step_until(s, [&] { return s.clients() == 2; }));
        QVERIFY(write(a, "AAAA", 4) == 4);
        QVERIFY(write(b, "BB", 2) == 2);
        QVERIFY(step_until(s, [&] { return s.pieces.size() == 2; }));
        uint64_t idA = 0, idB = 0;
        for (const auto& p : s.pieces)
            (p.data.size() == 4 ? idA : idB) = p.conn;
        QVERIFY(idA != 0 && idB != 0 && idA != idB);
        // The reply goes to the connection named, not to the other one.
        const u8 reply[] = {1, 2, 3};
        QCOMPARE(s.sendData(reply, 3, idB), 0);
        QCOMPARE(read_for(b, 100), QByteArray("\x01\x02\x03", 3));
        QCOMPARE(read_for(a, 50), QByteArray());
        close(a);
        close(b);
    }

    // A client with bytes always waiting is read first, but never ahead of
    // other clients and new connections for more than one step.
    void tcpBusyClientHoldsNoOneBack()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        int a = tcp_connect(s.port());
        int b = tcp_connect(s.port());
        QVERIFY(step_until(s, [&] { return s.clients() == 2; }));
        QVERIFY(fcntl(a, F_SETFL, O_NONBLOCK) == 0);
        const std::vector<char> lots(1 << 20, 'a');
        size_t sent = 0;
        for (ssize_t n = 1; n > 0 && sent < lots.size(); sent += size_t(std::max<ssize_t>(n, 0)))
            n = write(a, lots.data() + sent, lots.size() - sent);
        QVERIFY(sent > size_t(3 * TcpServer::kPieceSize));
        QVERIFY(step_until(s, [&] { return !s.pieces.empty(); }));
        QVERIFY(write(b, "B", 1) == 1);
        int c = tcp_connect(s.port());
        poll(nullptr, 0, 20);
        s.recvData(10);
        s.recvData(10);
        QCOMPARE(s.clients(), size_t(3));
        QVERIFY(std::any_of(s.pieces.begin(), s.pieces.end(), [](const auto& p) { return p.data.size() == 1; }));
        close(a);
        close(b);
        close(c);
    }

    void tcpReplyNeverReachesTheNextClientOnAReusedSocket()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        int a = tcp_connect(s.port());
        QVERIFY(write(a, "x", 1) == 1);
        QVERIFY(step_until(s, [&] { return s.pieces.size() == 1; }));
        uint64_t gone = s.pieces.front().conn;
        close(a);
        QVERIFY(step_until(s, [&] { return s.closed.size() == 1; }));
        QCOMPARE(s.closed.front(), gone);
        // The next client most likely gets the same descriptor number.
        int b = tcp_connect(s.port());
        QVERIFY(step_until(s, [&] { return s.clients() == 1; }));
        const u8 reply[] = {9};
        QCOMPARE(s.sendData(reply, 1, gone), 255);
        QCOMPARE(read_for(b, 50), QByteArray());
        close(b);
    }

    void tcpSendToAVanishedClientRaisesNoSignal()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        int a = tcp_connect(s.port());
        QVERIFY(write(a, "x", 1) == 1);
        QVERIFY(step_until(s, [&] { return s.pieces.size() == 1; }));
        uint64_t id = s.pieces.front().conn;
        // Reset rather than close: the peer's socket answers with RST.
        linger l{1, 0};
        setsockopt(a, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close(a);
        std::vector<u8> big(1 << 20, 0x11);
        int rc = 0;
        for (int i = 0; i < 4 && rc == 0; ++i)
            rc = s.sendData(big.data(), int(big.size()), id);
        QCOMPARE(rc, 255);
        QCOMPARE(s.clients(), size_t(0));
    }

    void tcpClientsPastTheCapAreClosedAtOnce()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        std::vector<int> fds;
        for (size_t i = 0; i < TcpServer::kMaxClients + 3; ++i)
            fds.push_back(tcp_connect(s.port()));
        for (int i = 0; i < 20; ++i)
            s.recvData(10);
        QCOMPARE(s.clients(), TcpServer::kMaxClients);
        int closedByServer = 0;
        for (int fd : fds) {
            char c;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 0) > 0 && read(fd, &c, 1) == 0)
                ++closedByServer;
            close(fd);
        }
        QCOMPARE(closedByServer, 3);
    }

    void tcpBindFailureIsReported()
    {
        TcpServer a, b;
        QCOMPARE(a.initialize(0), 0);
        // The port is taken by a listening socket: a second bind fails.
        QCOMPARE(b.initialize(a.port()), 255);
        QVERIFY(!b.listening());
    }

    // UDP server: flag 0 broadcasts to the sender's port, flag 1 answers the
    // sender; on the simulated board the broadcast stays on loopback.
    void udpReplyAddresses()
    {
        UdpServer s;
        QCOMPARE(s.initialize(0), 0);
        int c = udp_socket();
        sockaddr_in to = loopback(s.port());
        QVERIFY(sendto(c, "ab", 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 2);
        for (int i = 0; i < 50 && s.datagrams.empty(); ++i)
            s.recvData(0, 10);
        QCOMPARE(s.datagrams.size(), size_t(1));
        const udp_datagram& d = s.datagrams.front();
        QCOMPARE(ntohs(d.reply_to.sin_port), u16(local_port(c)));
        QCOMPARE(ntohl(d.reply_to.sin_addr.s_addr), 0x7FFFFFFFu);
        QCOMPARE(ntohl(d.from.sin_addr.s_addr), u32(INADDR_LOOPBACK));
        // The broadcast reaches a client bound to any address.
        const u8 reply[] = {7, 7};
        QCOMPARE(s.sendData(reply, 2, d.reply_to), 0);
        QCOMPARE(read_for(c, 200), QByteArray("\x07\x07", 2));
        s.datagrams.clear();

        QVERIFY(sendto(c, "cd", 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 2);
        for (int i = 0; i < 50 && s.datagrams.empty(); ++i)
            s.recvData(1, 10);
        QCOMPARE(s.datagrams.size(), size_t(1));
        QCOMPARE(s.datagrams.front().reply_to.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
        close(c);
    }

    // TCP client.
    void clientConnectToNothingFailsAndStaysClosed()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        int port = s.port();
        s.unInitialize();
        TcpClinet c;
        QCOMPARE(c.sockerConnect("127.0.0.1", port), 0);
        QCOMPARE(c.socket(), -1);
        QCOMPARE(c.sockerConnect("not an address", port), 0);
    }

    void clientSecondConnectKeepsTheConnection()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        TcpClinet c;
        QCOMPARE(c.sockerConnect("127.0.0.1", s.port()), 1);
        int fd = c.socket();
        QVERIFY(fd >= 0);
        QCOMPARE(c.sockerConnect("127.0.0.1", s.port()), 0);
        QCOMPARE(c.socket(), fd);
    }

    void clientSeesTheServerLeave()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        TcpClinet c;
        QCOMPARE(c.sockerConnect("127.0.0.1", s.port()), 1);
        QVERIFY(step_until(s, [&] { return s.clients() == 1; }));
        s.unInitialize();
        u8 gone = 0;
        QCOMPARE(c.recvData(&gone), 0);
        QCOMPARE(gone, u8(1));
        QCOMPARE(c.socket(), -1);
    }

    void clientReceivesLargeDataInBoundedRecords()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        TcpClinet c;
        QCOMPARE(c.sockerConnect("127.0.0.1", s.port()), 1);
        QVERIFY(step_until(s, [&] { return s.clients() == 1; }));
        const u8 hello[] = {1};
        QCOMPARE(c.sendData(hello, 1, c.socket()), 0);
        QVERIFY(step_until(s, [&] { return s.pieces.size() == 1; }));
        std::vector<u8> big(200000);
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = u8(i * 7);
        QCOMPARE(s.sendData(big.data(), int(big.size()), s.pieces.front().conn), 0);
        size_t total = 0;
        u8 gone = 0;
        for (int i = 0; i < 50 && total < big.size(); ++i) {
            QCOMPARE(c.recvData(&gone), 0);
            total = 0;
            for (const auto& r : c.records)
                total += size_t(r.count);
        }
        QCOMPARE(total, big.size());
        QVERIFY(c.records.size() >= 2);
        std::vector<u8> joined;
        for (const auto& r : c.records) {
            QVERIFY(r.count <= TcpClinet::kRecordSize);
            QCOMPARE(r.socket, c.socket());
            joined.insert(joined.end(), r.data.begin(), r.data.begin() + r.count);
        }
        QVERIFY(joined == big);
    }

    void clientRefusesToSendWhileDisconnected()
    {
        TcpClinet c;
        const u8 data[] = {1, 2, 3};
        QCOMPARE(c.sendData(data, 3, -1), 255);
        QCOMPARE(c.sendData(nullptr, 3, -1), 255);
        u8 gone = 0;
        QCOMPARE(c.recvData(&gone), 255);
        QCOMPARE(gone, u8(1));
    }

    void clientSendToAVanishedServerFailsWithoutSignal()
    {
        TcpServer s;
        QCOMPARE(s.initialize(0), 0);
        TcpClinet c;
        QCOMPARE(c.sockerConnect("127.0.0.1", s.port()), 1);
        QVERIFY(step_until(s, [&] { return s.clients() == 1; }));
        s.unInitialize();
        std::vector<u8> big(1 << 20, 0x22);
        int rc = 0;
        for (int i = 0; i < 4 && rc == 0; ++i)
            rc = c.sendData(big.data(), int(big.size()), c.socket());
        QCOMPARE(rc, 255);
        QCOMPARE(c.socket(), -1);
    }

    // UDP client: only the helper's own answer counts.
    void udpClientTakesTheHelpersAnswer()
    {
        int helper = udp_socket(UdpClient::kPort);
        int other = udp_socket();
        int mine = udp_socket();
        std::string answer;
        QThread* t = QThread::create([&] {
            char buf[64];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            pollfd p{helper, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0)
                return;
            ssize_t n = recvfrom(helper, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n <= 0)
                return;
            // A stranger speaks first; then the helper answers.
            sendto(other, "noise", 5, 0, reinterpret_cast<sockaddr*>(&from), len);
            sendto(helper, "OK:ping", 7, 0, reinterpret_cast<sockaddr*>(&from), len);
        });
        t->start();
        UdpClient c(mine);
        QCOMPARE(c.udpSendData("ping", answer), 7);
        QCOMPARE(QString::fromStdString(answer), QString("OK:ping"));
        t->wait();
        delete t;
        close(helper);
        close(other);
        close(mine);
    }

    // Serial port.
    void serialOpensThroughTheBoardPathAndRefusesOddSpeeds()
    {
        int master = -1, slave = -1;
        QVERIFY(pty_at(sim->host("/dev/ttyS2"), master, slave));
        serial_modules m;
        QCOMPARE(m.ttyS_Open(2, 14400, O_RDWR | O_NOCTTY | O_NONBLOCK), -1);
        QCOMPARE(m.serial_init(3, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK) < 0, true);
        int fd = m.serial_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd > 0);
        QCOMPARE(m.descriptors().count(fd), size_t(1));
        QCOMPARE(m.UartSetSpeed(fd, 14400), -1);
        QCOMPARE(m.UartSetSpeed(fd, 9600), 0);
        QCOMPARE(m.UartSetParity(fd, 9, 1, 'n'), -1);
        QCOMPARE(m.UartSetParity(fd, 8, 3, 'n'), -1);
        QCOMPARE(m.UartSetParity(fd, 8, 1, 'x'), -1);
        QCOMPARE(m.UartSetParity(fd, 8, 1, 'n'), 0);

        // A write larger than the terminal's buffer leaves whole, although
        // the device has no RTS line.
        std::vector<u8> big(100000);
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = u8(i);
        QByteArray got;
        QThread* reader = QThread::create([&] { got = read_for(master, 3000); });
        reader->start();
        QCOMPARE(m.uart_write(fd, big.data(), int(big.size())), int(big.size()));
        reader->wait();
        delete reader;
        QCOMPARE(got.size(), int(big.size()));
        QVERIFY(std::memcmp(got.constData(), big.data(), big.size()) == 0);

        // Reads: nothing readable is -1; then one read into the record.
        auto rec = std::make_unique<Uart_Rec_Send_Data>();
        rec->fd = fd;
        QCOMPARE(m.recv_uart_data(*rec, 100), -1);
        QVERIFY(write(master, "hello", 5) == 5);
        pollfd p{fd, POLLIN, 0};
        QVERIFY(poll(&p, 1, 1000) > 0);
        QCOMPARE(m.recv_uart_data(*rec, 100), 5);
        QCOMPARE(rec->length, 5);
        QCOMPARE(std::memcmp(rec->data, "hello", 5), 0);
        Uart_Rec_Send_Data& out = *rec;
        out.length = 3;
        std::memcpy(out.data, "abc", 3);
        QCOMPARE(m.uart_send(out), 3);
        QCOMPARE(read_for(master, 100), QByteArray("abc"));
        out.fd = 0;
        QCOMPARE(m.uart_send(out), -1);
        close(fd);
        close(slave);
        close(master);
    }

    void serialRefusesAFileThatIsNoTerminal()
    {
        QVERIFY(writeHostFile(sim->hostQ("/dev/ttyS4"), QByteArray("x")));
        serial_modules m;
        QCOMPARE(m.ttyS_Open(4, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), -1);
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestLinkSockets)

#include "test_link_sockets.moc"
