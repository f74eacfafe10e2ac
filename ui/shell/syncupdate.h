// The one receiver of every "shared state changed" signal: refreshes the
// page that has the keys, stores a requested user mode and persists image
// bytes 768..4095 to "/data/ram_device_info".
#pragma once

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
    // tip's modal loop for 3 s, which must not happen under that mutex.
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
    // Tries the writes that wait again; the pages are refreshed once a
    // requested user mode, or the image a done tip waits for, is stored.
    void retry_writes();
    // Stores a user-mode slot as it stands: a mode is written, a slot
    // emptied by the PC, the user or a factory reset loses its file. What
    // fails waits, and is tried again as the slot then stands.
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
    void page_refresh(int code);
    void save_user_mode();
    void save_mode(int slot);
    void rewrite_user_modes();
    void persist_image();
    void show_done_tip();
    // Factory network settings, restarting when the port changes; false,
    // nothing applied, when the settings file was not written.
    bool network_reset();
    // The image differs from its file: a failed write waits.
    bool persist_pending_ = false;
    // A page's done tip waits for the image's file.
    bool done_tip_asked_ = false;
    // Bit s: slot s's asked save could not be written and waits.
    u32 saves_waiting_ = 0;
    // Bit s: slot s's file could not be written or deleted by store_mode.
    u32 slots_waiting_ = 0;
    // Tick of the last try of the writes.
    u32 last_try_ = 0;
};
