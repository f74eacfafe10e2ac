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

bool ZevRamPara::mode_emptied_[kUserModeCount];
u32 ZevRamPara::saves_asked_ = 0;
u32 ZevRamPara::slot_changes_[kUserModeCount];
u16 ZevRamPara::recall_asked_ = 0;

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
} // namespace

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
    return true;
}

void ZevRamPara::note_mode_word_write(u32 address, int length, u16 before)
{
    const u16 mode = img16(Img::kCurrentMode);
    // A write of the two mode words alone is the PC's recall even when the
    // word already names the mode (it was just saved, or nothing since
    // cleared it); a larger write asks only by changing the word.
    const bool modeWordsOnly = address >= u32(Img::kCurrentMode) && address + u32(length) <= u32(Img::kModeToSave + 2);
    if (mode == 0 || mode > kUserModeCount)
        recall_asked_ = 0;
    else if (modeWordsOnly || mode != before)
        recall_asked_ = mode;
}

int ZevRamPara::take_recall_asked()
{
    const int slot = int(recall_asked_) - 1;
    recall_asked_ = 0;
    return slot;
}

bool ZevRamPara::take_mode_save_word()
{
    const u16 w = img16(Img::kModeToSave);
    if (w == 0 || w > kUserModeCount)
        return false;
    save_mode(w - 1);
    return true;
}

int ZevRamPara::store_saved_mode(int slot)
{
    if (!validSlot(slot))
        return -1;
    const u32 bit = 1u << slot;
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
    if (slot_changes_[slot] == change)
        saves_asked_ &= ~bit;
    return 1;
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
    u8* m = user_mode[slot];
    const int menuFlag = 2 + Img::kOsdMenuFlag - Img::kModeStart;
    u32 change;
    {
        C331Lock lock;
        change = slot_changes_[slot];
    }
    if (op == 1) {
        bool deleted = Utils::system_mutex(QString("rm  -rf  %1").arg(QString::fromStdString(modeFilePath(slot)))) == 0;
        usleep(100);
        bool menu;
        {
            C331Lock lock;
            menu = get16(m, menuFlag) == 1;
        }
        if (menu && Utils::system_mutex(QString("rm  -rf  %1").arg(QString::fromStdString(modeMenuPath(slot)))) == 0) {
            C331Lock lock;
            put16(m, menuFlag, 0);
        } else if (menu) {
            deleted = false;
        }
        usleep(100);
        Utils::system_mutex("sync");
        usleep(100);
        if (!deleted) {
            // A file left in place is not read back: the slot stays empty,
            // and emptied, for a later try to delete it.
            C331Lock lock;
            if (slot_changes_[slot] == change)
                empty_mode_slot(slot);
            return -1;
        }
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
    if (usable) {
        std::memset(m, 0, kUserModeFileSize);
        std::memcpy(m, b.constData(), size_t(b.size()));
        return 1;
    }
    m[0] = 0xFF;
    m[1] = 0xFF;
    return 0;
}

bool ZevRamPara::mode_emptied(int slot)
{
    C331Lock lock;
    return validSlot(slot) && mode_emptied_[slot];
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
}

int ZevRamPara::mode_file_write(int slot, int op)
{
    if (!validSlot(slot))
        return 0;
    // The file is written from a copy: a PC upload into the slot goes on
    // under the apply mutex meanwhile and never reaches the file half done.
    u8 copy[kUserModeFileSize];
    bool emptied;
    {
        C331Lock lock;
        u8* m = user_mode[slot];
        m[0] = 0xAA;
        m[1] = 0xAA;
        if (op == 1) {
            std::memcpy(m + 2, img() + Img::kModeStart, Img::kModeBytes);
            ++slot_changes_[slot];
        }
        std::memcpy(copy, m, sizeof copy);
        emptied = mode_emptied_[slot];
        mode_emptied_[slot] = false;
    }
    const bool written = write_mode_copy(slot, copy, op == 0);
    if (!written) {
        // An emptied slot whose file waits to be deleted still does.
        C331Lock lock;
        mode_emptied_[slot] = mode_emptied_[slot] || emptied;
    }
    return written ? 1 : 0;
}

bool ZevRamPara::write_mode_copy(int slot, const u8* copy, bool withMenu)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (!board::write_whole(board::path(modeFilePath(slot)), copy, kUserModeFileSize))
        return false;
    syncAndSettle();
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
