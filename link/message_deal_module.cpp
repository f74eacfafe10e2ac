// Module files of the cloud link (groups 0xCC, 0xC5 to 0xCB): the barcode
// (F001), the certificate (F002) and the cloud settings (F004), and the 4G
// module's status (0x8E, 0x8F).
//
// A send and a read each belong to the client that started them, as file
// transfers do: another client's start is answered "not available" (78)
// while it is open, and another client's data, end and cancel "wrong
// transfer id" (74), so that no client installs or is handed bytes of
// another's transfer.
#include <cstdio>
#include <cstring>
#include <vector>

#include <QMutexLocker>

#include "board/board.h"
#include "core/config_engine.h"
#include "core/utils.h"
#include "link/file_install.h"
#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "link/transfer_owner.h"
#include "link/message_remote.h"

namespace
{
// One transfer: file number (1, 2, 4; 0 none), transfer id, bytes moved,
// size.
struct yp_file {
    u8 file = 0;
    u16 id = 0;
    u32 count = 0;
    u32 size = 0;
};
yp_file g_yp_s_file;
yp_file g_yp_r_file;
TransferOwner g_yp_s_owner;
TransferOwner g_yp_r_owner;
// The file being sent, staged behind its head: a module file is small (at
// most its limit), and a buffer of its own keeps it apart from the file
// transfers' staging buffer.
std::vector<u8> g_yp_s_data;

enum : u8 {
    kDone = 200,
    kReady = 64,
    kExists = 65,
    kTooLarge = 66,
    kWrongId = 74,
    kOutOfOrder = 75,
    kSizeDiffers = 76,
    kCountDiffers = 77,
    kOtherEnd = 44,
    kNotAvailable = 78
};

struct file_kind {
    char name[5];
    u8 file;
    u16 id;
    const char* path; // null: the barcode setting
    u32 limit;
    u32 head; // bytes ahead of the data in the file
};
const file_kind kFiles[] = {
    {"F001", 1, 100, nullptr, 4096, 0},
    {"F002", 2, 101, "/data/configs/cloud_cafile", 32768, 7},
    {"F004", 4, 102, "/data/configs/cloud_setinfo", 4096, 3},
};
// Data bytes a read reply carries at most.
constexpr u32 kReadBlock = 768;

const file_kind* by_name(const u8* id)
{
    for (const file_kind& k : kFiles)
        if (std::memcmp(id, k.name, 4) == 0)
            return &k;
    return nullptr;
}
const file_kind* by_number(u8 file)
{
    for (const file_kind& k : kFiles)
        if (k.file == file)
            return &k;
    return nullptr;
}

u16 get16(const u8* p)
{
    return u16(p[0] | (p[1] << 8));
}
u32 get32(const u8* p)
{
    return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
}
void put16(u8* p, u32 v)
{
    p[0] = u8(v);
    p[1] = u8(v >> 8);
}
void put32(u8* p, u32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = u8(v >> (8 * i));
}

// Reply of the send groups and most others: status, code, flag, id.
int answer5(u8* body, u8 code, bool ok, u16 id)
{
    body[10] = ok ? 0 : 1;
    body[11] = code;
    body[12] = ok ? 0 : 1;
    put16(body + 13, id);
    return 5;
}

// Answer to a client whose request is for another client's transfer.
int refuse_foreign(u8* body)
{
    return answer5(body, kWrongId, false, 0);
}

// Whether a stored file is there: a plain file that opens. A FIFO or
// anything else in its place is none, and is never waited on.
bool file_exists(const char* path)
{
    return Utils::read_file_at(QString(path), 0, nullptr, 0) == Utils::FILE_READ;
}

// Written beside the stored file and renamed over it: a failed write (a
// full partition) keeps the file there was, or leaves none.
bool write_file(const char* path, const u8* data, u32 length)
{
    const bool ok = file_install::write_file(path, data, length) == file_install::Result::Installed;
    syncAndSettle();
    return ok;
}

// The size of a module file's stored data: its head's size, bounded by what
// is stored. False when it is missing or cannot be read. A file stored with
// the overwrite flag is held to no new-file limit, only to what a transfer
// stages.
bool stored_size(const file_kind& k, u32* size)
{
    if (!k.path) {
        *size = u32(Utils::net_identity().barcode.toUtf8().size());
        return true;
    }
    u8 head[7];
    int64_t length = 0;
    if (Utils::read_file_at(k.path, 0, head, k.head, &length) != Utils::FILE_READ ||
        length > int64_t(k.head + kFileBufSize))
        return false;
    u32 declared = k.file == 2 ? get32(head + 3) : u32(get16(head + 1));
    if (k.file == 4)
        declared = declared >= 2 ? declared - 2 : 0;
    *size = qMin<u32>(declared, u32(length) - k.head);
    return true;
}

// n bytes of a module file's stored data from offset, read piece by piece:
// a certificate may be megabytes long.
bool stored_block(const file_kind& k, u32 offset, u8* out, u32 n)
{
    if (!k.path) {
        const QByteArray text = Utils::net_identity().barcode.toUtf8();
        if (uint64_t(offset) + n > u32(text.size()))
            return false;
        std::memcpy(out, text.constData() + offset, n);
        return true;
    }
    return Utils::read_file_at(k.path, k.head + uint64_t(offset), out, n) == Utils::FILE_READ;
}
} // namespace

