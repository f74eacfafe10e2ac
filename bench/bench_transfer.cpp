// A 1 MiB file sent to the running program on the simulated board in 16 KiB
// blocks over TCP, one block at a time as the PC tool sends them, beside a
// closed-loop acknowledging server on the same loopback as the floor: it
// cuts each frame at its end byte and answers it at once with an
// acknowledgement as long as the program's. Both servers run on the same two
// processors and the client on another one. Program and floor take turns
// within each run; each run gives the ratio of their median times for the
// start and the blocks, and the median time of the program's end request
// (the digest check, the file written, flushed to the disk and compared).
// Last, the program's resident memory before the first transfer and after
// the first and the last.
//
// Usage: bench_transfer [path of zevQ64N] [transfers per run, default 20]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>

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
constexpr size_t kFileSize = 1 << 20;
constexpr size_t kBlock = 16 << 10;

double ms_since(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The frames of one transfer, on the wire.
struct Transfer {
    Bytes start;
    std::vector<Bytes> blocks;
    Bytes end;
};

Transfer frames(const Bytes& file)
{
    Transfer t;
    t.start = wire(with_bcc(start_req("OSDS", 0, u32(file.size()))));
    for (size_t at = 0; at < file.size(); at += kBlock) {
        const Bytes part(file.begin() + long(at), file.begin() + long(std::min(file.size(), at + kBlock)));
        t.blocks.push_back(wire(with_bcc(block_req(u32(at), part, u32(part.size())))));
    }
    t.end = wire(with_bcc(end_req(digest_of(file))));
    return t;
}

// Sends one frame and waits for its reply; the reply's bytes from the
// status on, empty when none came.
Bytes exchange(int fd, const Bytes& frame)
{
    if (write(fd, frame.data(), frame.size()) != ssize_t(frame.size()))
        return {};
    std::vector<Bytes> r = replies(fd, 1, 5000);
    return r.empty() || r[0].size() < 12 ? Bytes() : Bytes(r[0].begin() + 10, r[0].end() - 1);
}

// One transfer, closed loop: the time of its start and blocks and that of
// its end request (ms); false when a reply was missing or refused.
bool send(int fd, const Transfer& t, double* blocks, double* end)
{
    const auto t0 = Clock::now();
    bool ok = exchange(fd, t.start) == Bytes{0, 1, 0};
    for (const Bytes& b : t.blocks)
        ok = ok && exchange(fd, b) == Bytes{0, 2};
    *blocks = ms_since(t0);
    const auto t1 = Clock::now();
    ok = ok && exchange(fd, t.end) == Bytes{0, 3, 0};
    *end = ms_since(t1);
    return ok;
}

// The floor: answers every frame, cut at its end byte, with a fixed reply
// shaped like the program's (the status bytes of the request's kind).
// The servers (the program and the floor) share two processors and the
// client has a third, so that neither server profits from running beside
// the client; empty sets where the machine has fewer.
cpu_set_t g_servers, g_client;

bool choose_processors()
{
    cpu_set_t allowed;
    CPU_ZERO(&g_servers);
    CPU_ZERO(&g_client);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 3)
        return false;
    // The last three: the first ones take most of the machine's interrupts.
    int taken = 0;
    for (int c = CPU_SETSIZE - 1; c >= 0 && taken < 3; --c) {
        if (!CPU_ISSET(c, &allowed))
            continue;
        CPU_SET(c, taken == 0 ? &g_client : &g_servers);
        ++taken;
    }
    return true;
}

void pin(pid_t who, const cpu_set_t& set)
{
    if (CPU_COUNT(&set) > 0)
        sched_setaffinity(who, sizeof set, &set);
}

