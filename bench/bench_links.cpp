// Round trips, throughput and idle cost of the wired links of the running
// program on the simulated board, beside a minimal echo server on the same
// loopback as the floor.
//
// Usage: bench_links [path of zevQ64N] [idle seconds, default 30]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/utils.h"
#include "link/protocol_phy.h"

using Bytes = std::vector<u8>;
using Clock = std::chrono::steady_clock;

namespace
{
bool own_network()
{
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
    up = up && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    if (s >= 0)
        close(s);
    return up;
}

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(u16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int tcp_connect(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// A register read of the box, tagged through register 6's mask byte.
Bytes frame(u8 tag)
{
    Bytes body = {0x00, 0xF1, 0x10, 0xF0, 4, 5, 0, 0, 8, 0xA1, 6, tag, 0, 0};
    body.push_back(Utils::BCC(body.data(), unsigned(body.size())));
    Bytes out(size_t(protocol_phy::escaped_capacity(int(body.size()))));
    out.resize(size_t(
        protocol_phy::data_re_transf_meaning(out.data(), body.data(), int(body.size()), nullptr, int(out.size()))));
    return out;
}

// Reads until count replies arrived; returns their tags (empty on time-out).
struct Reader {
    frame_assembler a{0x40000};
    std::vector<u8> tags;
    bool read_some(int fd, int ms)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            return false;
        u8 buf[65536];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        a.feed(buf, size_t(n), [this](const u8* f, int len) {
            Bytes body(static_cast<size_t>(len));
            u8 end = 0;
            int b = protocol_phy::data_transf_meaning(f, body.data(), len, &end, len);
            tags.push_back(b > 11 ? body[11] : 0xEE);
        });
        return true;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
double p99(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * 99 / 100)];
}

// Round trips of one frame at a time; fd is connected (TCP, UDP) or the
// terminal's master side. Microseconds.
std::vector<double> round_trips(int fd, int count, const sockaddr_in* udpTo)
{
    std::vector<double> us;
    Reader r;
    for (int i = 0; i < count; ++i) {
        Bytes f = frame(u8(i));
        auto t0 = Clock::now();
        if (udpTo)
            sendto(fd, f.data(), f.size(), 0, reinterpret_cast<const sockaddr*>(udpTo), sizeof *udpTo);
        else if (write(fd, f.data(), f.size()) != ssize_t(f.size()))
            break;
        size_t want = r.tags.size() + 1;
        while (r.tags.size() < want)
            if (!r.read_some(fd, 1000))
                return us;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    return us;
}

void echo_tcp(int listenFd)
{
    int c = accept(listenFd, nullptr, nullptr);
    int on = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    u8 buf[65536];
    for (;;) {
        ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0 || write(c, buf, size_t(n)) != n)
            break;
    }
    close(c);
}

void echo_udp(int fd, std::atomic<bool>* stop)
{
    u8 buf[65536];
    while (!*stop) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n > 0)
            sendto(fd, buf, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}

int bound_socket(int type)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}
int port_of(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

void report(const char* what, const std::vector<double>& us)
{
    printf("  %-28s median %8.1f us   p99 %8.1f us   (%zu round trips)\n", what, median(us), p99(us), us.size());
}

// Clients each keep window frames in flight for seconds; frames per second
// and whether every reply came back in order.
void throughput(int clients, double seconds)
{
    const int window = 32;
    std::atomic<long> total{0};
    std::atomic<bool> lost{false};
    std::vector<std::thread> ts;
    for (int c = 0; c < clients; ++c) {
        ts.emplace_back([&] {
            int fd = tcp_connect(5005);
            Reader r;
            u8 next = 0, expect = 0;
            long sent = 0, got = 0;
            auto end = Clock::now() + std::chrono::duration<double>(seconds);
            while (Clock::now() < end || got < sent) {
                while (sent - got < window && Clock::now() < end) {
                    Bytes f = frame(next++);
                    if (write(fd, f.data(), f.size()) != ssize_t(f.size()))
                        break;
                    ++sent;
                }
                if (!r.read_some(fd, 2000)) {
                    lost = true;
                    break;
                }
                for (u8 t : r.tags) {
                    if (t != expect++)
                        lost = true;
                    ++got;
                }
                r.tags.clear();
            }
            total += got;
            close(fd);
        });
    }
    for (auto& t : ts)
        t.join();
    printf("  %2d client(s): %9.0f frames/s   %s\n", clients, double(total) / seconds,
           lost ? "FRAMES LOST" : "no frame lost");
}

double cpu_seconds(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE* f = fopen(path, "r");
    if (!f)
        return 0;
    char buf[1024];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    const char* p = strrchr(buf, ')');
    unsigned long ut = 0, st = 0;
    if (!p || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &ut, &st) != 2)
        return 0;
    return double(ut + st) / double(sysconf(_SC_CLK_TCK));
}
} // namespace

