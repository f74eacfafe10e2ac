// Round trips, throughput, CPU per frame and idle cost of the wired links of
// the running program on the simulated board, each beside its floor: an echo
// server on the same loopback for the links, an empty Qt program with only
// the two 50 ms pollers the box needs (the FPGA worker's pass, the input
// check) for the idle cost.
//
// A target and its floor take short turns one after the other, and a figure
// is the min / median / max of the ratios of the turn pairs, so a machine
// that is busy for a while spoils some turns, not a whole comparison.
//
// Usage: bench_links [--pin=SERVER[,CLIENT]] [path of zevQ64N] [idle seconds, default 60]
//   --pin  the program and every floor run on CPU SERVER, the benchmark's
//          clients on CPU CLIENT (default: the CPU after SERVER).
// bench_links --idle-floor is the idle floor itself.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>

#include "link/pc_frames.h"
#include "support/net_helpers.h"

using Clock = std::chrono::steady_clock;

namespace
{
// CPUs asked for with --pin; -1: not pinned.
int g_server_cpu = -1;
int g_client_cpu = -1;

void pin(pthread_t thread, int cpu)
{
    if (cpu < 0)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (pthread_setaffinity_np(thread, sizeof set, &set) != 0)
        fprintf(stderr, "cannot pin to CPU %d\n", cpu);
}

// A thread of the server side.
template <typename F> std::thread server_thread(F&& f)
{
    std::thread t(std::forward<F>(f));
    pin(t.native_handle(), g_server_cpu);
    return t;
}

struct Spread {
    double min = 0, median = 0, max = 0;
};
Spread spread(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}
double median(const std::vector<double>& v)
{
    return spread(v).median;
}
double p99(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * 99 / 100)];
}
void report_ratio(const char* what, const std::vector<double>& ratios)
{
    Spread s = spread(ratios);
    printf("    %-34s x%.2f / x%.2f / x%.2f  (min / median / max of %zu turn pairs)\n", what, s.min, s.median, s.max,
           ratios.size());
}

double seconds(const timespec& t)
{
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
double thread_cpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return seconds(t);
}
// CPU seconds of a whole process, every thread it ever had included.
double process_cpu(pid_t pid)
{
    clockid_t c;
    timespec t{};
    if (clock_getcpuclockid(pid, &c) != 0 || clock_gettime(c, &t) != 0)
        return 0;
    return seconds(t);
}

// Threads of the process and the wake-ups (context switches) of all of them.
long switches(pid_t pid, int* threads)
{
    long total = 0;
    *threads = 0;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d)
        return 0;
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
                total += v;
        }
        fclose(f);
    }
    closedir(d);
    return total;
}

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

// Round trips of one frame at a time; fd is connected (TCP), a UDP socket
// sending to udpTo, or the terminal's master side. Microseconds.
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

int bound_socket(int type)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

// Echo servers: one TCP client, any number of TCP clients, UDP. Each keeps
// its thread's CPU time in cpu.
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

void echo_many(int listenFd, std::atomic<bool>* stop, std::atomic<double>* cpu)
{
    std::vector<pollfd> p{{listenFd, POLLIN, 0}};
    u8 buf[65536];
    double c0 = thread_cpu();
    while (!*stop) {
        if (poll(p.data(), nfds_t(p.size()), 100) > 0) {
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
        }
        *cpu = thread_cpu() - c0;
    }
    for (size_t i = 1; i < p.size(); ++i)
        close(p[i].fd);
}

void echo_udp(int fd, std::atomic<bool>* stop, std::atomic<double>* cpu)
{
    u8 buf[65536];
    double c0 = thread_cpu();
    while (!*stop) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n > 0)
                sendto(fd, buf, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
        *cpu = thread_cpu() - c0;
    }
}

// Alternating turns of round trips against the floor and the target.
void compare_round_trips(const char* what, const std::function<std::vector<double>(int)>& floor,
                         const std::function<std::vector<double>(int)>& target)
{
    const int turns = 10, perTurn = 200;
    std::vector<double> all, floorAll, ratios;
    for (int t = 0; t < turns; ++t) {
        std::vector<double> f = floor(perTurn), g = target(perTurn);
        if (f.empty() || g.empty())
            continue;
        ratios.push_back(median(g) / median(f));
        all.insert(all.end(), g.begin(), g.end());
        floorAll.insert(floorAll.end(), f.begin(), f.end());
    }
    printf("  %s: median %.1f us, p99 %.1f us; echo floor median %.1f us\n", what, median(all), p99(all),
           median(floorAll));
    report_ratio("round trip / floor", ratios);
}

// Clients each keep window frames in flight for seconds against a TCP port;
// frames answered, and whether every reply came back in order.
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
    *lost = *lost || bad;
    return total;
}

