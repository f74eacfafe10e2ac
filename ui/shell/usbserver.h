// The USB-stick watcher: reads the kernel's hot-plug messages in a thread of
// its own and tells the GUI with sig_usb_update: 100 a device was added,
// 101 removed, 102 a stick partition is mounted and readable.
#pragma once

#include <pthread.h>

#include <chrono>
#include <optional>

#include <QObject>

#include "core/global.h"

namespace board
{
class Uevents;
}

class UsbServer : public QObject
{
    Q_OBJECT
  public:
    // The watcher of the board's messages, created and started once.
    static UsbServer* pInstance();
    static UsbServer* p_UsbServer;

    explicit UsbServer(board::Uevents& source);

    // Opens the message source and starts acceptThread: 0, or 255 when the
    // source cannot be bound or the thread not started.
    int initialize();
    static void* acceptThread(void* arg);
    // One poll: waits at most waitUs (negative: until a message comes) for a
    // message and handles it. 0 when nothing came or it was handled, 255
    // when the wait failed.
    u32 recvData(long waitUs);
    // Handles the first text of one message (the action joined to the
    // device path). A partition's message starts a mount check; a removal
    // ends one that is pending.
    void handle_message(const char* text);
    // One look at a pending mount check, never waiting: 102 once
    // "/proc/scsi/usb-storage" has been there for the settling time, nothing
    // when it does not come in time. True while the check goes on.
    bool mount_step();
    int usb_signal(int code);
    void unInitialize() {}
    void delete_clinetSocket(int) {}

    // Bounds of the mount wait, in ticks: how long "/proc/scsi/usb-storage"
    // may take to appear, and the settling time after it did.
    static constexpr u32 kStorageWaitTicks = 500;
    static constexpr u32 kSettleTicks = 300;
    // The tick at which the GUI tick opens the gate g_delay_usbserver.
    static constexpr u32 kGateTick = 1000;

  signals:
    void sig_usb_update(int code);

  private:
    struct MountCheck {
        u32 since; // ticks: armed, then storage seen
        std::chrono::steady_clock::time_point since_real;
        bool storage_seen = false;
    };
    void mounted();

    board::Uevents& source_;
    pthread_t thread_{};
    // Touched by the watcher thread only.
    std::optional<MountCheck> mount_;
};
