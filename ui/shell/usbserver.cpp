#include "ui/shell/usbserver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QFileInfo>

#include "board/board.h"
#include "board/uevent.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/utils.h"
#include "ui/shell/gui_call.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"

UsbServer* UsbServer::p_UsbServer = nullptr;

namespace
{
constexpr size_t kMessageSize = 4096;
// The thread's wait for a message while a mount check is pending; else it
// waits until a message comes.
constexpr long kCheckWaitUs = 10000;
constexpr long kNoLimit = -1;
// Longest pause while the gate is still closed.
constexpr u32 kGatePauseTicks = 100;

std::vector<std::string> split_path(const char* text)
{
    std::vector<std::string> parts;
    std::string cur;
    for (const char* p = text; *p; ++p) {
        if (*p == '/') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += *p;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

// sda1 .. sda9; the rest after "sda" that is no number counts as 0.
bool is_partition(const std::string& part)
{
    if (part.size() < 4 || part.compare(0, 3, "sda") != 0)
        return false;
    int n = std::atoi(part.c_str() + 3);
    return n >= 0 && n <= 9;
}

// More than ticks ticks since the stamp; also bounded in real time, in case
// the tick stands still.
bool passed(u32 since, std::chrono::steady_clock::time_point since_real, u32 ticks)
{
    return Utils::getTimeSpace(since) > ticks ||
           std::chrono::steady_clock::now() - since_real > std::chrono::milliseconds(20 * ticks);
}
} // namespace

UsbServer* UsbServer::pInstance()
{
    if (!p_UsbServer) {
        p_UsbServer = new UsbServer(board::current().uevents());
        p_UsbServer->initialize();
    }
    return p_UsbServer;
}

UsbServer::UsbServer(board::Uevents& source) : source_(source) {}

int UsbServer::initialize()
{
    if (debugOn()) {
        zevlog::debug(lcUi(), "=========UsbServer::initialize()=========== ");
        zevlog::debug(lcUi(), "\n usb server getpid = %d \n", int(getpid()));
    }
    if (source_.open() != 0) {
        std::string error = std::strerror(errno);
        if (debugOn())
            zevlog::debug(lcUi(), " UsbServer  bind error:%s\n", error.c_str());
        writeLogMsg(LOG_ERROR, "UsbServer bind error:" + error);
        return 255;
    }
    if (pthread_create(&thread_, nullptr, &UsbServer::acceptThread, this) != 0) {
        if (debugOn())
            zevlog::debug(lcUi(), "UsbServer create accept thread failed");
        writeLogMsg(LOG_ERROR, "UsbServer create accept thread failed");
        return 255;
    }
    pthread_detach(thread_);
    return 0;
}

void* UsbServer::acceptThread(void* arg)
{
    UsbServer* self = static_cast<UsbServer*>(arg);
    for (;;) {
        // Messages that come before the gate opens wait in the source; the
        // thread sleeps until the gate's tick.
        if (!g_delay_usbserver) {
            const u32 now = G_timeTicks.load();
            const u32 ticks = now < kGateTick ? std::min(kGateTick - now, kGatePauseTicks) : 1;
            usleep(ticks * 10000);
            continue;
        }
        self->recvData(self->mount_ ? kCheckWaitUs : kNoLimit);
        self->mount_step();
    }
    return nullptr;
}

u32 UsbServer::recvData(long waitUs)
{
    int ready = source_.wait(waitUs);
    if (ready < 0) {
        if (debugOn())
            zevlog::debug(lcUi(), "UsbServer select error:%s\n", std::strerror(errno));
        return 255;
    }
    if (ready == 0)
        return 0;
    std::vector<char> buffer(kMessageSize + 1, 0);
    long n = source_.receive(buffer.data(), kMessageSize);
    if (n < 1)
        return 0;
    // The first text, up to its NUL, is the action joined to the device path.
    handle_message(buffer.data());
    return 0;
}

void UsbServer::handle_message(const char* text)
{
    std::vector<std::string> parts = split_path(text);
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == "add@") {
            usb_signal(100);
        } else if (parts[i] == "remove@") {
            // The stick a pending check waits for is going.
            mount_.reset();
            usb_signal(101);
        } else if (parts[i] == "block" && i + 2 < parts.size() && parts[i + 1] == "sda" && is_partition(parts[i + 2])) {
            mount_ = MountCheck{G_timeTicks, std::chrono::steady_clock::now()};
        }
    }
}

bool UsbServer::mount_step()
{
    if (!mount_)
        return false;
    if (!mount_->storage_seen) {
        // A stick pulled early, or a removal after the last stick went,
        // never brings the path: then nothing is mounted and nothing is told.
        if (QFileInfo::exists(board::path(QString("/proc/scsi/usb-storage")))) {
            if (debugOn())
                zevlog::debug(lcUi(), "\n usb have mound ok ");
            mount_ = MountCheck{G_timeTicks, std::chrono::steady_clock::now(), true};
        } else if (passed(mount_->since, mount_->since_real, kStorageWaitTicks)) {
            writeLogMsg(LOG_WARNING, "UsbServer: no usb storage after a partition message");
            mount_.reset();
        }
        return bool(mount_);
    }
    // Give the stick time to be mounted before the pages read it.
    if (!passed(mount_->since, mount_->since_real, kSettleTicks))
        return true;
    mount_.reset();
    mounted();
    return false;
}

void UsbServer::mounted()
{
    usb_signal(102);
    if (g_page_focus == PageId::Option && g_option && qApp) {
        // Runs later on the GUI thread: the page may have closed meanwhile.
        gui_call([] {
            if (g_page_focus != PageId::Option)
                return;
            if (auto* page = dynamic_cast<ZevPage*>(PageRegistry::at(PageId::Option)))
                page->slot_Button_back_clicked();
        });
    }
}

int UsbServer::usb_signal(int code)
{
    emit sig_usb_update(code);
    return 1;
}
