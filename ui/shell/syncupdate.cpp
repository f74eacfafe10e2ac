#include "ui/shell/syncupdate.h"

#include <cstring>

#include "board/board.h"
#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/para_apply.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/tip.h"

SyncUpdate* SyncUpdate::p_SyncUpdate = nullptr;

namespace
{
u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}
u8* shadow()
{
    return ZevRamPara::p_zevrampara_shadow;
}

void show_tip(int code)
{
    if (g_tip)
        g_tip->tip_create(code);
}

// Says that a slot's file waits to be written (or, emptied, deleted), or
// that what waited is done.
void tell_slot(int slot, bool emptied, bool waits)
{
    const std::string file = board::shownPath(ZevRamPara::modeFilePath(slot));
    const char* text =
        waits ? (emptied ? "%s cannot be deleted: emptied user mode %d waits and is tried again each second"
                         : "%s cannot be written: user mode %d waits and is tried again each second")
              : (emptied ? "%s deleted: emptied user mode %d that waited is gone"
                         : "%s written: user mode %d that waited is stored");
    zevlog::warning(lcUi(), text, file.c_str(), slot + 1);
}
} // namespace

SyncUpdate* SyncUpdate::pInstance()
{
    if (!p_SyncUpdate)
        p_SyncUpdate = new SyncUpdate();
    return p_SyncUpdate;
}

void SyncUpdate::attach(ZevRamPara* store)
{
    SyncUpdate* sync = pInstance();
    // Counted where it is sent, before it is queued.
    connect(
        store, &ZevRamPara::sig_update_para, sync, [sync](int) { ++sync->signals_on_way_; }, Qt::DirectConnection);
    connect(store, &ZevRamPara::sig_update_para, sync, &SyncUpdate::para_sync, Qt::QueuedConnection);
}

bool SyncUpdate::more_signals_follow()
{
    // A refresh not sent through the store (a USB event, a direct call)
    // takes nothing: the count only ever errs towards writing at once.
    int n = signals_on_way_.load();
    while (n > 0 && !signals_on_way_.compare_exchange_weak(n, n - 1)) {
    }
    return n > 1;
}

void SyncUpdate::para_sync(int code)
{
    const bool more = more_signals_follow();
    u8 focus = g_page_focus;
    if (focus != PageId::ImageLayout) {
        u8 current = g_image_current;
        bool on = false;
        if (current < Img::kLayerCount) {
            ImageReadLock lock;
            on = ZevRamPara::img16(ZevRamPara::layerOffset(current)) & 1;
        }
        if (!on)
            g_image_current = 0;
    }
    if (g_zev_keys)
        update_usb_keyLed();
    if (code == 105 || code == 106)
        return;
    {
        C331Lock lock;
        if (code == 2)
            ZevRamPara::ask_modes_rewrite();
        // Word 868 that no apply took yet (the PC wrote it and another
        // signal came first) saves its slot now.
        ZevRamPara::take_mode_save_word(true);
    }
    // A saved mode's file is written before the page refresh, so the done
    // tip of the main window shows for a mode that is already on disk.
    if (!more)
        save_user_modes();
    page_refresh(code);
    adopt_image();
    if (more)
        post_pass();
    else
        finish_pass();
    const bool reset = code != 3 || network_reset();
    // The link menu confirms every refresh with the done tip, once the image
    // and a network reset are on disk.
    if (g_page_focus == PageId::LinkOption && reset)
        done_tip_asked_ = true;
    show_done_tip();
}

void SyncUpdate::show_done_tip()
{
    // While the image's file waits, the tip waits with it for the refresh
    // after its write.
    if (!done_tip_asked_ || image_waits_)
        return;
    done_tip_asked_ = false;
    if (!g_tip)
        return;
    if (ZevRamPara::image_storable())
        g_tip->tip_create(1);
    else
        g_tip->tip_not_saved();
}

void SyncUpdate::page_refresh(int code)
{
    u8 focus = g_page_focus;
    PageView* page = PageRegistry::at(focus);
    if (focus >= PageId::Count) {
        ZevRamPara::ZevLanguageChanged();
        return;
    }
    if (!page)
        return;
    page->syncUpdate(code);
    if (focus == PageId::MainWindow) {
        MainWindow* w = g_mainwindow;
        // While a requested mode is not yet written, the done tip waits.
        if (w->tip_on_sync && ZevRamPara::mode_saves_asked() == 0) {
            w->tip_on_sync = 0;
            show_tip(1);
        }
    } else if (focus == PageId::SmartMapping || focus == PageId::firmware_usbgrade) {
        if (code == 100) {
            if (debugOn())
                zevlog::debug(lcUi(), "\n yes ,got the usb in");
            show_tip(3);
        } else if (code == 101) {
            if (debugOn())
                zevlog::debug(lcUi(), "\n yes ,got the usb out");
            show_tip(4);
        } else if (code == 102) {
            show_tip(5);
        }
    }
}

void SyncUpdate::save_user_modes()
{
    const u32 asked = ZevRamPara::mode_saves_asked();
    // A save dropped meanwhile (its slot emptied) waits no more.
    saves_named_ &= asked;
    for (int s = 0; s < kUserModeCount; ++s)
        if (asked & (1u << s))
            save_mode(s);
}

