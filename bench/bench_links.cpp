// Round trips, throughput and idle cost of the wired links of the running
// program on the simulated board, beside a minimal echo server on the same
// loopback as the floor.
//
// Usage: bench_links [path of zevQ64N] [idle seconds, default 60]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/pc_frames.h"
#include "support/net_helpers.h"

using Clock = std::chrono::steady_clock;

namespace
{
// Waits up to ms for what fd has, and feeds one read of it to r; false
// when nothing came.
bool read_some(ReplyReader& r, int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return false;
    u8 buf[65536];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0)
        return false;
    r.feed(buf, size_t(n));
    return true;
}

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
    ReplyReader r;
    for (int i = 0; i < count; ++i) {
        Bytes f = tagged(u8(i));
        auto t0 = Clock::now();
        if (udpTo)
            sendto(fd, f.data(), f.size(), 0, reinterpret_cast<const sockaddr*>(udpTo), sizeof *udpTo);
        else if (write(fd, f.data(), f.size()) != ssize_t(f.size()))
            break;
        size_t want = r.bodies.size() + 1;
        while (r.bodies.size() < want)
            if (!read_some(r, fd, 1000))
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
void report(const char* what, const std::vector<double>& us)
{
    printf("  %-28s median %8.1f us   p99 %8.1f us   (%zu round trips)\n", what, median(us), p99(us), us.size());
}

// Clients each keep window frames in flight for seconds against port;
// frames per second, and whether every reply came back in order.
long pipelined(int port, int clients, double seconds, bool* lost)
{
    const int window = 32;
    std::atomic<long> total{0};
    std::atomic<bool> bad{false};
    std::vector<std::thread> ts;
    for (int c = 0; c < clients; ++c) {
        ts.emplace_back([&] {
            int fd = tcp_connect(port, true);
            ReplyReader r;
            u8 next = 0, expect = 0;
            long sent = 0, got = 0;
            auto end = Clock::now() + std::chrono::duration<double>(seconds);
            while (Clock::now() < end || got < sent) {
                while (sent - got < window && Clock::now() < end) {
                    Bytes f = tagged(next++);
                    if (write(fd, f.data(), f.size()) != ssize_t(f.size()))
                        break;
                    ++sent;
                }
                if (!read_some(r, fd, 2000)) {
                    bad = true;
                    break;
                }
                for (const Bytes& b : r.bodies) {
                    if (tag_of(b) != expect++)
                        bad = true;
                    ++got;
                }
                r.bodies.clear();
            }
            total += got;
            close(fd);
        });
    }
    for (auto& t : ts)
        t.join();
    *lost = bad;
    return total;
}

double thread_cpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// An echo server for any number of clients in one thread, as the floor of
// the pipelined clients; its CPU time is kept in cpu.
void echo_many(int listenFd, std::atomic<bool>* stop, std::atomic<double>* cpu)
{
    std::vector<pollfd> p{{listenFd, POLLIN, 0}};
    u8 buf[65536];
    double c0 = thread_cpu();
    while (!*stop) {
        if (poll(p.data(), nfds_t(p.size()), 100) <= 0)
            continue;
        for (size_t i = p.size(); i-- > 1;) {
            if (!p[i].revents)
                continue;
            ssize_t n = read(p[i].fd, buf, sizeof buf);
            if (n <= 0 || write(p[i].fd, buf, size_t(n)) != n) {
                close(p[i].fd);
                p.erase(p.begin() + long(i));
            }
        }
        if (p[0].revents & POLLIN) {
            int c = accept(listenFd, nullptr, nullptr);
            int on = 1;
            setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            p.push_back({c, POLLIN, 0});
        }
        *cpu = thread_cpu() - c0;
    }
    for (size_t i = 1; i < p.size(); ++i)
        close(p[i].fd);
}

// Threads of the process and the wake-ups (context switches) of all of them.
void threads_and_switches(pid_t pid, int* threads, long* switches)
{
    *threads = 0;
    *switches = 0;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        ++*threads;
        FILE* f = fopen((dir + "/" + e->d_name + "/status").c_str(), "r");
        if (!f)
            continue;
        char line[256];
        while (fgets(line, sizeof line, f)) {
            long v = 0;
            if (sscanf(line, "voluntary_ctxt_switches: %ld", &v) == 1 ||
                sscanf(line, "nonvoluntary_ctxt_switches: %ld", &v) == 1)
                *switches += v;
        }
        fclose(f);
    }
    closedir(d);
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
    int idle = argc > 2 ? atoi(argv[2]) : 60;
    signal(SIGPIPE, SIG_IGN);
    bool ns = own_network();
    printf("links benchmark: %s, network %s\n", program.c_str(), ns ? "of its own" : "shared loopback");

    char root[] = "/tmp/zevbench-XXXXXX";
    if (!mkdtemp(root))
        return 1;
    const auto started = Clock::now();
    pid_t pid = start_program(program, root);
    // Time to the first answer on the control port.
    int fd = -1;
    double firstMs = -1;
    while (Clock::now() - started < std::chrono::seconds(15) && firstMs < 0) {
        if (fd < 0)
            fd = tcp_connect(5005, true);
        if (fd >= 0) {
            std::vector<double> one = round_trips(fd, 1, nullptr);
            if (!one.empty())
                firstMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        } else {
            usleep(5000);
        }
    }
    if (firstMs < 0) {
        printf("the program did not open its links\n");
        kill(pid, SIGKILL);
        return 1;
    }
    printf("port 5005 answered %.0f ms after start\n", firstMs);
    int master = open_pc_serial(root);

    printf("round trip of a register read:\n");
    int ls = bound_socket(SOCK_STREAM);
    listen(ls, 4);
    std::thread et(echo_tcp, ls);
    int ec = tcp_connect(local_port(ls), true);
    report("TCP echo floor", round_trips(ec, 2000, nullptr));
    close(ec);
    et.join();
    close(ls);
    report("TCP 5005", round_trips(fd, 2000, nullptr));
    close(fd);
    fd = tcp_connect(10002, true);
    report("TCP 10002", round_trips(fd, 2000, nullptr));
    close(fd);

    std::atomic<bool> stop{false};
    int us = bound_socket(SOCK_DGRAM);
    std::thread eu(echo_udp, us, &stop);
    int uc = bound_socket(SOCK_DGRAM);
    sockaddr_in echoTo = loopback(local_port(us)), to10005 = loopback(10005);
    report("UDP echo floor", round_trips(uc, 2000, &echoTo));
    report("UDP 10005", round_trips(uc, 2000, &to10005));
    stop = true;
    eu.join();
    close(us);
    close(uc);
    report("serial (pseudo-terminal)", round_trips(master, 300, nullptr));

    printf("pipelined register reads, 32 in flight per client, 3 s each:\n");
    for (int c : {1, 4, 16}) {
        bool lost = false;
        int el = bound_socket(SOCK_STREAM);
        listen(el, 32);
        std::atomic<bool> stopEcho{false};
        std::atomic<double> echoCpu{0};
        std::thread em(echo_many, el, &stopEcho, &echoCpu);
        long floorFrames = pipelined(local_port(el), c, 3.0, &lost);
        stopEcho = true;
        em.join();
        close(el);
        double c0 = cpu_seconds(pid);
        long frames = pipelined(5005, c, 3.0, &lost);
        double c1 = cpu_seconds(pid);
        printf("  %2d client(s): 5005 %8.0f frames/s, %5.2f us CPU/frame;  echo floor %8.0f frames/s, %5.2f us "
               "CPU/frame  %s\n",
               c, double(frames) / 3.0, frames ? 1e6 * (c1 - c0) / double(frames) : 0.0, double(floorFrames) / 3.0,
               floorFrames ? 1e6 * echoCpu.load() / double(floorFrames) : 0.0, lost ? "FRAMES LOST" : "no frame lost");
    }

    // Idle: once the FPGA is up, and 10 s after the last traffic.
    int probe = tcp_connect(10002, true);
    bool up = false;
    for (int i = 0; i < 120 && !up; ++i) {
        Bytes f = wire(with_bcc(request(kFpga, 0xA1, {80, 0xFF, 0, 0})));
        ReplyReader r;
        if (write(probe, f.data(), f.size()) == ssize_t(f.size()) && read_some(r, probe, 1000) && !r.bodies.empty())
            up = r.bodies[0].size() > 11 && r.bodies[0][11] == 3;
        if (!up)
            sleep(1);
    }
    close(probe);
    printf("idle CPU of the whole process over %d s (FPGA %s, 10 s after the last traffic):\n", idle,
           up ? "up" : "NOT up");
    sleep(10);
    int threads = 0;
    long s0 = 0, s1 = 0;
    threads_and_switches(pid, &threads, &s0);
    double c0 = cpu_seconds(pid);
    sleep(unsigned(idle));
    double c1 = cpu_seconds(pid);
    threads_and_switches(pid, &threads, &s1);
    printf("  %.3f s CPU = %.2f %% of one core, %d threads, %.0f wake-ups/s\n", c1 - c0, 100.0 * (c1 - c0) / idle,
           threads, double(s1 - s0) / idle);

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (master >= 0)
        close(master);
    return 0;
}