void floor_server(int listenFd)
{
    pin(0, g_servers);
    int c = accept(listenFd, nullptr, nullptr);
    int on = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::vector<u8> buf(1 << 17);
    std::vector<u8> frame;
    for (;;) {
        ssize_t n = read(c, buf.data(), buf.size());
        if (n <= 0)
            break;
        const u8* p = buf.data();
        const u8* e = p + n;
        while (p < e) {
            const u8* stop = static_cast<const u8*>(std::memchr(p, pc::kEnd, size_t(e - p)));
            const u8* to = stop ? stop + 1 : e;
            frame.insert(frame.end(), p, to);
            p = to;
            if (!stop)
                continue;
            // Sub-command at body offset 10: three start bytes before it.
            const u8 sub = frame.size() > 13 ? frame[13] : 0;
            Bytes rest = sub == 2 ? Bytes{0, 2} : Bytes{0, sub, 0};
            Bytes reply = wire(with_bcc(cat({{0x10, 0xF0, 0x00, 0xF1, 4, 5, 0, 0, 8, 0xC0}, rest})));
            if (write(c, reply.data(), reply.size()) != ssize_t(reply.size()))
                return;
            frame.clear();
        }
    }
    close(c);
}

long resident_kib(pid_t pid)
{
    std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* f = fopen(path.c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    fclose(f);
    return kib;
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
    const int turns = argc > 2 ? std::max(1, atoi(argv[2])) : 20;
    signal(SIGPIPE, SIG_IGN);
    bool ns = false;
    if (!network_for_fixed_ports(&ns))
        return 1;
    printf("transfer benchmark: %s, network %s\n", program.c_str(), ns ? "of its own" : "shared loopback");

    char root[] = "/tmp/zevbench-XXXXXX";
    if (!mkdtemp(root))
        return 1;
    const bool pinned = choose_processors();
    // The program and all its threads inherit the servers' processors.
    pin(0, g_servers);
    pid_t pid = start_program(program, root);
    pin(0, g_client);
    int fd = tcp_connect_within(5005, 15000, true);
    if (fd < 0) {
        printf("the program did not open its links\n");
        kill(pid, SIGKILL);
        return 1;
    }

    Bytes file(kFileSize);
    std::mt19937 random(31);
    for (u8& b : file)
        b = u8(random());
    const Transfer t = frames(file);

    int ls = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any = loopback(0);
    bind(ls, reinterpret_cast<sockaddr*>(&any), sizeof any);
    listen(ls, 1);
    std::thread floor(floor_server, ls);
    int ffd = tcp_connect(local_port(ls), true);

    // Resident memory once start-up is over (the home page comes 4 s after
    // the start), then around the transfers.
    sleep(6);
    const long before = resident_kib(pid);
    double blocks = 0, end = 0;
    send(fd, t, &blocks, &end);
    send(ffd, t, &blocks, &end);
    sleep(1);
    const long first = resident_kib(pid);

    printf("1 MiB in %zu blocks of 16 KiB, %d transfers per run, %s:\n", t.blocks.size(), turns,
           pinned ? "servers on two processors, the client on a third" : "processors not chosen (fewer than 3)");
    std::vector<double> ratios, ends;
    bool failed = false;
    for (int r = 0; r < 3; ++r) {
        std::vector<double> prog, flo, endRun;
        for (int i = 0; i < turns; ++i) {
            double a = 0, b = 0, e = 0;
            failed = !send(ffd, t, &b, &e) || failed;
            failed = !send(fd, t, &a, &e) || failed;
            flo.push_back(b);
            prog.push_back(a);
            endRun.push_back(e);
        }
        const double ratio = median(flo) / median(prog);
        ratios.push_back(ratio);
        ends.push_back(median(endRun));
        printf("  run %d: start and blocks %6.2f ms (%6.1f MB/s), floor %6.2f ms: %.2fx of the floor; end request "
               "%.2f ms\n",
               r + 1, median(prog), kFileSize / 1e3 / median(prog), median(flo), ratio, median(endRun));
    }
    sleep(1);
    const long after = resident_kib(pid);
    std::sort(ratios.begin(), ratios.end());
    std::sort(ends.begin(), ends.end());
    printf("transfer speed / floor: min %.2fx, median %.2fx, max %.2fx%s\n", ratios[0], ratios[1], ratios[2],
           failed ? "  (SOME TRANSFERS FAILED)" : "");
    printf("end request: min %.2f ms, median %.2f ms, max %.2f ms\n", ends[0], ends[1], ends[2]);
    printf("resident memory: %ld KiB before the first transfer, %+ld KiB after it, %+ld KiB after the last\n", before,
           first - before, after - before);

    close(ffd);
    floor.join();
    close(ls);
    close(fd);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::string rm = std::string("rm -rf ") + root;
    return system(rm.c_str()) == 0 && !failed ? 0 : 1;
}
