// The simulated board's serial cable: what one end writes, the other reads,
// in both directions and in bulk; a side nobody listens to never stalls the
// other.
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "board/sim/serial_link.h"
#include "sim_fixture.h"

namespace
{
int openRaw(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// Moves data from one end to the other, reading while writing; the bytes
// read within ms of the last progress.
std::string carry(int from, int to, const std::string& data, int ms)
{
    std::string got;
    size_t sent = 0;
    char buf[8192];
    for (;;) {
        pollfd p[2] = {{to, POLLIN, 0}, {from, short(sent < data.size() ? POLLOUT : 0), 0}};
        if (poll(p, 2, ms) <= 0)
            return got;
        if (p[0].revents & POLLIN) {
            ssize_t n = read(to, buf, sizeof buf);
            if (n > 0)
                got.append(buf, size_t(n));
        }
        if (p[1].revents & POLLOUT) {
            ssize_t n = write(from, data.data() + sent, data.size() - sent);
            if (n > 0)
                sent += size_t(n);
        }
        if (sent == data.size() && got.size() >= data.size())
            return got;
    }
}
} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT
    SimFixture sim_;

  private slots:
    void bothDirectionsCarryEveryByte()
    {
        QVERIFY(sim_.board().linkSerial("/dev/ttyS2", "pc-serial"));
        int box = openRaw(sim_.host("/dev/ttyS2"));
        int pc = openRaw(sim_.board().modelDir() + "/pc-serial");
        QVERIFY(box >= 0 && pc >= 0);
        std::string bulk;
        for (int i = 0; i < 300000; ++i)
            bulk.push_back(char(i * 7 + i / 256));
        QVERIFY(carry(box, pc, bulk, 2000) == bulk);
        QVERIFY(carry(pc, box, bulk.substr(0, 5000), 2000) == bulk.substr(0, 5000));
        close(box);
        close(pc);
    }

    void aSideNobodyReadsNeverStallsTheOther()
    {
        QVERIFY(sim_.board().linkSerial("/dev/ttyS1", "pc-modem"));
        int box = openRaw(sim_.host("/dev/ttyS1"));
        QVERIFY(box >= 0);
        const std::string chunk(4096, 'z');
        size_t written = 0;
        while (written < 2 * board::sim::SerialLink::kBacklog) {
            pollfd p{box, POLLOUT, 0};
            QVERIFY2(poll(&p, 1, 2000) == 1, "the box side stalled");
            ssize_t n = write(box, chunk.data(), chunk.size());
            if (n > 0)
                written += size_t(n);
        }
        close(box);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "test_serial_link.moc"
