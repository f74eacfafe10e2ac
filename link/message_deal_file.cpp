// File transfers of the PC tool (group 0xC0): whole files sent to the box
// and installed after their MD5 check (application, kernel, boot logo, alias
// and OSD-menu JSON files, receiving-card record files), files read back,
// and the record folders emptied.
//
// A write transfer holds the staging buffer fileBuf_tarvo and its digest from
// its start to its end request, so no other command (a read transfer, a
// module transfer, a flash command) can change what its end request checks
// and installs; the end request gives the memory back. It belongs to the
// client that started it: another client's start is refused while it is
// under way, and another client's blocks and end are refused. A read
// transfer belongs to its client the same way.
#include "link/message_deal_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <algorithm>

#include <QMutexLocker>

#include "board/board.h"
#include "board/file_read.h"
#include "core/json_read.h"
#include "core/staging.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "ledout/rcv_recovery_file.h"
#include "link/block_digest.h"
#include "link/file_install.h"
#include "link/frame_reader.h"
#include "link/message_deal.h"
#include "link/message_deal_fpga.h"
#include "link/protocol_phy.h"
#include "link/transfer_owner.h"
#include "core/logging.h"

message_deal::ReadFile message_deal::file_tarvo;
MD5 message_deal::md5;
FileCommandHooks g_file_command_hooks;

namespace
{
constexpr int kEcho = 11;
constexpr int kResult = 12;

constexpr char kAppPath[] = "/data/app/zevQ64N2";
constexpr char kKernelMtd[] = "/dev/mtd10";
constexpr char kLogoMtd[] = "/dev/mtd8";
constexpr char kAliasPath[] = "/data/configs/alias.json";
constexpr char kMenuPath[] = "/data/configs/omenu.json";
constexpr char kRecoveryDir[] = "/data/rcvrecovery";
constexpr char kScanDir[] = "/data/smartmapping";

// Sizes written to the flash partitions whatever the file size.
constexpr u32 kKernelImage = 0x500000;
constexpr u32 kLogoImage = 0x60000;
constexpr u32 kLogoHeader = 372;

// The longest block a read reply can carry: the reply body is the block, the
// 10 header bytes, status, echo and BCC.
constexpr u32 kMaxReadBlock = u32(pc::kMaxReplyBody - 13);

// Kinds whose blocks are stored: their buffer, and where block address 0
// lands in it (the logo goes behind its header).
struct KindBuffer {
    u8 kind;
    u32 buffer;
    u32 data_at;
};
// The OSD menus (7, 8) are as large as their reader takes them.
constexpr KindBuffer kKinds[] = {
    {1, 0x500000, 0},
    {3, kKernelImage, 0},
    {4, kLogoImage, kLogoHeader},
    {5, 0x60000, 0},
    {7, u32(json_read::kMaxFileBytes), 0},
    {8, u32(json_read::kMaxFileBytes), 0},
    {9, kFileBufSize, 0},
    {13, kFileBufSize, 0},
};

const KindBuffer* buffer_of(u8 kind)
{
    for (const KindBuffer& k : kKinds)
        if (k.kind == kind)
            return &k;
    return nullptr;
}

// Record files are bounded in count and size, and a file written to the data
// partition must leave room behind it, so that the PC can never fill the
// partition the settings and the parameter image are saved on.
constexpr int kMaxRecordFiles = 16;                      // in each record folder
constexpr uint64_t kMaxRecordBytes = uint64_t(16) << 20; // both folders
constexpr uint64_t kDataReserve = uint64_t(1) << 20;

// The file is staged in fileBuf_tarvo from the start to the end request,
// which gives the memory back.
struct WriteTransfer {
    u32 data_at = 0;
    // The blocks in the order they came.
    BlockDigest stream;
    // Where the next block goes when every block so far followed the one
    // before it from address 0: the staged file is then the blocks as they
    // came, and their digest is the file's. False after a block elsewhere.
    uint64_t next = 0;
    bool in_order = true;
    // End of the furthest block stored, past the start of the buffer.
    uint64_t high = 0;
    // The client whose start was taken (none after a refused start).
    TransferOwner owner;
    // The answer (status, echo, result) of the end request that gave the
    // staged file back, for an end request repeated after it.
    bool answered = false;
    u8 answer[3] = {};
};

// The client whose read file (file_tarvo) is open.
TransferOwner& reading()
{
    static TransferOwner r;
    return r;
}

// A fresh transfer: nothing staged, nothing answered.
void restart(WriteTransfer& t, u32 dataAt)
{
    t.stream.reset();
    fileBuf_tarvo.release();
    t.data_at = dataAt;
    t.next = 0;
    t.in_order = true;
    t.high = 0;
    t.answered = false;
}

WriteTransfer& transfer()
{
    static WriteTransfer t;
    return t;
}

// Fixed header of the boot-logo image (the panel's parameter block); the
// logo's size goes at 360.
struct LogoHeader {
    u8 b[kLogoHeader] = {};
    LogoHeader();
};

LogoHeader::LogoHeader()
{
    struct Row {
        int at;
        u8 b[16];
        int n;
    };
    static const Row rows[] = {
        {0, {0x53, 0x53, 0x54, 0x41, 0x52, 0, 0, 0, 0x02, 0, 0, 0, 0x44, 0x49, 0x53, 0x50}, 16},
        {32, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x01, 0, 0}, 16},
        {48, {0x38, 0, 0, 0, 0x01, 0, 0, 0, 0x44, 0, 0, 0, 0, 0, 0x30, 0}, 16},
        {64, {0, 0, 0x30, 0x03, 0x01, 0, 0, 0, 0x4C, 0x4D, 0x54, 0x30, 0x35, 0x30, 0x5F, 0x4E}, 16},
        {80, {0x41, 0x44}, 16},
        {96, {0, 0, 0, 0, 0, 0, 0, 0, 0x30, 0x96, 0x04, 0x08, 0, 0, 0, 0}, 16},
        {112, {0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x01, 0x01}, 16},
        {128, {0x01, 0x02, 0x02, 0x01, 0x01, 0x01, 0x01, 0, 0x01, 0, 0x01, 0, 0x01, 0, 0x01, 0}, 16},
        {144, {0x0A, 0, 0x0C, 0, 0x04, 0, 0x0C, 0, 0, 0, 0, 0, 0x40, 0x01, 0xF0, 0}, 16},
        {160, {0x68, 0x01, 0x68, 0x01, 0x68, 0x01, 0x18, 0x01, 0x18, 0x01, 0x18, 0x01, 0x07, 0, 0x07, 0}, 16},
        {176, {0x06, 0, 0x19, 0, 0xC0, 0, 0xA0, 0xFF, 0x50, 0, 0, 0, 0x01, 0, 0, 0}, 16},
        {192, {0, 0, 0, 0, 0x02, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0}, 16},
        {208, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0}, 16},
        {224, {0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0x02, 0, 0, 0}, 16},
        {240, {0x03, 0, 0, 0, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16},
        {320, {0, 0, 0, 0, 0, 0, 0, 0, 0x4C, 0x4F, 0x47, 0x4F, 0, 0, 0, 0}, 16},
        {352, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2C, 0, 0, 0}, 16},
        {368, {0x01, 0, 0, 0}, 4},
    };
    for (const Row& r : rows)
        std::memcpy(b + r.at, r.b, size_t(r.n));
}

