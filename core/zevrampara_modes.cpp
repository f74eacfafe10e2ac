// The 16 user modes of the parameter store: the one save and the one recall
// every caller uses, the PC's uploads and recall requests, and the slots'
// files.
#include <cstring>
#include <unistd.h>

#include "board/board.h"
#include "board/file_read.h"
#include "core/json_read.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/zevrampara.h"

QMutex ZevRamPara::modes_file_mutex;
bool ZevRamPara::mode_emptied_[kUserModeCount];
std::atomic<u32> ZevRamPara::saves_asked_{0};
std::atomic<u32> ZevRamPara::files_wanted_{0};
u32 ZevRamPara::slot_changes_[kUserModeCount];
u32 ZevRamPara::filed_change_[kUserModeCount];
bool ZevRamPara::filed_[kUserModeCount];
u16 ZevRamPara::recall_asked_ = 0;
bool ZevRamPara::refresh_save_ = false;

namespace
{
u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}

bool validSlot(int s)
{
    return s >= 0 && s < kUserModeCount;
}

// The OSD-menu flag of a stored mode (image word 2124), as a slot holds it.
constexpr int kSlotMenuFlag = 2 + Img::kOsdMenuFlag - Img::kModeStart;
// A slot's file is decided and acted on again while the slot changes under
// the act; beyond that it waits for the next try.
constexpr int kFileTries = 3;
constexpr u32 kAllSlots = (1u << kUserModeCount) - 1;
} // namespace

void ZevRamPara::note_filed(int slot, u32 change)
{
    filed_change_[slot] = change;
    filed_[slot] = true;
}

void ZevRamPara::ask_modes_rewrite()
{
    files_wanted_ = kAllSlots;
}

int ZevRamPara::ZevUserModeSaved(int slot)
{
    if (!validSlot(slot))
        return 0;
    return user_mode[slot][0] == 0xAA && user_mode[slot][1] == 0xAA ? 1 : 0;
}

int ZevRamPara::ZevGetCurrentModeIndex()
{
    u8 m = img()[Img::kCurrentMode];
    return m <= kUserModeCount ? m : 0;
}

int ZevRamPara::ZevUserModeIndex(char cur, char dir)
{
    int c = u8(cur);
    if (!validSlot(c))
        return 256;
    for (int i = 0; i < kUserModeCount; ++i) {
        int s;
        if (dir == 2)
            s = (c + i) % kUserModeCount;
        else if (dir == 1)
            s = (c + 1 + i) % kUserModeCount;
        else
            s = (c - 1 - i + 2 * kUserModeCount) % kUserModeCount;
        if (ZevUserModeSaved(s))
            return s;
    }
    return 256;
}

void ZevRamPara::save_mode(int slot)
{
    if (!validSlot(slot))
        return;
    u8* m = user_mode[slot];
    m[0] = 0xAA;
    m[1] = 0xAA;
    std::memcpy(m + 2, img() + Img::kModeStart, Img::kModeBytes);
    put16(img(), Img::kCurrentMode, u16(slot + 1));
    put16(img(), Img::kModeToSave, 0);
    // The slot holds a mode again: its file is written, never deleted.
    mode_emptied_[slot] = false;
    refresh_save_ = false;
    ++slot_changes_[slot];
    saves_asked_ |= 1u << slot;
}

bool ZevRamPara::recall_mode(int slot)
{
    if (!ZevUserModeSaved(slot))
        return false;
    std::memcpy(img() + Img::kModeStart, user_mode[slot] + 2, Img::kModeBytes);
    put16(img(), Img::kCurrentMode, u16(slot + 1));
    put16(img(), Img::kModeToSave, 0);
    refresh_save_ = false;
    return true;
}

