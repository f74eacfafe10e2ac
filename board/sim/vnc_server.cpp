#include "board/sim/vnc_server.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
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
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <rfb/rfb.h>

#include "board/log.h"
#include "board/sim/listen_address.h"
#include "board/sim/vnc_filter.h"

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
// picture, or stay in the middle of a message, before it is dropped.
constexpr int kViewerWaitMs = 5000;
// Messages of one viewer taken in one pass, and reads of a message thrown
// away: one viewer sending without end cannot keep the others waiting.
constexpr int kViewerMessagesAPass = 16;
constexpr int kDropReads = 16;
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

using Clock = std::chrono::steady_clock;

// What the server keeps of a viewer beside the library.
struct Viewer {
    // Bytes still to throw away of a dropped message.
    uint64_t skip = 0;
    // The socket's low mark: the bytes the message begun needs.
    int lowMark = 1;
    // In the middle of a message since then.
    bool partial = false;
    Clock::time_point since;
};

Viewer& viewerOf(rfbClientPtr cl)
{
    return *static_cast<Viewer*>(cl->clientData);
}
} // namespace

struct VncServer::Impl {
    Impl(int w, int h)
        : width(w), height(h), shown(size_t(w) * size_t(h)), spare(shown.size()), scratch(65536), next(shown.size())
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
    void acceptViewer(bool& acceptRest);
    void makeRoom();
    void readViewers(const std::vector<pollfd>& fds);
    bool readViewer(rfbClientPtr cl);
    bool setLowMark(rfbClientPtr cl, uint64_t bytes);
    bool discard(rfbClientPtr cl);
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
    // The picture the viewers are sent, the library's frame buffer, and the
    // one before it: the thread's alone.
    std::vector<uint32_t> shown;
    std::vector<uint32_t> spare;
    // Where dropped messages are read to.
    std::vector<char> scratch;
    // The viewers polled in the last wait, in the order of their entries.
    std::vector<rfbClientPtr> polled;
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
            acceptViewer(acceptRest);
        readViewers(fds);
        // The library reads nothing itself (the viewers' sockets are not in
        // its set): it sends the pictures asked for and lets go of the
        // viewers gone.
        rfbProcessEvents(screen, 0);
    }
}

// Sleeps until the picture changes, a viewer connects or sends (the whole
// message it began), a viewer has been in the middle of a message too long,
// or the bound passes. False when the wait itself fails.
bool VncServer::Impl::waitForWork(std::vector<pollfd>& fds, bool& acceptRest)
{
    fds.clear();
    polled.clear();
    fds.push_back({wakeFd, POLLIN, 0});
    fds.push_back({acceptRest ? -1 : listenFd, POLLIN, 0});
    const Clock::time_point now = Clock::now();
    int waitMs = acceptRest ? kAcceptRestMs : kIdleMs;
    rfbClientIteratorPtr it = rfbGetClientIterator(screen);
    while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
        if (cl->sock == RFB_INVALID_SOCKET || cl->onHold)
            continue;
        const Viewer& v = viewerOf(cl);
        if (v.partial) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                v.since + std::chrono::milliseconds(kViewerWaitMs) - now);
            waitMs = std::min(waitMs, int(std::max<int64_t>(0, left.count()) + 1));
        }
        fds.push_back({cl->sock, POLLIN, 0});
        polled.push_back(cl);
    }
    rfbReleaseClientIterator(it);
    const int ready = ::poll(fds.data(), nfds_t(fds.size()), waitMs);
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

// One new viewer a pass: the library keeps the thread up to 100 ms with
// each (it waits for a web greeting), and the viewers already in go on
// between two.
void VncServer::Impl::acceptViewer(bool& acceptRest)
{
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        // Out of descriptors the connection stays queued: rest rather than
        // be woken for it again at once.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
            zevlog::debug(lcBoard(), "VNC: accept: %s", std::strerror(errno));
            acceptRest = true;
        }
        return;
    }
    // The library watches its viewers with select(), which cannot hold a
    // higher descriptor.
    if (fd >= FD_SETSIZE) {
        ::close(fd);
        return;
    }
    makeRoom();
    // Closes the descriptor itself when the viewer cannot be taken.
    rfbClientPtr cl = rfbNewClient(screen, fd);
    if (!cl)
        return;
    cl->clientData = new Viewer;
    cl->clientGoneHook = [](rfbClientPtr gone) { delete &viewerOf(gone); };
    // Only this server reads the viewer's messages.
    if (cl->sock != RFB_INVALID_SOCKET)
        FD_CLR(cl->sock, &screen->allFds);
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

// The whole messages each viewer sent, as the library would read them; drops
// the viewers in the middle of a message for too long. The viewers polled
// are all still in the library's list: it lets go of them only in
// rfbProcessEvents.
void VncServer::Impl::readViewers(const std::vector<pollfd>& fds)
{
    const Clock::time_point now = Clock::now();
    for (size_t i = 0; i < polled.size(); ++i) {
        rfbClientPtr cl = polled[i];
        // Closed meanwhile to make room.
        if (cl->sock != fds[i + 2].fd)
            continue;
        for (int n = 0; fds[i + 2].revents && n < kViewerMessagesAPass && readViewer(cl); ++n)
            ;
        if (cl->sock != RFB_INVALID_SOCKET && viewerOf(cl).partial &&
            now - viewerOf(cl).since >= std::chrono::milliseconds(kViewerWaitMs)) {
            zevlog::debug(lcBoard(), "VNC: a viewer stayed in the middle of a message");
            rfbCloseClient(cl);
        }
    }
}