const u8* logo_header()
{
    static const LogoHeader h;
    return h.b;
}

void reply(u8* body, u8 status, u8 echo, u8 result)
{
    body[pc::kStatus] = status;
    body[kEcho] = echo;
    body[kResult] = result;
}

void call(const std::function<void()>& hook)
{
    if (hook)
        hook();
}

// The OSD menu of user mode 1..16 from the two hexadecimal characters of a
// tag ("MO0a" is mode 10); empty when they name no mode.
std::string mode_menu_path(const u8* two)
{
    if (!std::isxdigit(two[0]) || !std::isxdigit(two[1]))
        return std::string();
    bool ok = false;
    int mode = QByteArray(reinterpret_cast<const char*>(two), 2).toInt(&ok, 16);
    if (!ok || mode < 1 || mode > 16)
        return std::string();
    char name[40];
    std::snprintf(name, sizeof name, "/data/modes/MO%02x.json", unsigned(mode));
    return name;
}

void close_read_file()
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    message_deal::file_tarvo = message_deal::ReadFile{};
    reading().drop();
}

// Answer of a read start that opened nothing.
int read_none(u8* body, u8 echo)
{
    reply(body, 0, echo, 0);
    put_le32(body + 13, 0);
    return 7;
}

// Opens the file of a kind at path for a read transfer, closing one left
// open, and answers whether it was found and its size. It is read whole, at
// most as large as a write of its kind may be and without blocking: a FIFO
// or anything else that is no plain file in its place is no file. Another
// client's read heard from lately is left open, and the start refused.
int open_read(u8* body, u8 kind, const std::string& path, u8 echo, const Sender& sender)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (reading().busy_for(sender)) {
        reply(body, 1, echo, 2);
        put_le32(body + 13, 0);
        return 7;
    }
    close_read_file();
    const KindBuffer* k = buffer_of(kind);
    message_deal::ReadFile& f = message_deal::file_tarvo;
    f.open = k && board::read_whole(board::path(path), k->buffer - k->data_at, &f.bytes) == board::FileRead::whole;
    if (f.open)
        reading().take(sender);
    message_deal::md5.reset();
    reply(body, 0, echo, f.open ? 1 : 0);
    put_le32(body + 13, u32(f.bytes.size()));
    return 7;
}

