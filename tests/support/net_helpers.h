// Sockets and terminals as the PC side of the links uses them, for the link
// tests and the links benchmark.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/types.h>

#include "core/global.h"

// A network namespace of this program's own with its loopback up, so fixed
// ports never collide with another program: a plain one for root, else one
// inside a user namespace where the user keeps their ids; false where the
// machine allows neither. Call before any thread exists: the namespace
// belongs to the calling thread, and a user namespace needs a process of one
// thread.
bool own_network();

// The VNC screen's port, which the guard below counts among the fixed ones.
constexpr int kVncPort = 5900;

// The guard of every test that uses the program's fixed ports (the PC ports
// and kVncPort) or starts the program: own_network(), or else the machine's
// own network while those ports are free there (own tells which). False,
// after one line naming the port that is taken, where the tests would meet
// another program on it. Every connection a test makes aborts unless it or
// own_network() succeeded first (require_guard). ZEV_TEST_NO_NAMESPACES=1
// makes every namespace fail here, as on a machine that allows none.
bool network_for_fixed_ports(bool* own = nullptr);
void require_guard(const char* what);

// The main of a test program that uses the fixed ports or starts the
// program: the guard comes before any thread exists.
#define ZEV_FIXED_PORTS_TEST_MAIN(TestClass)                                                                           \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        if (!network_for_fixed_ports())                                                                                \
            return 1;                                                                                                  \
        QCoreApplication app(argc, argv);                                                                              \
        TestClass t;                                                                                                   \
        return QTest::qExec(&t, argc, argv);                                                                           \
    }

sockaddr_in loopback(int port);

// Another program on port of the loopback, bound as the program binds it
// (TCP listening), non-blocking; -1 when it cannot be.
int other_program(int type, int port);
// Whether a connection or datagram reached other; closes it.
bool reached(int other, int type);

// A TCP connection to port on the loopback, or -1; no_delay sends small
// frames at once instead of gathering them.
int tcp_connect(int port, bool no_delay = false);
// tcp_connect retried every 50 ms for up to ms: the program opens its ports
// only after its start-up.
int tcp_connect_within(int port, int ms, bool no_delay = false);

// A UDP socket bound to port (0: any) on every address; flags are added to
// the socket type (SOCK_NONBLOCK...).
int udp_socket(int port = 0, int flags = 0);
// The port a socket is bound to.
int local_port(int fd);

// Writes all of data, stopping at the first failed write.
void put(int fd, const std::vector<u8>& data);

// A pseudo-terminal whose slave side is linked at path (replacing an old
// link, creating the folder), standing in for a serial port.
bool pty_at(const std::string& path, int& master, int& slave);

// The PC side of one of the running program's serial cables (under "sim/"
// of the data root: "pc-serial" for the RS-485 port, "modem-4g" for the 4G
// modem's), opened raw; -1 when it is not there.
int open_pc_serial(const std::string& root, const std::string& cable = "pc-serial");

// How the program is started beyond its data root.
struct ProgramStart {
    // The board asked for; empty: none, so that ZEV_BOARD chooses.
    std::string board = "--board=sim";
    // More arguments, e.g. "--vnc-listen=::1".
    std::vector<std::string> args;
    // "--sim-root DIR", not "--sim-root=DIR".
    bool spacedRoot = false;
    // Changes to the environment the program inherits, "NAME=value" or
    // "NAME" to remove it; it runs with QT_QPA_PLATFORM=offscreen unless one
    // says otherwise.
    std::vector<std::string> env;
    // Runs in the child before the program does, between fork and exec:
    // calls safe in a signal handler only, nothing that allocates; false
    // stops the child.
    std::function<bool()> prepare;
};

// Starts the built program on the simulated board rooted at root, its output
// and errors going to the file output; the child's pid, or -1.
pid_t start_program(const std::string& program, const std::string& root, const std::string& output = "/dev/null",
                    const ProgramStart& how = {});

// start_program, then waits up to 15 s (its start-up takes 4) until port 5005
// takes a connection; the pid, or -1 with the child ended when it never does.
pid_t start_serving_program(const std::string& program, const std::string& root, bool no_delay = false,
                            const std::string& output = "/dev/null");

// Kills and reaps a program started above; pid becomes -1.
void stop_program(pid_t& pid);