// One message of the viewer; true when it was taken whole and the viewer
// is still there.
bool VncServer::Impl::readViewer(rfbClientPtr cl)
{
    Viewer& v = viewerOf(cl);
    if (v.skip > 0)
        return discard(cl);
    // What is in of the message; how much is in all only matters when it
    // fills the head.
    uint8_t head[kViewerHeadBytes];
    const ssize_t count = ::recv(cl->sock, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
    int waiting = int(std::max<ssize_t>(count, 0));
    if (count == ssize_t(sizeof head) && ::ioctl(cl->sock, FIONREAD, &waiting) != 0) {
        rfbCloseClient(cl);
        return false;
    }
    if (count <= 0) {
        // Gone, or nothing after all.
        if (count == 0 || (errno != EAGAIN && errno != EINTR))
            rfbCloseClient(cl);
        return false;
    }
    ViewerMessage m;
    if (cl->state == rfbClientRec::RFB_NORMAL) {
        m = checkViewerMessage(head, size_t(count), size_t(waiting), width, height);
    } else {
        // The greeting's answers: the protocol version, then one byte each.
        m.length = cl->state == rfbClientRec::RFB_PROTOCOL_VERSION ? sz_rfbProtocolVersionMsg : 1;
        m.verdict = uint64_t(waiting) >= m.length ? ViewerMessage::Pass : ViewerMessage::Incomplete;
    }
    if (m.verdict == ViewerMessage::Close) {
        zevlog::debug(lcBoard(), "VNC: a viewer sent a message the panel does not take (type %u)", head[0]);
        rfbCloseClient(cl);
        return false;
    }
    if (m.verdict == ViewerMessage::Incomplete) {
        if (!v.partial) {
            v.partial = true;
            v.since = Clock::now();
        }
        if (!setLowMark(cl, m.length))
            rfbCloseClient(cl);
        return false;
    }
    v.partial = false;
    if (!setLowMark(cl, 1)) {
        rfbCloseClient(cl);
        return false;
    }
    if (m.verdict == ViewerMessage::Drop) {
        v.skip = m.length;
        return discard(cl);
    }
    rfbProcessClientMessage(cl);
    return cl->sock != RFB_INVALID_SOCKET;
}

// The socket reports itself readable once that many bytes are in.
bool VncServer::Impl::setLowMark(rfbClientPtr cl, uint64_t bytes)
{
    Viewer& v = viewerOf(cl);
    const int mark = int(std::min<uint64_t>(bytes, INT32_MAX));
    if (mark == v.lowMark)
        return true;
    if (::setsockopt(cl->sock, SOL_SOCKET, SO_RCVLOWAT, &mark, sizeof mark) != 0) {
        zevlog::debug(lcBoard(), "VNC: SO_RCVLOWAT: %s", std::strerror(errno));
        return false;
    }
    v.lowMark = mark;
    return true;
}

// Reads and throws away what is in of a dropped message; true once all of
// it is gone.
bool VncServer::Impl::discard(rfbClientPtr cl)
{
    Viewer& v = viewerOf(cl);
    for (int i = 0; i < kDropReads && v.skip > 0; ++i) {
        const ssize_t got =
            ::recv(cl->sock, scratch.data(), size_t(std::min<uint64_t>(v.skip, scratch.size())), MSG_DONTWAIT);
        if (got > 0) {
            v.skip -= uint64_t(got);
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EINTR))
            rfbCloseClient(cl);
        return false;
    }
    return v.skip == 0;
}

// The newest picture handed over becomes the library's frame buffer; the
// rows that differ from the last one, in bands of rows next to each other,
// are marked for the viewers.
void VncServer::Impl::takeFrame()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!nextReady)
            return;
        next.swap(spare);
        nextReady = false;
    }
    const size_t w = size_t(width);
    int top = -1, left = width, right = -1;
    // Corners: top left, and bottom right past the last pixel.
    struct Band {
        int x1, y1, x2, y2;
    };
    std::vector<Band> bands;
    for (int y = 0; y <= height; ++y) {
        const uint32_t* now = spare.data() + size_t(y) * w;
        const uint32_t* was = shown.data() + size_t(y) * w;
        if (y == height || std::memcmp(now, was, w * sizeof *now) == 0) {
            if (top >= 0)
                bands.push_back({left, top, right + 1, y});
            top = -1, left = width, right = -1;
            continue;
        }
        int x0 = 0, x1 = width - 1;
        while (now[x0] == was[x0])
            ++x0;
        while (now[x1] == was[x1])
            --x1;
        left = std::min(left, x0);
        right = std::max(right, x1);
        if (top < 0)
            top = y;
    }
    shown.swap(spare);
    screen->frameBuffer = reinterpret_cast<char*>(shown.data());
    for (const Band& b : bands)
        rfbMarkRectAsModified(screen, b.x1, b.y1, b.x2, b.y2);
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

void VncServer::setFrame(std::vector<uint32_t>& pixels)
{
    Impl& s = *impl_;
    // The picture's size from the screen's, not from the picture shown: the
    // server's thread swaps that one.
    if (pixels.size() != size_t(s.width) * size_t(s.height))
        return;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        // A picture not yet taken is older than this one: it is drawn over.
        s.next.swap(pixels);
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
