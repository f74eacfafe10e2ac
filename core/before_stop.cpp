#include "core/before_stop.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

#include "board/board.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/zevrampara.h"

namespace before_stop
{

namespace
{
using Clock = std::chrono::steady_clock;

// The signal handler only wakes the stop thread: nothing else is safe there.
int g_stop_pipe[2] = {-1, -1};

void on_stop_signal(int sig)
{
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    if (::write(g_stop_pipe[1], &b, 1) < 0) {
        // A full pipe already holds a stop.
    }
    errno = saved;
}

void stop_thread()
{
    unsigned char sig = 0;
    ssize_t n;
    do
        n = ::read(g_stop_pipe[0], &sig, 1);
    while (n < 0 && errno == EINTR);
    if (n != 1) {
        zevlog::warnErrno(lcCore(), "stop signals");
        return;
    }
    store_all();
    std::fflush(stdout);
    std::fflush(stderr);
    // The worker threads never end: the process ends here, its files on
    // disk, without running the destructors they would race with.
    ::_exit(0);
}

// Names what a stop leaves unwritten; a box that reboots every tick until
// it goes down names the same files once.
void name_left(u32 saves, u32 files, bool image)
{
    static std::mutex named_mutex;
    static std::string named;
    std::string left;
    auto add = [&left](const std::string& file) { left += (left.empty() ? "" : ", ") + board::shownPath(file); };
    for (int s = 0; s < kUserModeCount; ++s)
        if ((saves | files) & (1u << s))
            add(ZevRamPara::modeFilePath(s));
    if (image)
        add(ZevRamPara::kDeviceInfoFile);
    {
        std::lock_guard<std::mutex> lock(named_mutex);
        if (left == named)
            return;
        named = left;
    }
    if (!left.empty())
        zevlog::warning(lcCore(), "%s cannot be written before the stop: what waited for them is lost", left.c_str());
}
} // namespace

bool store_all(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    auto in_time = [&deadline] { return Clock::now() < deadline; };
    bool wrote = false;
    // The saves first: each is the slot as the user or the PC saved it.
    for (int s = 0; s < kUserModeCount && in_time(); ++s)
        if (ZevRamPara::mode_saves_asked() & (1u << s))
            wrote |= ZevRamPara::store_saved_mode(s) == 1;
    for (int s = 0; s < kUserModeCount && in_time(); ++s)
        if (ZevRamPara::files_wanted() & (1u << s)) {
            const ZevRamPara::ModeFile result = ZevRamPara::store_mode_file(s);
            wrote |= result.done && result.ask != ZevRamPara::ModeFile::nothing;
        }
    bool imageLeft = true;
    if (in_time()) {
        const ZevRamPara::Stored stored = ZevRamPara::store_image();
        wrote |= stored == ZevRamPara::Stored::written;
        imageLeft = stored == ZevRamPara::Stored::failed;
    }
    if (wrote)
        syncAndSettle();
    const u32 saves = ZevRamPara::mode_saves_asked(), files = ZevRamPara::files_wanted();
    name_left(saves, files, imageLeft);
    return saves == 0 && files == 0 && !imageLeft;
}

int reboot()
{
    store_all();
    return Utils::system_mutex("reboot");
}

bool catch_stop_signals()
{
    if (::pipe2(g_stop_pipe, O_CLOEXEC) != 0) {
        zevlog::warnErrno(lcCore(), "stop signals");
        return false;
    }
    std::thread(stop_thread).detach();
    struct sigaction sa {
    };
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT})
        if (::sigaction(sig, &sa, nullptr) != 0) {
            zevlog::warnErrno(lcCore(), "stop signals");
            return false;
        }
    return true;
}

} // namespace before_stop