// One client keeps window datagrams in flight for seconds; replies counted
// (a lost one is sent again after a quiet 200 ms).
long udp_window(const sockaddr_in& to, int window, double seconds)
{
    int fd = bound_socket(SOCK_DGRAM);
    long got = 0;
    int inFlight = 0;
    u8 tag = 0, buf[2048];
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        for (; inFlight < window; ++inFlight) {
            Bytes f = tagged(tag++);
            sendto(fd, f.data(), f.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) {
            inFlight = 0;
            continue;
        }
        while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
            ++got;
            --inFlight;
        }
    }
    close(fd);
    return got;
}

// Alternating turns of 1 s against the floor (whose thread keeps its CPU
// time in floorCpu) and the program, each giving the frames answered.
void compare_throughput(const char* what, int turns, pid_t pid, const std::atomic<double>& floorCpu,
                        const std::function<long()>& floor, const std::function<long()>& target)
{
    std::vector<double> cpuRatios, rateRatios;
    double cpuAll = 0, floorCpuAll = 0;
    long framesAll = 0, floorAll = 0;
    for (int t = 0; t < turns; ++t) {
        const double e0 = floorCpu;
        const long floorFrames = floor();
        const double fc = floorCpu - e0;
        const double c0 = process_cpu(pid);
        const long frames = target();
        const double cpu = process_cpu(pid) - c0;
        if (!frames || !floorFrames || fc <= 0)
            continue;
        cpuRatios.push_back((cpu / double(frames)) / (fc / double(floorFrames)));
        rateRatios.push_back(double(frames) / double(floorFrames));
        cpuAll += cpu;
        floorCpuAll += fc;
        framesAll += frames;
        floorAll += floorFrames;
    }
    printf("  %-12s %8.0f frames/s, %5.2f us CPU/frame; echo floor %8.0f frames/s, %5.2f us CPU/frame\n", what,
           double(framesAll) / turns, framesAll ? 1e6 * cpuAll / double(framesAll) : 0.0, double(floorAll) / turns,
           floorAll ? 1e6 * floorCpuAll / double(floorAll) : 0.0);
    report_ratio("CPU per frame / floor", cpuRatios);
    report_ratio("frames per second / floor", rateRatios);
}

// The idle floor: an empty Qt program with two 50 ms pollers, one waiting
// on a condition as the FPGA worker does, one sleeping as the input check.
int idle_floor(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::thread worker([] {
        std::mutex m;
        std::condition_variable wake;
        std::unique_lock<std::mutex> lock(m);
        for (;;)
            wake.wait_for(lock, std::chrono::milliseconds(50));
    });
    std::thread inputs([] {
        for (;;)
            usleep(50 * 1000);
    });
    worker.detach();
    inputs.detach();
    return app.exec();
}

// Starts a child: the program on the simulated board, or this benchmark as
// the idle floor; on the server CPU when pinned.
pid_t start_pinned(const std::function<pid_t()>& start)
{
    cpu_set_t own;
    sched_getaffinity(0, sizeof own, &own);
    if (g_server_cpu >= 0)
        pin(pthread_self(), g_server_cpu);
    pid_t pid = start();
    sched_setaffinity(0, sizeof own, &own);
    return pid;
}

