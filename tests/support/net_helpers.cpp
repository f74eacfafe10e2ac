#include "net_helpers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/tcp.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <arpa/inet.h>

#include "link/networkmanage.h"
#include "link/udpnetmanage.h"
#include "namespaces.h"

namespace
{
bool write_text(const char* path, const std::string& text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
    return close(fd) == 0 && ok;
}

// A user namespace where the caller keeps its ids, with a network namespace
// it may configure.
bool user_and_network_namespace()
{
    const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
    if (unshare_allowed(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return false;
    // Group mappings are refused until setgroups is; kernels without the
    // file have no such rule.
    if (access("/proc/self/setgroups", F_OK) == 0 && !write_text("/proc/self/setgroups", "deny"))
        return false;
    return write_text("/proc/self/uid_map", uid + " " + uid + " 1\n") &&
           write_text("/proc/self/gid_map", gid + " " + gid + " 1\n");
}

// Set once the program's fixed ports may be used: in a network of this
// program's own, or in the machine's while they were free.
std::atomic<bool> g_guarded{false};

// Binds as the program does: TCP with SO_REUSEADDR (a closing connection
// does not count), UDP without.
bool port_free(int type, int port)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    int on = 1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(u16(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    bool free = (type != SOCK_STREAM || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0) &&
                bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return free;
}
} // namespace

void require_guard(const char* what)
{
    if (g_guarded)
        return;
    std::fprintf(stderr, "%s before network_for_fixed_ports(): it could reach a running zevQ64N\n", what);
    std::abort();
}

bool own_network()
{
    if (unshare_allowed(CLONE_NEWNET) != 0 && !user_and_network_namespace())
        return false;
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0)
        return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
    up = up && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    close(s);
    g_guarded = g_guarded || up;
    return up;
}

bool network_for_fixed_ports(bool* own)
{
    const bool ours = own_network();
    if (own)
        *own = ours;
    if (ours)
        return true;
    // Another VNC server, a desktop's, is as likely as a running zevQ64N.
    const struct {
        int type;
        int port;
        const char* holder;
    } ports[] = {{SOCK_STREAM, g_port, "the running zevQ64N"},
                 {SOCK_STREAM, networkManage::kSecondPort, "the running zevQ64N"},
                 {SOCK_DGRAM, udpnetManage::kPort, "the running zevQ64N"},
                 {SOCK_DGRAM, udpnetManage::kSecondPort, "the running zevQ64N"},
                 {SOCK_DGRAM, udpnetManage::kWifiPort, "the running zevQ64N"},
                 {SOCK_STREAM, kVncPort, "the VNC server on it (a zevQ64N or a desktop's)"}};
    for (const auto& p : ports) {
        if (!port_free(p.type, p.port)) {
            std::fprintf(stderr, "port %d is in use; stop %s or run the tests as root\n", p.port, p.holder);
            return false;
        }
    }
    g_guarded = true;
    return true;
}

sockaddr_in loopback(int port)
{
    require_guard("loopback()");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(u16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int other_program(int type, int port)
{
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_in at = loopback(port);
    const int on = 1;
    if (fd >= 0 && (type == SOCK_DGRAM || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0) &&
        bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0 && (type == SOCK_DGRAM || listen(fd, 16) == 0))
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

bool reached(int other, int type)
{
    char byte;
    const int got = type == SOCK_STREAM ? accept(other, nullptr, nullptr) : int(recv(other, &byte, 1, 0));
    const bool none = got < 0 && errno == EAGAIN;
    if (type == SOCK_STREAM && got >= 0)
        close(got);
    close(other);
    return !none;
}

int tcp_connect(int port, bool no_delay)
{
    require_guard("tcp_connect()");
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a = loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    if (no_delay) {
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

int tcp_connect_within(int port, int ms, bool no_delay)
{
    int fd = tcp_connect(port, no_delay);
    for (int waited = 0; fd < 0 && waited < ms; waited += 50) {
        usleep(50000);
        fd = tcp_connect(port, no_delay);
    }
    return fd;
}

int udp_socket(int port, int flags)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | flags, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(u16(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

int local_port(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

void put(int fd, const std::vector<u8>& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

bool pty_at(const std::string& path, int& master, int& slave)
{
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return false;
    std::string folder = path.substr(0, path.rfind('/'));
    mkdir(folder.c_str(), 0755);
    unlink(path.c_str());
    return symlink(ttyname(slave), path.c_str()) == 0;
}

int open_pc_serial(const std::string& root, const std::string& cable)
{
    int fd = open((root + "/sim/" + cable).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

pid_t start_program(const std::string& program, const std::string& root, const std::string& output,
                    const ProgramStart& how)
{
    require_guard("start_program()");
    std::vector<std::string> args = {program, "--sim-root=" + root};
    if (how.spacedRoot)
        args = {program, "--sim-root", root};
    if (!how.board.empty())
        args.insert(args.begin() + 1, how.board);
    args.insert(args.end(), how.args.begin(), how.args.end());
    std::vector<std::string> changes = {"QT_QPA_PLATFORM=offscreen"};
    changes.insert(changes.end(), how.env.begin(), how.env.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('='));
        env.erase(std::remove_if(env.begin(), env.end(),
                                 [&](const std::string& e) { return e.compare(0, name.size() + 1, name + "=") == 0; }),
                  env.end());
        if (change.size() > name.size())
            env.push_back(change);
    }
    // Everything the child needs is made here: between fork and exec it may
    // not allocate, since another thread of a test (a file watch, a
    // client) may have held the allocator's lock when the process forked.
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (std::string& s : strings)
            out.push_back(s.data());
        out.push_back(nullptr);
        return out;
    };
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    pid_t pid = fork();
    if (pid == 0) {
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
            _exit(125);
        if (how.prepare && !how.prepare())
            _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

pid_t start_serving_program(const std::string& program, const std::string& root, bool no_delay,
                            const std::string& output)
{
    pid_t pid = start_program(program, root, output);
    if (pid <= 0)
        return -1;
    int fd = tcp_connect_within(5005, 15000, no_delay);
    if (fd < 0) {
        stop_program(pid);
        return -1;
    }
    close(fd);
    return pid;
}

void stop_program(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}