// A start refused because another client's transfer is under way: that
// transfer is left as it is.
int refuse_busy(u8* body, u8 echo)
{
    reply(body, 1, echo, 2);
    return 3;
}

// A refused write start leaves no transfer behind: a later block or end
// finds kind 0 and installs nothing.
int refuse_start(u8* body, u8 echo, u32 size)
{
    ZevFileDeal& f = g_zev_file_deal_para;
    WriteTransfer& t = transfer();
    t.owner.drop();
    f.kind = 0;
    f.path.clear();
    f.size = size;
    restart(t, 0);
    reply(body, 1, echo, 2);
    return 3;
}

std::string folder_of(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

// Whether a file of size bytes may be written at path: a record file within
// the bounds of its folder and of both folders (a file it replaces not
// counted), and any file of the data partition with room to spare. A folder
// whose free space cannot be told is left to the install to fail in.
bool has_room(u8 kind, const std::string& path, u32 size)
{
    const std::string folder = folder_of(path);
    if (kind == 9 || kind == 13) {
        const std::string name = path.substr(folder.size() + 1);
        uint64_t bytes = size;
        for (const char* dir : {kRecoveryDir, kScanDir}) {
            const file_install::FolderUse use = file_install::folder_use(dir, dir == folder ? name : std::string());
            if (dir == folder && use.files >= kMaxRecordFiles)
                return false;
            bytes += use.bytes;
        }
        if (bytes > kMaxRecordBytes)
            return false;
    }
    uint64_t room = 0;
    const bool onData = path.compare(0, 6, "/data/") == 0;
    return !onData || !file_install::free_bytes(folder, room) || room >= size + kDataReserve;
}

int accept_start(u8* body, u8 echo, u8 kind, const std::string& path, u32 size, const Sender& sender)
{
    const KindBuffer* k = buffer_of(kind);
    if (!k || size > k->buffer - k->data_at || !has_room(kind, path, size))
        return refuse_start(body, echo, size);
    ZevFileDeal& f = g_zev_file_deal_para;
    WriteTransfer& t = transfer();
    restart(t, k->data_at);
    if (!fileBuf_tarvo.take(k->buffer))
        return refuse_start(body, echo, size);
    fileBuf_tarvo.prepare(k->data_at, size);
    t.owner.take(sender);
    f.kind = kind;
    f.path = QString::fromStdString(path);
    f.size = size;
    reply(body, 0, echo, 0);
    return 3;
}

void print_digests(const u8* a, const u8* b)
{
    for (const u8* d : {a, b}) {
        zevlog::debug(lcLink(), "\n md5 = %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x  \n", d[0],
                      d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10], d[11], d[12], d[13], d[14], d[15]);
    }
}

// The pages that list record files re-read them after one was installed.
void record_installed(u8 kind)
{
    if (!fpga_link::exists())
        return;
    const u8 focus = g_page_focus;
    if (kind == 9 && focus == 12)
        call(g_file_command_hooks.advanced_language_changed);
    if (kind == 13 && focus == 24)
        call(g_file_command_hooks.smartmapping_back);
}

