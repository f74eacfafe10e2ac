// Returning to the home page from the main menu beside one full-screen update
// of the panel, on the screen the program uses without a display: the pages
// drawn off screen and served on VNC at 320 x 240, with a viewer connected
// that asks for every change and reads as viewers do (into a buffer, as
// much as has come), so an update costs what it costs the panel: the
// widgets painted, the screen composed and sent. The full-screen update is
// the home page painted again whole and the whole screen sent: a page
// painted again the same sends nothing by itself, so the viewer asks for
// the whole screen once the page is painted. Beside it, a plain window
// shown over the page: every pixel sent, next to nothing painted. Measured
// per operation is the time from the key (or the update) until the viewer
// has the last picture, and the CPU time the program spent meanwhile (every
// thread but the viewer's: the GUI thread's and the VNC server's); the
// operations alternate in the same run, and each run gives the ratio of
// their medians and the screens' worth of pixels one return sends.
//
// Usage: bench_home [cycles per run, default 100] [raw: the viewer asks for
// raw pixels, not hextile]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "board/sim/sim_board.h"
#include "core/config_engine.h"
#include "core/zevrampara.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/panel_screen.h"
#include "ui/shell/vnc_panel.h"

namespace
{
constexpr int kQuietMs = 15;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double now_us()
{
    return double(
               std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
                   .count()) /
           1e3;
}

double cpu_us(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

// A VNC viewer in its own thread: hextile or raw pixels, a new incremental
// request as soon as an update is in. Armed by the GUI thread before an
// operation, it ends that thread's wait once an update came and nothing
// more followed for kQuietMs.
class Viewer
{
  public:
    std::atomic<bool> ready{false};
    std::atomic<bool> failed{false};
    std::atomic<long> pixels{0};
    // When the last update was in whole.
    std::atomic<double> last_us{0};

    explicit Viewer(bool raw) : raw_(raw) {}

    void start(int port)
    {
        thread_ = std::thread([this, port] { run(port); });
        if (pthread_getcpuclockid(thread_.native_handle(), &clock_) != 0)
            failed = true;
    }
    // The CPU time the program spent: the process's less the viewer's.
    double program_cpu_us() const { return cpu_us(CLOCK_PROCESS_CPUTIME_ID) - cpu_us(clock_); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // Called before an operation; wait() then runs the GUI thread's events
    // until the viewer has its pictures.
    void arm()
    {
        updates_ = 0;
        armed_ = true;
    }
    // Asks for the whole screen, as a viewer does that has lost its picture.
    bool request_whole() { return request(false); }
    void wait()
    {
        QEventLoop loop;
        loop_ = &loop;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        if (armed_)
            loop.exec();
        loop_ = nullptr;
    }

  private:
    // Reads what has come, up to the buffer's room; false when the stream
    // ended or the viewer stops.
    bool fill()
    {
        if (begin_ == end_)
            begin_ = end_ = 0;
        if (end_ == in_.size()) {
            std::copy(in_.begin() + long(begin_), in_.begin() + long(end_), in_.begin());
            end_ -= begin_;
            begin_ = 0;
        }
        while (!stop_) {
            pollfd q{fd_, POLLIN, 0};
            if (poll(&q, 1, 100) <= 0)
                continue;
            const ssize_t r = read(fd_, in_.data() + end_, in_.size() - end_);
            if (r <= 0)
                return false;
            end_ += size_t(r);
            return true;
        }
        return false;
    }
    // n bytes in the buffer, n at most its size.
    const u8* take(size_t n)
    {
        while (end_ - begin_ < n)
            if (!fill())
                return nullptr;
        begin_ += n;
        return in_.data() + begin_ - n;
    }
    bool read_all(void* p, size_t n)
    {
        const u8* b = take(n);
        if (b)
            std::copy(b, b + n, static_cast<u8*>(p));
        return b != nullptr;
    }
    bool skip(size_t n)
    {
        while (n > 0) {
            if (begin_ == end_ && !fill())
                return false;
            const size_t k = std::min(n, end_ - begin_);
            begin_ += k;
            n -= k;
        }
        return true;
    }
    // The GUI thread asks for the whole screen beside the viewer's own requests.
    bool write_all(const void* p, size_t n)
    {
        std::lock_guard<std::mutex> lock(write_);
        return write(fd_, p, n) == ssize_t(n);
    }
    bool request(bool incremental = true)
    {
        const u8 req[10] = {3, u8(incremental), 0, 0, 0, 0, u8(width_ >> 8), u8(width_), u8(height_ >> 8), u8(height_)};
        return write_all(req, sizeof req);
    }
    bool raw(const u8* rect)
    {
        const long w = rect[4] << 8 | rect[5], h = rect[6] << 8 | rect[7];
        pixels += w * h;
        return skip(size_t(w * h * bytes_per_pixel_));
    }
    // One rectangle in hextile encoding: 16 x 16 tiles, each raw or a
    // background with coloured or plain sub-rectangles.
    bool hextile(const u8* rect)
    {
        const int w = rect[4] << 8 | rect[5], h = rect[6] << 8 | rect[7];
        const size_t bpp = size_t(bytes_per_pixel_);
        for (int y = 0; y < h; y += 16) {
            for (int x = 0; x < w; x += 16) {
                const size_t tw = size_t(std::min(16, w - x)), th = size_t(std::min(16, h - y));
                const u8* sub = take(1);
                if (!sub)
                    return false;
                if (*sub & 1) {
                    if (!skip(tw * th * bpp))
                        return false;
                    continue;
                }
                if (!skip(((*sub & 2) ? bpp : 0) + ((*sub & 4) ? bpp : 0)))
                    return false;
                if (*sub & 8) {
                    const u8 flags = *sub;
                    const u8* count = take(1);
                    if (!count || !skip(size_t(*count) * (((flags & 16) ? bpp : 0) + 2)))
                        return false;
                }
            }
        }
        pixels += long(w) * h;
        return true;
    }
    void run(int port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(u16(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = false;
        for (int i = 0; i < 200 && !ok; ++i) {
            ok = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            if (!ok)
                usleep(10000);
        }
        int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        char version[12];
        u8 security[4], init[24];
        const u8 shared = 1;
        // Protocol 3.3: no security; then the server's size, pixel format and name.
        ok = ok && read_all(version, 12) && write_all("RFB 003.003\n", 12) && read_all(security, 4) &&
             security[3] == 1 && write_all(&shared, 1) && read_all(init, 24);
        if (ok) {
            width_ = u16(init[0] << 8 | init[1]);
            height_ = u16(init[2] << 8 | init[3]);
            std::vector<char> name(size_t(init[20]) << 24 | size_t(init[21]) << 16 | size_t(init[22]) << 8 | init[23]);
            // 32-bit true colour and hextile, as viewers ask for them.
            const u8 format[20] = {0, 0, 0, 0, 32, 24, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 0, 0, 0};
            const u8 encodings[8] = {2, 0, 0, 1, 0, 0, 0, u8(raw_ ? 0 : 5)};
            bytes_per_pixel_ = 4;
            ok = read_all(name.data(), name.size()) && write_all(format, sizeof format) &&
                 write_all(encodings, sizeof encodings) && request();
        }
        if (!ok) {
            failed = true;
            return;
        }
        ready = true;
        while (!stop_) {
            pollfd q{fd_, POLLIN, 0};
            if (begin_ == end_ && poll(&q, 1, kQuietMs) <= 0) {
                if (armed_ && updates_ > 0) {
                    armed_ = false;
                    if (QEventLoop* l = loop_)
                        QMetaObject::invokeMethod(l, "quit", Qt::QueuedConnection);
                }
                continue;
            }
            u8 head[4];
            if (!read_all(head, 4) || head[0] != 0) {
                failed = !stop_;
                return;
            }
            const int rects = head[2] << 8 | head[3];
            for (int r = 0; r < rects; ++r) {
                u8 rect[12];
                if (!read_all(rect, 12) || !(rect[11] == 5 ? hextile(rect) : raw(rect)))
                    return;
            }
            last_us = now_us();
            ++updates_;
            if (!request())
                return;
        }
    }

    const bool raw_;
    std::thread thread_;
    clockid_t clock_{};
    int fd_ = -1;
    std::vector<u8> in_ = std::vector<u8>(65536);
    size_t begin_ = 0, end_ = 0;
    u16 width_ = 0, height_ = 0;
    int bytes_per_pixel_ = 4;
    std::mutex write_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> armed_{false};
    std::atomic<int> updates_{0};
    std::atomic<QEventLoop*> loop_{nullptr};
};

void release(QWidget* w, int key)
{
    QKeyEvent e(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

struct Cost {
    std::vector<double> us, cpu_us;
    long pixels = 0;
    double time() const { return median(us); }
    double cpu() const { return median(cpu_us); }
};

// Time from act until the viewer has the last picture it causes, and the
// program's CPU meanwhile.
template <typename F> void measure(Viewer& v, Cost& c, F act)
{
    const long p0 = v.pixels;
    v.arm();
    const double t0 = now_us(), c0 = v.program_cpu_us();
    act();
    v.wait();
    // Pages closed by act are deleted as the program's event loop would.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    c.us.push_back(v.last_us - t0);
    c.cpu_us.push_back(v.program_cpu_us() - c0);
    c.pixels += v.pixels - p0;
}

struct RunResult {
    Cost update, plain, back, leave;
};

RunResult run(MainWindow* w, QWidget& cover, Viewer& v, int cycles)
{
    RunResult r;
    for (int i = 0; i < cycles; ++i) {
        measure(v, r.update, [&v] {
            g_lockwindow->repaint();
            v.request_whole();
        });
        measure(v, r.plain, [&cover] { cover.show(); });
        Cost uncovered;
        measure(v, uncovered, [&cover] { cover.hide(); });
        measure(v, r.leave, [] { release(g_lockwindow, Qt::Key_F6); });
        measure(v, r.back, [w] { release(w, Qt::Key_PowerOff); });
    }
    return r;
}
} // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const bool raw = argc > 2 && std::string(argv[2]) == "raw";
    // The pages' key traces go to standard output; the figures to errors.
    if (!freopen("/dev/null", "w", stdout))
        return 1;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    board::install(std::make_unique<board::sim::SimBoard>(root.path().toStdString()));
    std::vector<char*> args(argv, argv + argc);
    static char platformArg[] = "-platform";
    static char offscreen[] = "offscreen";
    args.insert(args.begin() + 1, {platformArg, offscreen});
    int n = int(args.size());
    QApplication app(n, args.data());
    PanelScreen screen;
    VncPanel panel(screen);
    const std::string error = panel.listen("127.0.0.1", 0);
    if (!error.empty()) {
        std::fprintf(stderr, "bench_home: no VNC screen: %s\n", error.c_str());
        return 1;
    }
    const int port = panel.port();
    ConfigEngine::pInstance();
    ZevRamPara::pInstance();
    g_debugSwitch = 0;
    // Three windows in use, as a panel in service.
    for (int i = 0; i < 3; ++i)
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, ZevRamPara::layerOffset(i) + Img::kLayerEnable, 1);

    QWidget cover;
    cover.setWindowFlags(Qt::FramelessWindowHint);
    cover.setAutoFillBackground(true);
    cover.setPalette(QPalette(Qt::white));
    cover.setGeometry(0, 0, PanelScreen::kWidth, PanelScreen::kHeight);
    auto* w = new MainWindow(nullptr);
    g_mainwindow = w;
    show_home_at_start();
    Viewer viewer(raw);
    viewer.start(port);
    while (!viewer.ready && !viewer.failed)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (viewer.failed) {
        std::fprintf(stderr, "bench_home: no VNC picture on port %d\n", port);
        return 1;
    }
    // Warm-up: fonts, style sheets and pictures loaded once.
    run(w, cover, viewer, 10);

    std::fprintf(stderr,
                 "home page return beside a full-screen update, until the viewer has the picture in %s "
                 "(the program's CPU in brackets), %d cycles per run:\n",
                 raw ? "raw pixels" : "hextile", cycles);
    std::vector<double> ratios, backCpu, leaveCpu;
    for (int r = 0; r < 3; ++r) {
        const RunResult res = run(w, cover, viewer, cycles);
        const double ratio = res.back.time() / res.update.time();
        ratios.push_back(ratio);
        backCpu.push_back(res.back.cpu());
        leaveCpu.push_back(res.leave.cpu());
        std::fprintf(stderr,
                     "  run %d: update %6.0f us (%5.0f), return home %6.0f us (%5.0f) = %.2fx, %.1f screens sent; "
                     "leave to the menu %6.0f us (%5.0f); plain window %6.0f us (%5.0f)\n",
                     r + 1, res.update.time(), res.update.cpu(), res.back.time(), res.back.cpu(), ratio,
                     double(res.back.pixels) / (320.0 * 240.0) / cycles, res.leave.time(), res.leave.cpu(),
                     res.plain.time(), res.plain.cpu());
    }
    std::sort(ratios.begin(), ratios.end());
    std::fprintf(stderr, "return home / full-screen update: min %.2fx, median %.2fx, max %.2fx\n", ratios[0], ratios[1],
                 ratios[2]);
    std::fprintf(stderr,
                 "the program's CPU per page change, median of the runs: return home %.0f us, leave to the "
                 "menu %.0f us\n",
                 median(backCpu), median(leaveCpu));
    viewer.stop();
    delete g_lockwindow.get();
    delete w;
    return 0;
}
