#include "board/sim/vnc_server.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <rfb/rfb.h>

#include "board/log.h"
#include "board/sim/listen_address.h"

namespace board::sim
{

namespace
{
constexpr int kBacklog = 16;
// Viewers at once; the one connected longest makes room for a new one.
constexpr int kMaxViewers = 16;
// Input waiting to be taken; past it, a viewer's events are dropped.
constexpr size_t kMaxInput = 256;
// How long one viewer may keep the thread waiting in the middle of a
// message or of a picture before it is dropped.
constexpr int kViewerWaitMs = 5000;
// An idle thread still looks round this often.
constexpr int kIdleMs = 60000;
// After a failed accept (no descriptors left) the listener rests this long.
constexpr int kAcceptRestMs = 1000;

// The library's own lines (a viewer came or went, a viewer's fault) are
// debug lines: none of them is the program's error.
void libraryLine(const char* format, ...)
{
    if (!lcBoard().isDebugEnabled())
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    zevlog::debug(lcBoard(), "VNC: %s", line);
}
} // namespace

struct VncServer::Impl {
    Impl(int w, int h) : width(w), height(h), shown(size_t(w) * size_t(h)), next(shown.size()), work(shown.size())
    {
        static std::once_flag once;
        std::call_once(once, [] {
            rfbLog = libraryLine;
            rfbErr = libraryLine;
        });
    }
    ~Impl()
    {
        if (thread.joinable()) {
            stop = true;
            wake();
            thread.join();
        }
        if (screen) {
            rfbShutdownServer(screen, TRUE);
            rfbScreenCleanup(screen);
        }
        if (listenFd >= 0)
            ::close(listenFd);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    std::string listen(const std::string& address, int askedPort);
    bool makeScreen();
    void run();
    bool waitForWork(std::vector<pollfd>& fds, bool& acceptRest);
    void acceptViewers(bool& acceptRest);
    void makeRoom();
    void takeFrame();
    void addInput(const VncInput& in);
    void wake()
    {
        const uint64_t one = 1;
        // A full counter already wakes the thread.
        if (::write(wakeFd, &one, sizeof one) < 0 && errno != EAGAIN)
            zevlog::warnErrno(lcBoard(), "VNC: wake");
    }

    static Impl* of(rfbClientPtr cl) { return static_cast<Impl*>(cl->screen->screenData); }

    const int width;
    const int height;
    // The picture the viewers are sent: the thread's alone.
    std::vector<uint32_t> shown;
    rfbScreenInfoPtr screen = nullptr;
    int listenFd = -1;
    int wakeFd = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::function<void()> inputWaiting;
    std::thread thread;

    // Shared with the owner's threads.
    std::mutex mutex;
    std::vector<uint32_t> next;
    bool nextReady = false;
    std::deque<VncInput> input;
    int lastButtons = 0;
    bool lastIsMove = false;
    // The thread's copy of the last picture handed over.
    std::vector<uint32_t> work;
};

std::string VncServer::Impl::listen(const std::string& address, int askedPort)
{
    sockaddr_storage to;
    socklen_t length = 0;
    if (!parseAddress(address, askedPort, &to, &length))
        return "no IPv4 or IPv6 address";
    listenFd = ::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd < 0)
        return zevlog::errnoText("socket");
    const int on = 1;
    // A restart listens again while the old connections linger.
    if (::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return zevlog::errnoText("setsockopt");
    // "::" is every IPv6 address, never the IPv4 ones too.
    if (to.ss_family == AF_INET6 && ::setsockopt(listenFd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0)
        return zevlog::errnoText("setsockopt");
    if (::bind(listenFd, reinterpret_cast<const sockaddr*>(&to), length) != 0)
        return zevlog::errnoText("bind");
    if (::listen(listenFd, kBacklog) != 0)
        return zevlog::errnoText("listen");
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    if (::getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0)
        return zevlog::errnoText("getsockname");
    port = ntohs(to.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                         : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    return {};
}

bool VncServer::Impl::makeScreen()
{
    screen = rfbGetScreen(nullptr, nullptr, width, height, 8, 3, 4);
    if (!screen)
        return false;
    screen->screenData = this;
    screen->frameBuffer = reinterpret_cast<char*>(shown.data());
    // The pixels as they are held: 0x00RRGGBB words.
    screen->depth = 24;
    screen->serverFormat.depth = 24;
    screen->serverFormat.redShift = 16;
    screen->serverFormat.greenShift = 8;
    screen->serverFormat.blueShift = 0;
    screen->desktopName = "zevQ64N";
    // The listener is this server's own; the library opens none.
    screen->socketState = RFB_SOCKET_READY;
    // Every viewer shares the screen: none can push another off.
    screen->alwaysShared = TRUE;
    // Sent as soon as asked for, and every event passed on at once: nothing
    // is left for a timer.
    screen->deferUpdateTime = 0;
    screen->deferPtrUpdateTime = 0;
    screen->maxClientWait = kViewerWaitMs;
    // A touch screen has no pointer to draw.
    screen->cursor = nullptr;
    screen->kbdAddEvent = [](rfbBool down, rfbKeySym key, rfbClientPtr cl) {
        VncInput in;
        in.kind = VncInput::Key;
        in.keysym = key;
        in.down = down;
        of(cl)->addInput(in);
    };
    screen->ptrAddEvent = [](int buttons, int x, int y, rfbClientPtr cl) {
        Impl* self = of(cl);
        VncInput in;
        in.kind = VncInput::Pointer;
        in.buttons = buttons;
        in.x = std::max(0, std::min(x, self->width - 1));
        in.y = std::max(0, std::min(y, self->height - 1));
        self->addInput(in);
    };
    return true;
}

void VncServer::Impl::run()
{
    // The library writes with write(): a viewer gone is an error to it, not
    // a signal that ends the program.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGPIPE);
    if (const int error = pthread_sigmask(SIG_BLOCK, &blocked, nullptr)) {
        zevlog::warning(lcBoard(), "VNC: not served: pthread_sigmask: %s", std::strerror(error));
        return;
    }
    std::vector<pollfd> fds;
    bool acceptRest = false;
    while (!stop) {
        if (!waitForWork(fds, acceptRest))
            return;
        if (stop)
            return;
        takeFrame();
        if (fds[1].revents & POLLIN)
            acceptViewers(acceptRest);
        // Reads one message of each viewer that sent, sends the pictures
        // asked for, lets go of the viewers gone.
        rfbProcessEvents(screen, 0);
    }
}

// Sleeps until the picture changes, a viewer connects or sends, or the
// bound passes. False when the wait itself fails.
bool VncServer::Impl::waitForWork(std::vector<pollfd>& fds, bool& acceptRest)
{
    fds.clear();
    fds.push_back({wakeFd, POLLIN, 0});
    fds.push_back({acceptRest ? -1 : listenFd, POLLIN, 0});
    rfbClientIteratorPtr it = rfbGetClientIterator(screen);
    while (rfbClientPtr cl = rfbClientIteratorNext(it))
        if (cl->sock != RFB_INVALID_SOCKET && !cl->onHold)
            fds.push_back({cl->sock, POLLIN, 0});
    rfbReleaseClientIterator(it);
    const int ready = ::poll(fds.data(), nfds_t(fds.size()), acceptRest ? kAcceptRestMs : kIdleMs);
    acceptRest = false;
    if (ready < 0 && errno != EINTR) {
        zevlog::warnErrno(lcBoard(), "VNC: poll");
        return false;
    }
    if (ready > 0 && (fds[0].revents & POLLIN)) {
        uint64_t count = 0;
        if (::read(wakeFd, &count, sizeof count) < 0 && errno != EAGAIN)
            zevlog::warnErrno(lcBoard(), "VNC: wake");
    }
    return true;
}

void VncServer::Impl::acceptViewers(bool& acceptRest)
{
    for (int i = 0; i < kBacklog; ++i) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            // Out of descriptors the connection stays queued: rest rather
            // than be woken for it again at once.
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                zevlog::debug(lcBoard(), "VNC: accept: %s", std::strerror(errno));
                acceptRest = true;
            }
            return;
        }
        // The library watches its viewers with select(), which cannot hold
        // a higher descriptor.
        if (fd >= FD_SETSIZE) {
            ::close(fd);
            continue;
        }
        makeRoom();
        // Closes the descriptor itself when the viewer cannot be taken.
        rfbNewClient(screen, fd);
    }
}

void VncServer::Impl::makeRoom()
{
    int count = 0;
    rfbClientPtr oldest = nullptr;
    rfbClientIteratorPtr it = rfbGetClientIterator(screen);
    // Newest first.
    while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
        if (cl->sock == RFB_INVALID_SOCKET)
            continue;
        ++count;
        oldest = cl;
    }
    rfbReleaseClientIterator(it);
    if (count >= kMaxViewers && oldest)
        rfbCloseClient(oldest);
}