// Installs the staged file of the transfer whose digest matched.
file_install::Result install(ZevFileDeal& f, WriteTransfer& t)
{
    using file_install::Result;
    u8* buf = fileBuf_tarvo.data();
    const uint64_t end = uint64_t(t.data_at) + f.size;
    // Nothing but the file goes to a partition: blocks stored past its end
    // are cleared (the rest of the buffer is zero as it was given).
    if (t.high > end)
        std::memset(buf + end, 0, size_t(t.high - end));
    switch (f.kind) {
    case 3:
        return file_install::write_mtd(kKernelMtd, buf, kKernelImage);
    case 4:
        std::memcpy(buf, logo_header(), kLogoHeader);
        put_le32(buf + 360, (f.size + 3) & ~3u);
        return file_install::write_mtd(kLogoMtd, buf, kLogoImage);
    case 1:
    case 5:
    case 7:
    case 8:
    case 9:
    case 13:
        return file_install::write_file(f.path.toStdString(), buf + t.data_at, f.size);
    default:
        return Result::Installed;
    }
}

// The end request's answer, kept for a repeated end; the staged file is
// given back.
void answered(WriteTransfer& t, const u8* body)
{
    std::memcpy(t.answer, body + pc::kStatus, 3);
    t.answered = true;
    t.stream.settle();
    fileBuf_tarvo.release();
}
} // namespace

int message_deal::write_file_group(u8* body, int length)
{
    using Sub = int (message_deal::*)(u8*, int);
    static const Sub subs[] = {
        nullptr,
        &message_deal::write_file_start,
        &message_deal::write_file_block,
        &message_deal::write_file_end,
        &message_deal::read_file_start,
        &message_deal::read_file_block,
        &message_deal::read_file_end,
        &message_deal::write_defined_file_start,
        &message_deal::read_defined_file_start,
        &message_deal::read_dir_file_para,
        &message_deal::delete_file_name,
    };
    const u8 sub = body[pc::kStatus];
    if (sub == 0 || sub >= sizeof subs / sizeof subs[0])
        return 0;
    return (this->*subs[sub])(body, length);
}

int message_deal::write_file_start(u8* body, int length)
{
    const Sender me{this, peer_};
    if (transfer().owner.busy_for(me))
        return refuse_busy(body, 1);
    frame_reader r(body, length);
    const u8* tag = r.bytes(13, 4);
    if (tag && std::memcmp(tag, "FBOT", 4) == 0) {
        // The boot loader is taken but never installed, and not answered;
        // its digest goes on from the one before, but nothing staged stays.
        WriteTransfer& t = transfer();
        t.stream.settle();
        fileBuf_tarvo.release();
        t.answered = false;
        t.owner.take(me);
        g_zev_file_deal_para.kind = 2;
        return 0;
    }
    const u8 kindByte = r.u8_at(17);
    const u32 size = r.u32_at(18);
    if (!r.ok())
        return refuse_start(body, 1, size);
    auto is = [tag](const char* t) { return std::memcmp(tag, t, 4) == 0; };

    if (is("FMCU") || is("FKRN")) {
        const bool app = is("FMCU");
        // An application left by an earlier transfer must never be moved
        // over the program in place of this one.
        if (app && !file_install::remove_file(kAppPath))
            return refuse_start(body, 1, size);
        int n = accept_start(body, 1, app ? 1 : 3, app ? kAppPath : kKernelMtd, size, me);
        if (g_zev_file_deal_para.kind == 0)
            return n;
        if (g_update_flag == 0)
            update_mode(true);
        else
            ZevRamPara::test_signal(105);
        return n;
    }
    if (is("LOGO"))
        return accept_start(body, 1, 4, kLogoMtd, size, me);
    if (is("ALIS"))
        return accept_start(body, 1, 5, kAliasPath, size, me);
    if (is("OSDS"))
        return accept_start(body, 1, 8, kMenuPath, size, me);
    if (tag[0] == 'M' && tag[1] == 'O') {
        std::string path = mode_menu_path(tag + 2);
        return path.empty() ? refuse_start(body, 1, size) : accept_start(body, 1, 7, path, size, me);
    }
    if (is("KQFX") && kindByte == 9)
        return accept_start(body, 1, 9, std::string(kRecoveryDir) + "/KQFX", size, me);
    if (is("KQFR") && kindByte == 13)
        return accept_start(body, 1, 13, std::string(kScanDir) + "/KQFR", size, me);
    return refuse_start(body, 1, size);
}

