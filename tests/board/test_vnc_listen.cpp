// The VNC listener moved to one address keeps its descriptor, so the server
// that watches it goes on accepting, but only there.
#include <QtTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "board/sim/vnc_listen.h"
#include "support/net_helpers.h"

class TestVncListen : public QObject
{
    Q_OBJECT

  private slots:
    void listenerMovesToTheAskedAddress()
    {
        // As Qt listens: IPv6 on every address, both families, non-blocking.
        int fd = socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        QCOMPARE(bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
        QCOMPARE(listen(fd, 4), 0);
        socklen_t len = sizeof any;
        QCOMPARE(getsockname(fd, reinterpret_cast<sockaddr*>(&any), &len), 0);
        const int port = ntohs(any.sin6_port);

        QCOMPARE(board::sim::moveListener(port, "127.0.0.1"), std::string());
        sockaddr_in now{};
        len = sizeof now;
        QCOMPARE(getsockname(fd, reinterpret_cast<sockaddr*>(&now), &len), 0);
        QCOMPARE(int(now.sin_family), AF_INET);
        QCOMPARE(now.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
        QCOMPARE(ntohs(now.sin_port), port);
        QVERIFY(fcntl(fd, F_GETFL) & O_NONBLOCK);
        QVERIFY(fcntl(fd, F_GETFD) & FD_CLOEXEC);

        int c = tcp_connect(port);
        QVERIFY(c >= 0);
        int accepted = -1;
        for (int i = 0; i < 100 && accepted < 0; ++i, usleep(10000))
            accepted = accept(fd, nullptr, nullptr);
        QVERIFY(accepted >= 0);
        close(accepted);
        close(c);
        // Nothing is left listening on every address.
        QCOMPARE(board::sim::moveListener(port, "127.0.0.1"), std::string("the VNC server could not open it"));
        close(fd);
    }

    void onlyNumericAddressesAreTaken_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("taken");
        QTest::newRow("loopback") << "127.0.0.1" << true;
        QTest::newRow("every IPv4") << "0.0.0.0" << true;
        QTest::newRow("IPv6") << "::1" << true;
        QTest::newRow("name") << "localhost" << false;
        QTest::newRow("empty") << "" << false;
    }
    void onlyNumericAddressesAreTaken()
    {
        QFETCH(QString, address);
        QFETCH(bool, taken);
        QCOMPARE(board::sim::isListenAddress(address.toStdString()), taken);
    }

    void onlyOwnAddressesCanBeListenedOn()
    {
        QVERIFY(board::sim::isOwnAddress("127.0.0.1"));
        QVERIFY(board::sim::isOwnAddress("0.0.0.0"));
        // A documentation address no machine has.
        QVERIFY(!board::sim::isOwnAddress("192.0.2.1"));
        QVERIFY(!board::sim::isOwnAddress("localhost"));
    }
};

QTEST_MAIN(TestVncListen)
#include "test_vnc_listen.moc"