void ZevRamPara::note_mode_word_write(u32 address, int length, u16 before866)
{
    const u16 mode = img16(Img::kCurrentMode);
    const u32 end = address + u32(length);
    // The PC saves by writing the slot into word 868, often with word 866
    // as it read it: a save alone, which no recall may undo.
    const u16 save = img16(Img::kModeToSave);
    const bool saveAsked =
        address < u32(Img::kModeToSave + 2) && end > u32(Img::kModeToSave) && save != 0 && save <= kUserModeCount;
    if (saveAsked && mode == before866)
        return;
    // A write of the two mode words alone is the PC's recall even when the
    // word already names the mode (it was just saved, or nothing since
    // cleared it); a larger write asks only by changing the word.
    const bool modeWordsOnly = address >= u32(Img::kCurrentMode) && end <= u32(Img::kModeToSave + 2);
    if (mode == 0 || mode > kUserModeCount)
        recall_asked_ = 0;
    else if (modeWordsOnly || mode != before866)
        recall_asked_ = mode;
}

int ZevRamPara::take_recall_asked()
{
    const int slot = int(recall_asked_) - 1;
    recall_asked_ = 0;
    return slot;
}

bool ZevRamPara::take_mode_save_word(bool byRefresh)
{
    const u16 w = img16(Img::kModeToSave);
    if (w == 0 || w > kUserModeCount)
        return false;
    save_mode(w - 1);
    refresh_save_ = byRefresh;
    return true;
}

bool ZevRamPara::take_refresh_save()
{
    const bool taken = refresh_save_;
    refresh_save_ = false;
    return taken;
}

int ZevRamPara::store_saved_mode(int slot)
{
    if (!validSlot(slot))
        return -1;
    const u32 bit = 1u << slot;
    QMutexLocker files(&modes_file_mutex);
    for (int attempt = 0; attempt < kFileTries; ++attempt) {
        u8 copy[kUserModeFileSize];
        u32 change;
        {
            C331Lock lock;
            if (!(saves_asked_ & bit))
                return -1;
            // A slot the PC emptied since has no mode to store: its file
            // follows the rewrite of the modes.
            if (!ZevUserModeSaved(slot)) {
                saves_asked_ &= ~bit;
                return -1;
            }
            std::memcpy(copy, user_mode[slot], sizeof copy);
            change = slot_changes_[slot];
        }
        if (!write_mode_copy(slot, copy, true))
            return 0;
        C331Lock lock;
        if (slot_changes_[slot] == change) {
            saves_asked_ &= ~bit;
            note_filed(slot, change);
            return 1;
        }
    }
    // The slot kept changing under the writes: the save stays asked.
    return 0;
}

int ZevRamPara::ZevModeUserRamParaDeal(const u8* data, int length, u32 address)
{
    u32 mode = (address >> 12) & 0xFF;
    if (mode == 0 || mode > kUserModeCount)
        return 1;
    u32 offset = address & 0xFFF;
    if (length < 0 || uint64_t(offset) + uint64_t(length) > kUserModeSlotSize)
        return 1;
    u8* m = user_mode[mode - 1];
    std::memcpy(m + offset, data, size_t(length));
    // A save whose file waits stores the slot as it stands, this upload
    // included; one the upload empties is dropped when its file is tried.
    ++slot_changes_[mode - 1];
    // The PC empties a slot by writing a marker 0xFF: the next rewrite of
    // the modes deletes its file.
    if (offset < 2 && length > 0)
        mode_emptied_[mode - 1] = m[0] == 0xFF || m[1] == 0xFF;
    return 0;
}