int message_deal::YP_SendFile(u8* body, int length)
{
    const Sender me{this, peer_};
    if (g_yp_s_owner.busy_for(me))
        return answer5(body, kNotAvailable, false, 0);
    if (length < 19)
        return answer5(body, kReady, false, 0);
    const file_kind* k = by_name(body + 10);
    const u32 size = get32(body + 14);
    const bool overwrite = body[18] == 1;
    // Every start, refused or not, replaces the transfer in progress.
    g_yp_s_data.assign(k && k->path ? k->head + k->limit : 0, 0);
    if (!k) {
        g_yp_s_owner.drop();
        g_yp_s_file = yp_file{0, 0, 0, size};
        return answer5(body, kReady, false, 0);
    }
    g_yp_s_file = yp_file{k->file, k->id, 0, size};
    g_yp_s_owner.take(me);
    // Without the overwrite flag a stored file is there first, whatever the
    // size. A start refused so holds no other client back.
    if (!overwrite && k->path && file_exists(k->path)) {
        g_yp_s_owner.close();
        return answer5(body, kExists, false, k->id);
    }
    // Over the limit even with the overwrite flag: the data would not fit
    // the staging buffer (and the data step refuses what would not).
    if (size > k->limit) {
        g_yp_s_owner.close();
        return answer5(body, kTooLarge, false, k->id);
    }
    if (overwrite) {
        if (k->file == 1) {
            ConfigEngine* c = ConfigEngine::pInstance();
            const bool stored = c->write_config_variant(ConfigItem::Barcode, QString(" "));
            syncAndSettle();
            Utils::set_net_barcode(c->read_config_variant(ConfigItem::Barcode).toString());
            if (!stored) {
                g_yp_s_owner.close();
                return answer5(body, kNotAvailable, false, k->id);
            }
        }
        return answer5(body, kDone, true, k->id);
    }
    return answer5(body, kReady, false, k->id);
}

int message_deal::YP_SendFileData(u8* body, int length)
{
    if (g_yp_s_owner.foreign(Sender{this, peer_}))
        return refuse_foreign(body);
    g_yp_s_owner.heard();
    yp_file& s = g_yp_s_file;
    const u16 id = length >= 12 ? get16(body + 10) : 0;
    const u32 offset = length >= 16 ? get32(body + 12) : 0;
    const u32 L = length >= 18 ? get16(body + 16) : 0;
    const file_kind* k = by_number(s.file);
    // Stored data never pass the file's limit, whatever size was announced.
    const bool over = length < 18 || uint64_t(s.count) + L > s.size || 18 + int(L) > length ||
                      (k && k->path && uint64_t(s.count) + L > k->limit);
    if (id != s.id)
        return answer5(body, over ? kSizeDiffers : (offset == s.count ? kWrongId : kOutOfOrder), false, s.id);
    if (offset != s.count)
        return answer5(body, over ? kSizeDiffers : kOutOfOrder, false, s.id);
    if (over)
        return answer5(body, kSizeDiffers, false, s.id);
    if (k && k->path) {
        if (g_yp_s_data.size() < k->head + uint64_t(offset) + L)
            return answer5(body, kSizeDiffers, false, s.id);
        std::memcpy(g_yp_s_data.data() + k->head + offset, body + 18, L);
        s.count += L;
    }
    return answer5(body, kDone, true, s.id);
}