int message_deal::write_defined_file_start(u8* body, int length)
{
    const Sender me{this, peer_};
    if (transfer().owner.busy_for(me))
        return refuse_busy(body, 7);
    frame_reader r(body, length);
    const u16 n = r.u16_at(13);
    const u8* name = r.bytes(15, n);
    const u8 kindByte = r.u8_at(15 + size_t(n));
    const u32 size = r.u32_at(16 + size_t(n));
    if (!r.ok())
        return refuse_start(body, 7, size);
    const QByteArray plain(reinterpret_cast<const char*>(name), n);
    if (!file_install::plain_name(plain) || (kindByte != 9 && kindByte != 13))
        return refuse_start(body, 7, size);
    const std::string dir = kindByte == 9 ? kRecoveryDir : kScanDir;
    return accept_start(body, 7, kindByte, dir + "/" + plain.toStdString(), size, me);
}

int message_deal::write_file_block(u8* body, int length)
{
    frame_reader r(body, length);
    const u32 address = r.u32_at(15);
    const u32 n = r.u32_at(19);
    const u8* data = r.bytes(23, n);
    WriteTransfer& t = transfer();
    const bool stores = buffer_of(g_zev_file_deal_para.kind) != nullptr;
    const uint64_t to = uint64_t(t.data_at) + address;
    // A block outside the frame or the buffer (none after the end request),
    // or of another client's transfer, is refused untouched; it does not
    // enter the digest, so the end request fails.
    if (!data || t.owner.foreign(Sender{this, peer_}) || (stores && to + n > fileBuf_tarvo.size())) {
        body[pc::kStatus] = 1;
        body[kEcho] = 2;
        return 2;
    }
    if (!stores) {
        t.owner.heard();
        t.stream.add_now(data, n);
        body[pc::kStatus] = 0;
        body[kEcho] = 2;
        return 2;
    }
    // A block that follows the ones before it is hashed where it is stored,
    // once the answer has gone out. Any other block may overwrite bytes
    // still to be hashed: the digest catches up first, and from then on
    // every block is hashed as it comes.
    const bool follows = t.in_order && address == t.next;
    if (!follows)
        t.stream.settle();
    t.owner.heard();
    u8* stored = fileBuf_tarvo.data() + to;
    std::memcpy(stored, data, n);
    t.in_order = follows;
    t.next = uint64_t(address) + n;
    t.high = std::max(t.high, to + n);
    if (follows)
        t.stream.add_later(stored, n);
    else
        t.stream.add_now(data, n);
    body[pc::kStatus] = 0;
    body[kEcho] = 2;
    return 2;
}

int message_deal::write_file_end(u8* body, int length)
{
    using file_install::Result;
    frame_reader r(body, length);
    const u8* sent = r.bytes(15, 16);
    u8 digest[16] = {};
    if (sent)
        std::memcpy(digest, sent, 16);
    ZevFileDeal& f = g_zev_file_deal_para;
    WriteTransfer& t = transfer();
    body[pc::kStatus] = 0;
    body[kEcho] = 3;
    body[kResult] = 1;
    // Only the client that started the transfer may end it.
    if (t.owner.foreign(Sender{this, peer_})) {
        body[pc::kStatus] = 1;
        return 3;
    }
    const u8* got = t.stream.digest();
    // The blocks as sent must match.
    bool match = sent && got && std::memcmp(got, digest, 16) == 0;
    // A repeated end, after the staged file was given back, is answered as
    // the first one was.
    if (t.answered) {
        if (match)
            std::memcpy(body + pc::kStatus, t.answer, 3);
        return 3;
    }
    t.owner.close();
    // Only this client's own read file is closed.
    if (f.kind == 0 && !reading().foreign(Sender{this, peer_}))
        close_read_file();
    const KindBuffer* k = buffer_of(f.kind);
    // So must the bytes that would be installed: they are the blocks as
    // sent when every block followed the one before it up to the size;
    // otherwise (a repeated or misplaced block) they are digested too.
    if (match && k && !(t.in_order && t.next == f.size)) {
        MD5 staged;
        staged.update(fileBuf_tarvo.data() + t.data_at, f.size);
        match = std::memcmp(staged.digest(), digest, 16) == 0;
    }
    if (!match) {
        if (debugOn() && got)
            print_digests(got, digest);
        if (k)
            answered(t, body);
        return 3;
    }
    const Result result = k ? install(f, t) : Result::Installed;
    if (result == Result::Failed)
        body[pc::kStatus] = 1;
    if (result == Result::Installed)
        body[kResult] = 0;
    if (k)
        answered(t, body);
    if (result != Result::Installed)
        return 3;
    if (debugOn())
        zevlog::debug(lcLink(), "\n md5 OK!!! ");
    if (f.kind == 5)
        ZevRamPara::test_signal(103);
    if (f.kind == 9 || f.kind == 13)
        record_installed(f.kind);
    return 3;
}

