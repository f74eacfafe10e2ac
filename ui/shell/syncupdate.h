// The one receiver of every "shared state changed" signal: refreshes the
// page that has the keys, stores a requested user mode and persists image
// bytes 768..4095 to "/data/ram_device_info".
#pragma once

#include <atomic>

#include <QObject>

#include "core/global.h"

class ZevRamPara;

class SyncUpdate : public QObject
{
    Q_OBJECT
  public:
    static SyncUpdate* pInstance();
    static SyncUpdate* p_SyncUpdate;

    // Connects a store's sig_update_para to para_sync. Always queued: the
    // emitter holds Utils::_test_signal_mutex, and a refresh may wait in the
    // tip's modal loop for 3 s, which must not happen under that mutex. The
    // signals are counted as they are sent, so a refresh knows whether more
    // follow it.
    static void attach(ZevRamPara* store);

    // Last keypad LED report sent.
    u8 key_led[5] = {0, 0, 0, 0, 0};
    // Sends the keypad LED report when it differs from the last one (with
    // the rest of the keypad, in zev_keys.cpp).
    void update_usb_keyLed();

    // A write that could not be made (a full partition: the image, a
    // requested user mode, a slot's file at a rewrite of the modes or a
    // delete) waits and is tried again every kRetryTicks, by the GUI tick,
    // until it is made.
    static constexpr u32 kRetryTicks = 100;
    static constexpr u32 kNothingWaits = 0xFFFFFFFF;
    // Ticks until the next try is due (0: now), kNothingWaits when no write
    // waits.
    u32 ticks_to_retry() const;
    // Makes the writes that wait: the tick's try, and the pass a burst of
    // refreshes leaves to its end. The pages are refreshed once a requested
    // user mode, or the image a done tip waits for, is stored.
    void retry_writes();
    // Stores a user-mode slot's file as the slot stands: a mode is written,
    // a slot emptied by the PC, the user or a factory reset loses its file.
    // What fails waits, and is tried again as the slot then stands.
    void store_mode(int slot);
    // A page confirms its change with the done tip once the image holding
    // it is on disk: at the next refresh, or when a write that waits for
    // room is made. A change the box cannot store (its image file could not
    // be read) gets the "not saved" tip instead.
    void ask_done_tip() { done_tip_asked_ = true; }

  public slots:
    void para_sync(int code);

  private:
    SyncUpdate() = default;
    // Takes this refresh's signal off the count; true while more are on
    // their way, whose last refresh makes the writes: a burst of requests
    // costs one pass of writes, and keys pressed meanwhile wait for one.
    bool more_signals_follow();
    void page_refresh(int code);
    void save_user_modes();
    void save_mode(int slot);
    // A slot's file, within a pass.
    void store_slot(int slot);
    // After the refresh: a change of the image's stored part is noted for
    // its file, and the image becomes the shadow.
    void adopt_image();
    // The slots' files and the image, then one sync and settle for the pass.
    void finish_pass();
    void post_pass();
    void persist_image();
    void show_done_tip();
    // Factory network settings, restarting when the port changes; false,
    // nothing applied, when the settings file was not written.
    bool network_reset();
    // sig_update_para sent and not yet taken by a refresh.
    std::atomic<int> signals_on_way_{0};
    // A pass is posted behind the refreshes on their way.
    bool pass_posted_ = false;
    // A change of the image's stored part its file has not yet taken.
    bool image_waits_ = false;
    // The image's failed write was named.
    bool image_named_ = false;
    // A page's done tip waits for the image's file.
    bool done_tip_asked_ = false;
    // Bit s: slot s's save, or its file at a rewrite or a delete, could not
    // be written and was named.
    u32 saves_named_ = 0;
    u32 slots_named_ = 0;
    // The pass wrote a file: it ends with a sync and the settle.
    bool wrote_ = false;
    // Tick of the last try of the writes.
    u32 last_try_ = 0;
};