int message_deal::YP_SendFileEND(u8* body, int length)
{
    if (g_yp_s_owner.foreign(Sender{this, peer_}))
        return refuse_foreign(body);
    g_yp_s_owner.heard();
    yp_file& s = g_yp_s_file;
    const u16 id = length >= 12 ? get16(body + 10) : 0;
    const u32 total = length >= 16 ? get32(body + 12) : 0xFFFFFFFF;
    if (id != s.id)
        return answer5(body, total != s.size ? kSizeDiffers : kWrongId, false, s.id);
    if (total != s.size)
        return answer5(body, kSizeDiffers, false, s.id);
    const file_kind* k = by_number(s.file);
    if (!k || !k->path) {
        g_yp_s_owner.close();
        return answer5(body, kDone, true, s.id);
    }
    // Every byte announced must have come; until then the transfer stays
    // open for the rest.
    if (s.count != s.size)
        return answer5(body, kCountDiffers, false, s.id);
    if (g_yp_s_data.size() < k->head + uint64_t(s.count))
        return answer5(body, kCountDiffers, false, s.id);
    g_yp_s_owner.close();
    u8* head = g_yp_s_data.data();
    head[0] = 0xAA;
    if (k->file == 2) {
        put16(head + 1, k->id);
        put32(head + 3, s.size);
    } else {
        put16(head + 1, s.count + 2);
    }
    const bool written = write_file(k->path, head, s.count + k->head);
    std::vector<u8>().swap(g_yp_s_data);
    if (!written)
        return answer5(body, kNotAvailable, false, s.id);
    if (k->file == 4) {
        g_4G_RAM[56] = 0;
        if (message_remote* remote = message_remote::installed())
            remote->settings_installed();
    }
    return answer5(body, kDone, true, s.id);
}

int message_deal::YP_SendFileCancel(u8* body, int length)
{
    if (g_yp_s_owner.foreign(Sender{this, peer_}))
        return refuse_foreign(body);
    const u16 id = length >= 12 ? get16(body + 10) : 0;
    if (id != g_yp_s_file.id)
        return answer5(body, kWrongId, false, g_yp_s_file.id);
    g_yp_s_owner.drop();
    g_yp_s_file = yp_file{};
    std::vector<u8>().swap(g_yp_s_data);
    return answer5(body, kDone, true, id);
}

int message_deal::YP_RecvFile(u8* body, int length)
{
    const Sender me{this, peer_};
    yp_file& r = g_yp_r_file;
    const file_kind* k = length >= 14 ? by_name(body + 10) : nullptr;
    std::memset(body + 10, 0, 9);
    u32 size = 0;
    if (g_yp_r_owner.busy_for(me)) {
        body[10] = 1;
        body[11] = kNotAvailable;
        body[12] = 1;
        return 9;
    }
    if (!k) {
        g_yp_r_owner.drop();
        r = yp_file{};
        body[10] = 1;
        body[11] = kNotAvailable;
        body[12] = 1;
        return 9;
    }
    if (!stored_size(*k, &size)) {
        g_yp_r_owner.drop();
        r = yp_file{};
        syncAndSettle();
        body[10] = 1;
        body[11] = kNotAvailable;
        body[12] = 1;
        body[13] = u8(k->id);
        return 9;
    }
    // The settings file's head counts its own two length bytes.
    r = yp_file{k->file, k->id, 0, size + (k->file == 4 ? 2 : 0)};
    g_yp_r_owner.take(me);
    body[11] = kDone;
    body[13] = u8(k->id);
    put32(body + 15, r.size);
    return 9;
}