void VncServer::Impl::takeFrame()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!nextReady)
            return;
        next.swap(work);
        nextReady = false;
    }
    int top = -1, bottom = -1, left = width, right = -1;
    for (int y = 0; y < height; ++y) {
        const uint32_t* from = work.data() + size_t(y) * size_t(width);
        uint32_t* to = shown.data() + size_t(y) * size_t(width);
        if (std::memcmp(from, to, size_t(width) * sizeof *to) == 0)
            continue;
        int x0 = 0, x1 = width - 1;
        while (from[x0] == to[x0])
            ++x0;
        while (from[x1] == to[x1])
            --x1;
        left = std::min(left, x0);
        right = std::max(right, x1);
        if (top < 0)
            top = y;
        bottom = y;
        std::memcpy(to + x0, from + x0, size_t(x1 - x0 + 1) * sizeof *to);
    }
    if (top >= 0)
        rfbMarkRectAsModified(screen, left, top, right + 1, bottom + 1);
}

void VncServer::Impl::addInput(const VncInput& in)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        // A move follows a move: only where the pointer went last counts.
        const bool move = in.kind == VncInput::Pointer && in.buttons == lastButtons;
        if (in.kind == VncInput::Pointer)
            lastButtons = in.buttons;
        if (move && lastIsMove && !input.empty()) {
            input.back() = in;
            return;
        }
        if (input.size() >= kMaxInput)
            return;
        input.push_back(in);
        lastIsMove = move;
        if (input.size() > 1)
            return;
    }
    if (inputWaiting)
        inputWaiting();
}