int ZevRamPara::mode_file_deal(int slot, int op)
{
    if (!validSlot(slot))
        return 0;
    // The slots are read and changed under the apply mutex (the PC links
    // read and upload them); files are read and written outside it. A slot
    // saved or uploaded meanwhile keeps what that made it.
    QMutexLocker files(&modes_file_mutex);
    u8* m = user_mode[slot];
    u32 change;
    bool menu;
    {
        C331Lock lock;
        change = slot_changes_[slot];
        menu = get16(m, kSlotMenuFlag) == 1;
    }
    if (op == 1) {
        const bool deleted = delete_mode_files(slot, menu);
        C331Lock lock;
        if (slot_changes_[slot] != change)
            return ZevUserModeSaved(slot);
        if (!deleted) {
            // A file left in place is not read back: the slot stays empty,
            // and emptied, for a later try to delete it.
            empty_mode_slot(slot);
            return -1;
        }
        if (menu)
            put16(m, kSlotMenuFlag, 0);
    }
    QByteArray b;
    board::FileRead read;
    {
        // A file left longer than the box writes it gives its first bytes.
        QMutexLocker lock(&Utils::_file_deal_mutex);
        read = board::read_head(board::path(modeFilePath(slot)), kUserModeFileSize, &b);
    }
    // A file cut short is still the mode while it holds its markers and
    // every byte of the mode.
    const bool marked = b.size() >= 2 && u8(b[0]) == 0xAA && u8(b[1]) == 0xAA;
    const bool usable = read == board::FileRead::whole &&
                        (b.size() == kUserModeFileSize || (marked && b.size() >= 2 + Img::kModeBytes));
    if (read == board::FileRead::unreadable)
        zevlog::stored_file(lcCore(), modeFilePath(slot),
                            "cannot be read: the mode shows empty, the file is kept as it is");
    else if (read != board::FileRead::missing && !(usable && marked))
        zevlog::stored_file(lcCore(), modeFilePath(slot),
                            "is damaged: the mode shows empty, the file is kept as it is");
    C331Lock lock;
    if (slot_changes_[slot] != change)
        return ZevUserModeSaved(slot);
    mode_emptied_[slot] = false;
    // Only a file the box itself would write is taken as holding the slot;
    // a rewrite of the modes writes one cut short whole.
    filed_[slot] = false;
    if (read == board::FileRead::missing || (usable && marked && b.size() == kUserModeFileSize))
        note_filed(slot, change);
    if (usable) {
        std::memset(m, 0, kUserModeFileSize);
        std::memcpy(m, b.constData(), size_t(b.size()));
        return 1;
    }
    m[0] = 0xFF;
    m[1] = 0xFF;
    return 0;
}

void ZevRamPara::empty_mode_slot(int slot)
{
    if (!validSlot(slot))
        return;
    user_mode[slot][0] = 0xFF;
    user_mode[slot][1] = 0xFF;
    mode_emptied_[slot] = true;
    ++slot_changes_[slot];
    saves_asked_ &= ~(1u << slot);
    // Its file goes.
    files_wanted_ |= 1u << slot;
}

int ZevRamPara::mode_file_write(int slot, int op)
{
    if (!validSlot(slot))
        return 0;
    // The file is written from a copy: a PC upload into the slot goes on
    // under the apply mutex meanwhile and never reaches the file half done.
    QMutexLocker files(&modes_file_mutex);
    u8 copy[kUserModeFileSize];
    u32 change;
    {
        C331Lock lock;
        u8* m = user_mode[slot];
        if (op == 1 || !ZevUserModeSaved(slot))
            ++slot_changes_[slot];
        m[0] = 0xAA;
        m[1] = 0xAA;
        if (op == 1)
            std::memcpy(m + 2, img() + Img::kModeStart, Img::kModeBytes);
        std::memcpy(copy, m, sizeof copy);
        change = slot_changes_[slot];
    }
    const bool written = write_mode_copy(slot, copy, op == 0);
    if (written)
        syncAndSettle();
    // An emptied slot whose file was not written still waits to lose it.
    C331Lock lock;
    if (written && slot_changes_[slot] == change) {
        mode_emptied_[slot] = false;
        note_filed(slot, change);
    }
    return written ? 1 : 0;
}