int message_deal::YP_RecvFileData(u8* body, int length)
{
    const bool foreign = g_yp_r_owner.foreign(Sender{this, peer_});
    yp_file& r = g_yp_r_file;
    const u16 id = length >= 12 ? get16(body + 10) : 0;
    const u32 offset = length >= 16 ? get32(body + 12) : 0xFFFFFFFF;
    std::memset(body + 10, 0, 11);
    if (foreign) {
        body[10] = 1;
        body[11] = kWrongId;
        body[12] = 1;
        return 11;
    }
    g_yp_r_owner.heard();
    put16(body + 13, r.id);
    put32(body + 15, r.count);
    body[10] = 1;
    body[12] = 1;
    if (id != r.id) {
        body[11] = offset == r.count ? kWrongId : kOutOfOrder;
        return 11;
    }
    if (offset != r.count) {
        body[11] = kOutOfOrder;
        return 11;
    }
    const file_kind* k = by_number(r.file);
    u32 size = 0;
    bool readable = k && stored_size(*k, &size);
    // Up to the size announced at the start; what it counts beyond the
    // stored data (the settings head's two length bytes) goes out as zeros.
    u32 n = readable && r.count < r.size ? qMin(r.size - r.count, kReadBlock) : 0;
    u32 stored = r.count < size ? qMin(n, size - r.count) : 0;
    if (stored && !stored_block(*k, r.count, body + 21, stored))
        readable = false;
    if (k && !readable) {
        syncAndSettle();
        n = stored = 0;
    }
    std::memset(body + 21 + stored, 0, n - stored);
    r.count += n;
    body[10] = 0;
    body[11] = kDone;
    body[12] = 0;
    put32(body + 15, r.count);
    put16(body + 19, n);
    return int(n) + 11;
}

int message_deal::YP_RecvFileEnd(u8* body, int length)
{
    if (g_yp_r_owner.foreign(Sender{this, peer_}))
        return refuse_foreign(body);
    g_yp_r_owner.heard();
    const yp_file& r = g_yp_r_file;
    const u16 id = length >= 12 ? get16(body + 10) : 0;
    const u32 total = length >= 16 ? get32(body + 12) : 0xFFFFFFFF;
    if (id != r.id)
        return answer5(body, total == r.count ? kOtherEnd : kCountDiffers, false, r.id);
    if (total == r.count)
        g_yp_r_owner.close();
    return answer5(body, total == r.count ? kDone : kCountDiffers, total == r.count, r.id);
}

int message_deal::YP_RecvFileCancel(u8* body, int length)
{
    if (g_yp_r_owner.foreign(Sender{this, peer_}))
        return refuse_foreign(body);
    const u16 id = length >= 12 ? get16(body + 10) : 0;
    if (id != g_yp_r_file.id)
        return answer5(body, kWrongId, false, g_yp_r_file.id);
    g_yp_r_owner.drop();
    g_yp_r_file = yp_file{};
    return answer5(body, kDone, true, id);
}

int message_deal::get_yp_module_info(u8* body, int /*length*/)
{
    if (body[10] != 1) {
        body[10] = 1;
        return 1;
    }
    body[10] = 0;
    body[11] = 1;
    std::memcpy(body + 12, g_4G_RAM, 56);
    body[68] = 0;
    body[69] = 0;
    return 60;
}

int message_deal::check_yp_module(u8* body, int /*length*/)
{
    message_remote* remote = message_remote::installed();
    if (g_4G_RAM[0] == 0xAA && g_4G_RAM[56] != 0) {
        body[10] = 0;
        body[11] = 1;
        body[12] = g_4G_RAM[56];
    } else if (remote && remote->cloud_connected()) {
        body[10] = 0;
        body[11] = 2;
        body[12] = 1;
    } else {
        body[10] = 1;
        body[11] = 2;
        body[12] = 0;
    }
    return 3;
}