int main(int argc, char** argv)
{
    std::string program = argc > 1 ? argv[1] : "";
    if (program.empty() && getenv("ZEV_PROGRAM"))
        program = getenv("ZEV_PROGRAM");
    if (program.empty()) {
        std::string self = argv[0];
        program = self.substr(0, self.rfind('/') + 1) + "../zevQ64N";
    }
    int idle = argc > 2 ? atoi(argv[2]) : 30;
    signal(SIGPIPE, SIG_IGN);
    bool ns = own_network();
    printf("links benchmark: %s, network %s\n", program.c_str(), ns ? "of its own" : "shared loopback");

    char root[] = "/tmp/zevbench-XXXXXX";
    if (!mkdtemp(root))
        return 1;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return 1;
    std::string dev = std::string(root) + "/dev";
    mkdir(dev.c_str(), 0755);
    if (symlink(ttyname(slave), (dev + "/ttyS2").c_str()) != 0)
        return 1;
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::string rootArg = std::string("--sim-root=") + root;
        execl(program.c_str(), program.c_str(), "--board=sim", rootArg.c_str(), nullptr);
        _exit(127);
    }
    int fd = -1;
    for (int i = 0; i < 300 && fd < 0; ++i) {
        fd = tcp_connect(5005);
        if (fd < 0)
            usleep(50000);
    }
    if (fd < 0) {
        printf("the program did not open its links\n");
        kill(pid, SIGKILL);
        return 1;
    }

    printf("round trip of a register read:\n");
    int ls = bound_socket(SOCK_STREAM);
    listen(ls, 4);
    std::thread et(echo_tcp, ls);
    int ec = tcp_connect(port_of(ls));
    report("TCP echo floor", round_trips(ec, 2000, nullptr));
    close(ec);
    et.join();
    close(ls);
    report("TCP 5005", round_trips(fd, 2000, nullptr));
    close(fd);
    fd = tcp_connect(10002);
    report("TCP 10002", round_trips(fd, 2000, nullptr));
    close(fd);

    std::atomic<bool> stop{false};
    int us = bound_socket(SOCK_DGRAM);
    std::thread eu(echo_udp, us, &stop);
    int uc = bound_socket(SOCK_DGRAM);
    sockaddr_in echoTo = loopback(port_of(us)), to10005 = loopback(10005);
    report("UDP echo floor", round_trips(uc, 2000, &echoTo));
    report("UDP 10005", round_trips(uc, 2000, &to10005));
    stop = true;
    eu.join();
    close(us);
    close(uc);
    report("serial (pseudo-terminal)", round_trips(master, 300, nullptr));

    printf("throughput, TCP 5005, 32 frames in flight per client, 3 s:\n");
    for (int c : {1, 4, 16})
        throughput(c, 3.0);

    printf("idle CPU of the whole process over %d s:\n", idle);
    sleep(1);
    double c0 = cpu_seconds(pid);
    sleep(unsigned(idle));
    double c1 = cpu_seconds(pid);
    printf("  %.3f s CPU = %.2f %% of one core\n", c1 - c0, 100.0 * (c1 - c0) / idle);

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(master);
    close(slave);
    return 0;
}