ZevRamPara::ModeFile ZevRamPara::store_mode_file(int slot)
{
    if (!validSlot(slot))
        return {ModeFile::nothing, true};
    QMutexLocker files(&modes_file_mutex);
    const u32 bit = 1u << slot;
    ModeFile result{ModeFile::nothing, true};
    for (int attempt = 0; attempt < kFileTries; ++attempt) {
        u8 copy[kUserModeFileSize];
        u32 change;
        bool menu = false;
        {
            C331Lock lock;
            u8* m = user_mode[slot];
            change = slot_changes_[slot];
            // A file that already holds the slot is not written again: a
            // rewrite asked many times writes each slot once.
            if (slot_filed(slot)) {
                files_wanted_ &= ~bit;
                return result;
            }
            if (m[0] < 0xFF && m[1] < 0xFF && (m[0] == 0xAA || m[1] == 0xAA)) {
                result.ask = ModeFile::write;
                m[0] = 0xAA;
                m[1] = 0xAA;
                std::memcpy(copy, m, sizeof copy);
            } else if ((m[0] == 0xFF || m[1] == 0xFF) && mode_emptied_[slot]) {
                result.ask = ModeFile::remove;
                menu = get16(m, kSlotMenuFlag) == 1;
            } else {
                // Shows empty without being emptied (a file that could not
                // be read, or none): its file stays as it is.
                files_wanted_ &= ~bit;
                return {ModeFile::nothing, true};
            }
        }
        const bool done =
            result.ask == ModeFile::write ? write_mode_copy(slot, copy, false) : delete_mode_files(slot, menu);
        C331Lock lock;
        if (slot_changes_[slot] != change)
            continue;
        if (done) {
            mode_emptied_[slot] = false;
            if (menu)
                put16(user_mode[slot], kSlotMenuFlag, 0);
            note_filed(slot, change);
            files_wanted_ &= ~bit;
        }
        result.done = done;
        return result;
    }
    // The slot kept changing under the file: it waits, and is tried again.
    result.done = false;
    return result;
}

ZevRamPara::Reset ZevRamPara::factory_reset_modes(const std::function<void()>& reset)
{
    QMutexLocker files(&modes_file_mutex);
    u32 changes[kUserModeCount];
    {
        // A write of the image that took its snapshot before the reset
        // lands before the factory image, never after it.
        QMutexLocker file(&image_file_mutex);
        u8 factory[Img::kSize];
        {
            ImageReadLock lock;
            std::memcpy(factory, img(), sizeof factory);
        }
        factory_reset_into(factory);
        if (!write_image_file(factory, true))
            return Reset::refused;
        c331_apply(1, [&] {
            reset();
            // Nothing the PC asked of the modes outlives the reset.
            recall_asked_ = 0;
            refresh_save_ = false;
            for (int s = 0; s < kUserModeCount; ++s) {
                empty_mode_slot(s);
                changes[s] = slot_changes_[s];
            }
        });
    }
    syncAndSettle();
    if (Utils::system_mutex("rm  -rf  /data/modes/*") != 0)
        return Reset::files_left;
    // A slot saved since the empty (a PC save meanwhile) keeps what it asks
    // of its file.
    C331Lock lock;
    for (int s = 0; s < kUserModeCount; ++s)
        if (slot_changes_[s] == changes[s]) {
            mode_emptied_[s] = false;
            note_filed(s, changes[s]);
            files_wanted_ &= ~(1u << s);
        }
    return Reset::done;
}

bool ZevRamPara::delete_mode_files(int slot, bool menu)
{
    bool deleted = Utils::system_mutex(QString("rm  -rf  %1").arg(QString::fromStdString(modeFilePath(slot)))) == 0;
    usleep(100);
    if (menu && Utils::system_mutex(QString("rm  -rf  %1").arg(QString::fromStdString(modeMenuPath(slot)))) != 0)
        deleted = false;
    usleep(100);
    Utils::system_mutex("sync");
    usleep(100);
    return deleted;
}

bool ZevRamPara::write_mode_copy(int slot, const u8* copy, bool withMenu)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (!board::write_whole(board::path(modeFilePath(slot)), copy, kUserModeFileSize))
        return false;
    if (!withMenu)
        return true;
    // The OSD menu is read as every stored file is: whole, bounded, and
    // never blocking on a FIFO in its place. One that cannot be read is no
    // menu: the mode is what counts, and it is saved without one.
    QByteArray menu;
    switch (board::read_whole(board::path(kMenuFile), json_read::kMaxFileBytes, &menu)) {
    case board::FileRead::missing:
        break;
    case board::FileRead::damaged:
        zevlog::stored_file(lcCore(), kMenuFile,
                            "is larger than a menu: modes are saved without it, the file is kept as it is");
        break;
    case board::FileRead::unreadable:
        zevlog::stored_file(lcCore(), kMenuFile,
                            "cannot be read: modes are saved without it, the file is kept as it is");
        break;
    case board::FileRead::whole:
        return board::write_whole(board::path(modeMenuPath(slot)), menu.constData(), size_t(menu.size()));
    }
    return true;
}