bool fpga_up(int port)
{
    int probe = tcp_connect(port, true);
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
    return up;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--idle-floor") == 0)
        return idle_floor(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0].rfind("--pin=", 0) == 0) {
        const char* s = args[0].c_str() + 6;
        g_server_cpu = atoi(s);
        const char* comma = strchr(s, ',');
        g_client_cpu = comma ? atoi(comma + 1) : g_server_cpu + 1;
        args.erase(args.begin());
    }
    std::string program = !args.empty() ? args[0] : "";
    if (program.empty() && getenv("ZEV_PROGRAM"))
        program = getenv("ZEV_PROGRAM");
    const std::string self = argv[0];
    if (program.empty())
        program = self.substr(0, self.rfind('/') + 1) + "../zevQ64N";
    const int idle = args.size() > 1 ? atoi(args[1].c_str()) : 60;
    signal(SIGPIPE, SIG_IGN);
    bool ns = false;
    if (!network_for_fixed_ports(&ns))
        return 1;
    printf("links benchmark: %s, network %s, ", program.c_str(), ns ? "of its own" : "shared loopback");
    if (g_server_cpu >= 0)
        printf("program and floors on CPU %d, clients on CPU %d\n", g_server_cpu, g_client_cpu);
    else
        printf("not pinned\n");

    char root[] = "/tmp/zevbench-XXXXXX";
    if (!mkdtemp(root))
        return 1;
    const auto started = Clock::now();
    pid_t pid = start_pinned([&] { return start_program(program, root); });
    pin(pthread_self(), g_client_cpu);
    // Time to the first answer on the control port.
    int fd = -1;
    double firstMs = -1;
    while (Clock::now() - started < std::chrono::seconds(15) && firstMs < 0) {
        if (fd < 0)
            fd = tcp_connect(5005, true);
        if (fd >= 0) {
            if (!round_trips(fd, 1, nullptr).empty())
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

    printf("round trip of a register read, turns of 200 against the floor and the port:\n");
    int ls = bound_socket(SOCK_STREAM);
    listen(ls, 4);
    std::thread et = server_thread([ls] { echo_tcp(ls); });
    int ec = tcp_connect(local_port(ls), true);
    int fd10002 = tcp_connect(10002, true);
    auto tcpFloor = [ec](int n) { return round_trips(ec, n, nullptr); };
    compare_round_trips("TCP 5005", tcpFloor, [fd](int n) { return round_trips(fd, n, nullptr); });
    compare_round_trips("TCP 10002", tcpFloor, [fd10002](int n) { return round_trips(fd10002, n, nullptr); });
    close(ec);
    et.join();
    close(ls);
    close(fd);
    close(fd10002);

    std::atomic<bool> stop{false};
    std::atomic<double> udpEchoCpu{0};
    int us = bound_socket(SOCK_DGRAM);
    std::thread eu = server_thread([&] { echo_udp(us, &stop, &udpEchoCpu); });
    int uc = bound_socket(SOCK_DGRAM);
    const sockaddr_in echoTo = loopback(local_port(us)), to10005 = loopback(10005);
    compare_round_trips(
        "UDP 10005", [&](int n) { return round_trips(uc, n, &echoTo); },
        [&](int n) { return round_trips(uc, n, &to10005); });
    close(uc);
    int master = open_pc_serial(root);
    std::vector<double> serial = round_trips(master, 300, nullptr);
    printf("  serial (pseudo-terminal): median %.1f us, p99 %.1f us (%zu round trips, no floor)\n", median(serial),
           p99(serial), serial.size());

    printf("UDP 10005, one client, turns of 1 s:\n");
    for (int window : {1, 32}) {
        const std::string what = std::to_string(window) + " in flight";
        compare_throughput(
            what.c_str(), 6, pid, udpEchoCpu, [&] { return udp_window(echoTo, window, 1.0); },
            [&] { return udp_window(to10005, window, 1.0); });
    }
    stop = true;
    eu.join();
    close(us);

    printf("pipelined register reads on 5005, 32 in flight per client, turns of 1 s:\n");
    for (int c : {1, 4, 16}) {
        bool lost = false;
        int el = bound_socket(SOCK_STREAM);
        listen(el, 32);
        std::atomic<bool> stopEcho{false};
        std::atomic<double> echoCpu{0};
        std::thread em = server_thread([&] { echo_many(el, &stopEcho, &echoCpu); });
        const std::string what = std::to_string(c) + " client(s)";
        compare_throughput(
            what.c_str(), 3, pid, echoCpu, [&] { return pipelined(local_port(el), c, 1.0, &lost); },
            [&] { return pipelined(5005, c, 1.0, &lost); });
        printf("    %s\n", lost ? "FRAMES LOST" : "no frame lost");
        stopEcho = true;
        em.join();
        close(el);
    }

    // Idle: once the FPGA is up and 10 s after the last traffic, beside the
    // idle floor started at the same time.
    const bool up = fpga_up(10002);
    pid_t floor = start_pinned([&] {
        pid_t p = fork();
        if (p == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            execl(self.c_str(), self.c_str(), "--idle-floor", nullptr);
            _exit(127);
        }
        return p;
    });
    const int slices = std::max(1, idle / 10);
    const int slice = std::max(1, idle / slices);
    printf("idle over %d s in slices of %d s (FPGA %s, 10 s after the last traffic), beside an empty Qt program with "
           "two 50 ms pollers:\n",
           slices * slice, slice, up ? "up" : "NOT up");
    sleep(10);
    int threads = 0, floorThreads = 0;
    std::vector<double> ratios;
    double cpuAll = 0, floorCpuAll = 0;
    const long s0 = switches(pid, &threads), f0 = switches(floor, &floorThreads);
    for (int i = 0; i < slices; ++i) {
        const double c0 = process_cpu(pid), d0 = process_cpu(floor);
        sleep(unsigned(slice));
        const double c = process_cpu(pid) - c0, d = process_cpu(floor) - d0;
        cpuAll += c;
        floorCpuAll += d;
        if (d > 0)
            ratios.push_back(c / d);
    }
    const long s1 = switches(pid, &threads), f1 = switches(floor, &floorThreads);
    const double window = double(slices * slice);
    printf("  program: %.3f s CPU = %.3f %% of one core, %d threads, %.1f wake-ups/s\n", cpuAll,
           100.0 * cpuAll / window, threads, double(s1 - s0) / window);
    printf("  floor:   %.3f s CPU = %.3f %% of one core, %d threads, %.1f wake-ups/s\n", floorCpuAll,
           100.0 * floorCpuAll / window, floorThreads, double(f1 - f0) / window);
    report_ratio("CPU / floor", ratios);

    kill(floor, SIGKILL);
    waitpid(floor, nullptr, 0);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (master >= 0)
        close(master);
    return 0;
}