void SyncUpdate::save_mode(int s)
{
    // The slot holds the mode since it was saved; only its file is written
    // here, at every try as the slot then stands.
    if (debugOn())
        zevlog::debug(lcUi(), "\n user mode save change ,%#x \n", 0xAAu);
    // The file is named once while anything waits for it.
    const u32 bit = 1u << s;
    const bool named = (saves_named_ | slots_named_) & bit;
    const int stored = ZevRamPara::store_saved_mode(s);
    if (stored < 0) {
        saves_named_ &= ~bit;
        return;
    }
    if (stored == 0) {
        if (!named)
            tell_slot(s, false, true);
        saves_named_ |= bit;
        return;
    }
    wrote_ = true;
    // The save supersedes what waited for the slot's file.
    if (named)
        tell_slot(s, false, false);
    saves_named_ &= ~bit;
    slots_named_ &= ~bit;
}

void SyncUpdate::store_mode(int s)
{
    if (s < 0 || s >= kUserModeCount)
        return;
    store_slot(s);
    if (wrote_)
        syncAndSettle();
    wrote_ = false;
}

void SyncUpdate::store_slot(int s)
{
    const ZevRamPara::ModeFile result = ZevRamPara::store_mode_file(s);
    const bool removal = result.ask == ZevRamPara::ModeFile::remove;
    const u32 bit = 1u << s;
    if (!result.done && !((slots_named_ | saves_named_) & bit)) {
        tell_slot(s, removal, true);
        slots_named_ |= bit;
        Utils::wake_tick();
    } else if (result.done && result.ask != ZevRamPara::ModeFile::nothing) {
        // Deletes sync themselves.
        wrote_ |= !removal;
        if (slots_named_ & bit)
            tell_slot(s, removal, false);
    }
    if (result.done)
        slots_named_ &= ~bit;
}

void SyncUpdate::adopt_image()
{
    u8 snapshot[Img::kSize];
    int first = -1;
    u8 was = 0;
    {
        ImageReadLock lock;
        std::memcpy(snapshot, img(), sizeof snapshot);
        for (int i = Img::kPersistStart; i < Img::kSize && first < 0; ++i)
            if (snapshot[i] != shadow()[i]) {
                first = i;
                was = shadow()[i];
            }
    }
    if (first < 0)
        return;
    if (debugOn())
        zevlog::debug(lcUi(), "\n ram_para diffrent %d,%d,%d!\n", first, was, snapshot[first]);
    // The file takes the image as it stands at its write; a change a worker
    // makes meanwhile still differs from the shadow and is noted by a later
    // refresh.
    image_waits_ = true;
    C331Lock lock;
    std::memcpy(shadow(), snapshot, sizeof snapshot);
}

void SyncUpdate::finish_pass()
{
    const u32 wanted = ZevRamPara::files_wanted();
    for (int s = 0; s < kUserModeCount; ++s)
        if (wanted & (1u << s))
            store_slot(s);
    persist_image();
    if (wrote_)
        syncAndSettle();
    wrote_ = false;
    last_try_ = G_timeTicks.load();
    // The tick may sleep: it is woken to retry what waits.
    if (ticks_to_retry() != kNothingWaits)
        Utils::wake_tick();
}

void SyncUpdate::post_pass()
{
    if (pass_posted_)
        return;
    pass_posted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pass_posted_ = false;
            retry_writes();
        },
        Qt::QueuedConnection);
}

void SyncUpdate::persist_image()
{
    if (!image_waits_)
        return;
    const ZevRamPara::Stored stored = ZevRamPara::store_image();
    const std::string file = board::shownPath(ZevRamPara::kDeviceInfoFile);
    if (stored == ZevRamPara::Stored::failed) {
        if (!image_named_)
            zevlog::warning(lcUi(), "%s cannot be written: the parameter change waits and is tried again each second",
                            file.c_str());
        image_named_ = true;
        return;
    }
    wrote_ |= stored == ZevRamPara::Stored::written;
    // A file that could not be read at start stays as it is until the next
    // start: nothing waits then.
    if (image_named_ && stored == ZevRamPara::Stored::written)
        zevlog::warning(lcUi(), "%s written: the parameter change that waited is stored", file.c_str());
    image_named_ = false;
    image_waits_ = false;
}

u32 SyncUpdate::ticks_to_retry() const
{
    if (!image_waits_ && ZevRamPara::mode_saves_asked() == 0 && ZevRamPara::files_wanted() == 0)
        return kNothingWaits;
    const u32 since = Utils::getTimeSpace(last_try_);
    return since >= kRetryTicks ? 0 : kRetryTicks - since;
}

void SyncUpdate::retry_writes()
{
    const bool saves_waited = ZevRamPara::mode_saves_asked() != 0;
    // The saves first: each supersedes its slot's file that waits.
    save_user_modes();
    finish_pass();
    // The pages show the mode once it is stored, and the done tip that
    // waited for it or for the image.
    if ((saves_waited && ZevRamPara::mode_saves_asked() == 0) || (done_tip_asked_ && !image_waits_))
        ZevRamPara::test_signal(1);
}

bool SyncUpdate::network_reset()
{
    ConfigEngine* config = ConfigEngine::pInstance();
    const bool port_changes = g_port != 5005;
    const bool stored = config->write_config_variants({{ConfigItem::IPAddress, "192.168.0.199"},
                                                       {ConfigItem::GateWay, "192.168.0.1"},
                                                       {ConfigItem::SubNetMask, "255.255.255.0"},
                                                       {ConfigItem::TcpPort, 5005}});
    if (!stored) {
        writeLogMsg(LOG_ERROR, "network reset not stored");
        return false;
    }
    Utils::initIPAddress();
    if (port_changes)
        Utils::request_restart();
    return true;
}