void message_deal::replied()
{
    QMutexLocker lock(&command_mutex);
    transfer().stream.settle();
}

int message_deal::read_file_start(u8* body, int length)
{
    const Sender me{this, peer_};
    frame_reader r(body, length);
    const u8* tag = r.bytes(13, 4);
    if (!tag)
        return read_none(body, 4);
    if (std::memcmp(tag, "ALIS", 4) == 0)
        return open_read(body, 5, kAliasPath, 4, me);
    if (std::memcmp(tag, "OSDS", 4) == 0)
        return open_read(body, 8, kMenuPath, 4, me);
    if (tag[0] == 'M' && tag[1] == 'O') {
        std::string path = mode_menu_path(tag + 2);
        if (!path.empty())
            return open_read(body, 7, path, 4, me);
    }
    return read_none(body, 4);
}

int message_deal::read_defined_file_start(u8* body, int length)
{
    const Sender me{this, peer_};
    frame_reader r(body, length);
    const u16 n = r.u16_at(13);
    const u8* name = r.bytes(15, n);
    const u8 kind = r.u8_at(15 + size_t(n));
    if (!r.ok())
        return read_none(body, 4);
    const QByteArray text(reinterpret_cast<const char*>(name), n);
    if (kind == 5 && text == "ALIS")
        return open_read(body, kind, kAliasPath, 4, me);
    if (kind == 8 && text == "OSDS")
        return open_read(body, kind, kMenuPath, 4, me);
    if (kind == 7 && n == 4 && text.startsWith("MO")) {
        std::string path = mode_menu_path(name + 2);
        return path.empty() ? read_none(body, 4) : open_read(body, kind, path, 4, me);
    }
    if (kind == 9 || kind == 13) {
        if (!file_install::plain_name(text))
            return read_none(body, 8);
        const std::string dir = kind == 9 ? kRecoveryDir : kScanDir;
        return open_read(body, kind, dir + "/" + text.toStdString(), 8, me);
    }
    return read_none(body, 4);
}

int message_deal::read_file_block(u8* body, int length)
{
    frame_reader r(body, length);
    const u32 address = r.u32_at(15);
    const u32 n = r.u32_at(19);
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (!r.ok() || n > kMaxReadBlock || reading().foreign(Sender{this, peer_})) {
        body[pc::kStatus] = 1;
        body[kEcho] = 5;
        return 2;
    }
    u8* out = body + 12;
    std::memset(out, 0, n);
    if (file_tarvo.open) {
        reading().heard();
        const u32 size = u32(file_tarvo.bytes.size());
        const u32 got = address < size ? std::min(n, size - address) : 0;
        std::memcpy(out, file_tarvo.bytes.constData() + (address < size ? address : 0), got);
        md5.update(out, got);
    }
    body[pc::kStatus] = 0;
    body[kEcho] = 5;
    return int(n) + 2;
}

int message_deal::read_file_end(u8* body, int /*length*/)
{
    body[pc::kStatus] = 0;
    body[kEcho] = 6;
    std::memset(body + 12, 0, 16);
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (reading().foreign(Sender{this, peer_}))
        body[pc::kStatus] = 1;
    else if (file_tarvo.open) {
        std::memcpy(body + 12, md5.digest(), 16);
        close_read_file();
    }
    return 18;
}

int message_deal::read_dir_file_para(u8* body, int /*length*/)
{
    body[pc::kStatus] = 0;
    body[kEcho] = 6;
    return 2;
}

int message_deal::delete_file_name(u8* body, int /*length*/)
{
    const FileCommandHooks& h = g_file_command_hooks;
    if (file_install::empty_folder(kScanDir) > 0 && fpga_link::exists()) {
        fpga_manage::p_fpga_manage->rcv_file->clear_scan_list();
        if (g_page_focus == 24)
            call(h.smartmapping_back);
        else if (g_page_focus == 5)
            call(h.option_language_changed);
    }
    if (file_install::empty_folder(kRecoveryDir) > 0 && fpga_link::exists()) {
        fpga_manage::p_fpga_manage->rcv_file->clear_recovery_list();
        if (g_page_focus == 25)
            call(h.recovery_menulist_back);
        else if (g_page_focus == 12)
            call(h.advanced_language_changed);
    }
    body[pc::kStatus] = 0;
    body[kEcho] = 10;
    return 2;
}