VncServer::VncServer(int width, int height) : impl_(std::make_unique<Impl>(width, height)) {}

VncServer::~VncServer() = default;

std::string VncServer::start(const std::string& address, int port, std::function<void()> inputWaiting)
{
    Impl& s = *impl_;
    if (s.thread.joinable())
        return "already serving";
    s.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.wakeFd < 0)
        return zevlog::errnoText("eventfd");
    std::string error = s.listen(address, port);
    if (!error.empty())
        return error;
    if (!s.makeScreen())
        return "the VNC screen could not be made";
    s.inputWaiting = std::move(inputWaiting);
    s.thread = std::thread([&s] { s.run(); });
    return {};
}

int VncServer::port() const
{
    return impl_->port;
}

void VncServer::setFrame(const uint32_t* pixels, int stride)
{
    Impl& s = *impl_;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        for (int y = 0; y < s.height; ++y)
            std::memcpy(s.next.data() + size_t(y) * size_t(s.width), pixels + size_t(y) * size_t(stride),
                        size_t(s.width) * sizeof *pixels);
        s.nextReady = true;
    }
    if (s.wakeFd >= 0)
        s.wake();
}

std::vector<VncInput> VncServer::takeInput()
{
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mutex);
    std::vector<VncInput> taken(s.input.begin(), s.input.end());
    s.input.clear();
    return taken;
}

} // namespace board::sim
