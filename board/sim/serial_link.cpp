#include "board/sim/serial_link.h"
#include "board/log.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

namespace board::sim
{

namespace
{
// How long a full queue waits for its end to read before it is dropped.
constexpr auto kDeaf = std::chrono::milliseconds(1000);

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Bytes waiting to go to one end, and when that end last took some.
struct Queue {
    std::string bytes;
    size_t sent = 0;
    std::chrono::steady_clock::time_point moved;
    size_t size() const { return bytes.size() - sent; }
    bool full() const { return size() >= SerialLink::kBacklog; }
};

// Reads what the source end has while the queue has room.
bool pull(int from, Queue* q)
{
    char buf[4096];
    while (!q->full()) {
        const ssize_t n = ::read(from, buf, sizeof buf);
        if (n > 0) {
            if (q->size() == 0)
                q->moved = std::chrono::steady_clock::now();
            q->bytes.append(buf, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
    return true;
}

bool push(int to, Queue* q)
{
    while (q->size() > 0) {
        const ssize_t n = ::write(to, q->bytes.data() + q->sent, q->size());
        if (n > 0) {
            q->sent += size_t(n);
            q->moved = std::chrono::steady_clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
    q->bytes.clear();
    q->sent = 0;
    return true;
}

// A full queue whose end took nothing for kDeaf: nobody listens there, and
// what waits is dropped so the writing side goes on.
void dropIfDeaf(Queue* q)
{
    if (q->full() && std::chrono::steady_clock::now() - q->moved >= kDeaf) {
        q->bytes.clear();
        q->sent = 0;
    }
}
} // namespace

bool SerialLink::openEnd(const std::string& link, End* end, std::string* error)
{
    end->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (end->master < 0) {
        *error = zevlog::errnoText("posix_openpt");
        return false;
    }
    char name[128];
    if (::grantpt(end->master) != 0 || ::unlockpt(end->master) != 0 ||
        ::ptsname_r(end->master, name, sizeof name) != 0) {
        *error = zevlog::errnoText("pseudo-terminal");
        return false;
    }
    end->slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (end->slave < 0) {
        *error = zevlog::errnoText(name);
        return false;
    }
    // Raw until a user sets its own line: no echo, no line editing.
    termios t{};
    if (::tcgetattr(end->slave, &t) != 0) {
        *error = zevlog::errnoText("tcgetattr");
        return false;
    }
    ::cfmakeraw(&t);
    if (::tcsetattr(end->slave, TCSANOW, &t) != 0) {
        *error = zevlog::errnoText("tcsetattr");
        return false;
    }
    const int flags = ::fcntl(end->master, F_GETFL);
    if (flags < 0 || ::fcntl(end->master, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = zevlog::errnoText("fcntl");
        return false;
    }
    QDir().mkpath(QFileInfo(QString::fromStdString(link)).absolutePath());
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && ::unlink(link.c_str()) != 0) {
        *error = zevlog::errnoText(link.c_str());
        return false;
    }
    if (::symlink(name, link.c_str()) != 0) {
        *error = zevlog::errnoText(link.c_str());
        return false;
    }
    end->link = link;
    return true;
}

std::unique_ptr<SerialLink> SerialLink::create(const std::string& boardLink, const std::string& pcLink,
                                               std::string* error)
{
    std::unique_ptr<SerialLink> l(new SerialLink);
    if (!openEnd(boardLink, &l->board_, error) || !openEnd(pcLink, &l->pc_, error))
        return nullptr;
    if (::pipe2(l->wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = zevlog::errnoText("pipe");
        return nullptr;
    }
    l->thread_ = std::thread(&SerialLink::relay, l.get());
    return l;
}

SerialLink::~SerialLink()
{
    if (thread_.joinable()) {
        stop_ = true;
        const char c = 0;
        if (::write(wake_[1], &c, 1) != 1)
            zevlog::warnErrno(lcBoard(), "serial link: wake");
        thread_.join();
    }
    for (End* e : {&board_, &pc_}) {
        // Only the link this relay made: a newer one may stand there.
        char target[128];
        const ssize_t n = e->link.empty() ? -1 : ::readlink(e->link.c_str(), target, sizeof target - 1);
        if (n > 0 && e->slave >= 0) {
            target[n] = 0;
            const char* own = ::ttyname(e->slave);
            if (own && std::strcmp(own, target) == 0)
                ::unlink(e->link.c_str());
        }
        closeFd(e->slave);
        closeFd(e->master);
    }
    closeFd(wake_[0]);
    closeFd(wake_[1]);
}

void SerialLink::relay()
{
    Queue toPc, toBoard;
    while (!stop_) {
        // A side is read only while its queue has room: a reader that is
        // slow gets every byte, later.
        pollfd fds[3] = {{wake_[0], POLLIN, 0},
                         {board_.master, short((toPc.full() ? 0 : POLLIN) | (toBoard.size() ? POLLOUT : 0)), 0},
                         {pc_.master, short((toBoard.full() ? 0 : POLLIN) | (toPc.size() ? POLLOUT : 0)), 0}};
        // Only a full queue has a deadline; else bytes or the stop's wake
        // byte end the wait.
        const int n = ::poll(fds, 3, toPc.full() || toBoard.full() ? int(kDeaf.count()) / 4 : -1);
        dropIfDeaf(&toPc);
        dropIfDeaf(&toBoard);
        if (n < 0 && errno != EINTR) {
            zevlog::warnErrno(lcBoard(), "serial link: poll");
            return;
        }
        if (n <= 0)
            continue;
        bool ok = true;
        if (fds[1].revents & POLLIN)
            ok = pull(board_.master, &toPc) && ok;
        if (fds[2].revents & POLLIN)
            ok = pull(pc_.master, &toBoard) && ok;
        ok = push(pc_.master, &toPc) && ok;
        ok = push(board_.master, &toBoard) && ok;
        if (!ok) {
            zevlog::warnErrno(lcBoard(), "serial link: relay");
            return;
        }
    }
}

} // namespace board::sim
