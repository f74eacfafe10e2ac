#include "board/sim/sim_uevents.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <QDir>

namespace board::sim
{

namespace
{
const char* const kUsbDevice = "/devices/platform/soc/1f2a0000.usb/usb1/1-1";
const char* const kStickParts[][2] = {
    {"", "usb"},
    {"/1-1:1.0", "usb"},
    {"/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda", "block"},
    {"/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/sda1", "block"},
};
// How often a waiting reader looks at a stick file the kernel cannot watch.
constexpr auto kStickFileCheck = std::chrono::milliseconds(500);
} // namespace

SimUevents::SimUevents(const std::string& root, const std::string& modelDir)
    : root_(root), stickFile_(modelDir + "/usb", "out\n", [this] {
          {
              std::lock_guard<std::mutex> lock(mutex_);
              stickNews_ = true;
          }
          cv_.notify_all();
      })
{
    // The state at start is a stick already plugged or not: no message.
    followStickFile();
}

int SimUevents::open()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (openFails_) {
        errno = EADDRINUSE;
        return -1;
    }
    return 0;
}

void SimUevents::followStickFile()
{
    if (!stickFile_.changed())
        return;
    std::string text;
    int in = stickFile_.read(&text) && text.compare(0, 2, "in") == 0 ? 1 : 0;
    int was = stickIn_;
    stickIn_ = in;
    if (was < 0) {
        if (in)
            QDir().mkpath(QString::fromStdString(storagePath()));
        return;
    }
    if (in && !was)
        plugStick();
    else if (!in && was)
        pullStick();
}

int SimUevents::wait(long timeoutUs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        timeoutUs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::microseconds(timeoutUs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stickNews_ = false;
        }
        followStickFile();
        std::unique_lock<std::mutex> lock(mutex_);
        if (!queue_.empty())
            return 1;
        const auto now = Clock::now();
        if (now >= deadline)
            return 0;
        const auto until = stickFile_.watched() ? deadline : std::min(deadline, now + kStickFileCheck);
        const auto woken = [this] { return !queue_.empty() || stickNews_; };
        if (until == Clock::time_point::max())
            cv_.wait(lock, woken);
        else
            cv_.wait_until(lock, until, woken);
    }
}

long SimUevents::receive(char* buffer, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty())
        return 0;
    std::string m = queue_.front();
    queue_.pop_front();
    size_t n = std::min(length, m.size());
    std::memcpy(buffer, m.data(), n);
    return long(n);
}

void SimUevents::inject(const std::string& message)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(message);
    }
    cv_.notify_all();
}

std::string SimUevents::kernelMessage(const std::string& action, const std::string& devpath,
                                      const std::string& subsystem)
{
    std::string m = action + "@" + devpath;
    m += '\0';
    m += "ACTION=" + action;
    m += '\0';
    m += "DEVPATH=" + devpath;
    m += '\0';
    m += "SUBSYSTEM=" + subsystem;
    m += '\0';
    return m;
}

void SimUevents::stickMessages(const char* action, bool reverse)
{
    const int n = int(sizeof kStickParts / sizeof kStickParts[0]);
    for (int i = 0; i < n; ++i) {
        const auto& part = kStickParts[reverse ? n - 1 - i : i];
        inject(kernelMessage(action, std::string(kUsbDevice) + part[0], part[1]));
    }
}

std::string SimUevents::storagePath() const
{
    return root_ + "/proc/scsi/usb-storage";
}

void SimUevents::plugStick()
{
    QDir().mkpath(QString::fromStdString(root_ + "/mnt/usb1"));
    QDir().mkpath(QString::fromStdString(storagePath()));
    stickMessages("add", false);
}

void SimUevents::pullStick()
{
    QDir(QString::fromStdString(storagePath())).removeRecursively();
    stickMessages("remove", true);
}

void SimUevents::setOpenFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex_);
    openFails_ = fails;
}

size_t SimUevents::pending() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

} // namespace board::sim
