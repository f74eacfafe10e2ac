#include "ledout/rcv_recovery_file.h"

#include "ledout/fpga_manage.h"

#include <vector>

#include <QDir>
#include <QMutexLocker>

#include "board/board.h"
#include "core/utils.h"

const char* const rcvRecovery::kRecoveryDir = "/data/rcvrecovery";
const char* const rcvRecovery::kSmartDir = "/data/smartmapping";
const char* const rcvRecovery::kUsbDir = "/mnt/usb1/";

namespace
{
constexpr unsigned kHeadSize = 4;
constexpr unsigned kEntrySize = 12;
constexpr unsigned kScreenHeadSize = 32;
constexpr unsigned kScreenSize = 52;
constexpr unsigned kNetSize = 12;
constexpr unsigned kOperateSize = 18;
constexpr unsigned kListHead = 4;
constexpr unsigned kScanCountAt = 16;

u16 le16(const u8* p)
{
    return u16(p[0] | p[1] << 8);
}

u32 le32(const u8* p)
{
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

RCV_OPERATE parseOperate(const u8* b)
{
    RCV_OPERATE o;
    o.offset = le32(b);
    o.dataLen = le32(b + 4);
    o.targetAddr = le32(b + 8);
    o.timeticks = le32(b + 12);
    o.type = b[16];
    o.target = b[17];
    return o;
}

// Whether the player may carry the operation out: a wait it asks for within
// the limit, and the data it sends inside the file (size bytes) counted from
// base and, but for a RAM write sent in pieces, within one packet.
bool operateSound(const RCV_OPERATE& o, uint64_t base, int64_t size)
{
    bool waits = true, data = true;
    switch (o.type) {
    case RCV_OP_WRITE:
        waits = data = o.target == RCV_TARGET_RAM || o.target == RCV_TARGET_REG;
        break;
    case RCV_OP_ACTIVE_FIRMWARE:
    case RCV_OP_RECONFIG:
    case RCV_OP_SEARCH:
    case RCV_OP_USER_DEFINED:
        break;
    case RCV_OP_RAM2FLASH:
    case RCV_OP_SLEEP:
        data = false;
        break;
    default:
        // Not carried out: neither its wait nor its data is used.
        return true;
    }
    if (waits && o.timeticks > rcvRecovery::kMaxWaitMs)
        return false;
    if (!data || o.dataLen == 0)
        return true;
    const bool pieces = o.type == RCV_OP_WRITE && o.target == RCV_TARGET_RAM;
    return (pieces || o.dataLen <= FpgaCards::kMaxPacket) && base + o.offset + o.dataLen <= uint64_t(size);
}

} // namespace

int rcvRecovery::check_file_dir(QString dir)
{
    const QString host = board::path(dir);
    if (QDir(host).exists())
        return 0;
    return QDir().mkpath(host) ? 1 : 0;
}

int rcvRecovery::get_dir_file(QString dir)
{
    const QDir d(board::path(dir));
    if (!d.exists())
        return 1;
    QStringList* list = nullptr;
    if (dir == kRecoveryDir)
        list = &recovery_list_;
    else if (dir == kSmartDir || dir == kUsbDir)
        list = &scan_list_;
    if (!list)
        return 0;
    const QStringList names = d.entryList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    QMutexLocker lock(&lists_mutex_);
    *list = names;
    return 0;
}

QStringList rcvRecovery::recovery_files() const
{
    QMutexLocker lock(&lists_mutex_);
    return recovery_list_;
}

QStringList rcvRecovery::scan_files() const
{
    QMutexLocker lock(&lists_mutex_);
    return scan_list_;
}

void rcvRecovery::clear_recovery_list()
{
    QMutexLocker lock(&lists_mutex_);
    recovery_list_.clear();
}

void rcvRecovery::clear_scan_list()
{
    QMutexLocker lock(&lists_mutex_);
    scan_list_.clear();
}

void rcvRecovery::init_para()
{
    screen.rcv_para_offset = 0;
    screen.rcv_para_len = 0;
    screen.rcv_xy_offset = 0;
    screen.rcv_xy_len = 0;
}

u32 rcvRecovery::subfile_offset(u8 type) const
{
    u32 offset = 0;
    const unsigned n = head[3] < kMaxSubfiles ? head[3] : kMaxSubfiles;
    for (unsigned i = 0; i < n; ++i)
        if (subfile[i].type == type)
            offset = subfile[i].offset;
    return offset;
}

bool rcvRecovery::has_subfile(u8 type) const
{
    const unsigned n = head[3] < kMaxSubfiles ? head[3] : kMaxSubfiles;
    for (unsigned i = 0; i < n; ++i)
        if (subfile[i].type == type)
            return true;
    return false;
}

int rcvRecovery::get_rcvPackedFileNum(QString path)
{
    u8 b[kHeadSize];
    const int r = Utils::read_file_at(path, 0, b, sizeof b);
    if (r != READ_OK)
        return r;
    // A pack with more sub-files than the table holds is not one of ours.
    if (b[3] > kMaxSubfiles)
        return READ_DAMAGED;
    std::copy(b, b + kHeadSize, head);
    return READ_OK;
}

int rcvRecovery::get_rcvPackedFileInfo(QString path, unsigned char i)
{
    if (i >= kMaxSubfiles || i >= head[3])
        return READ_DAMAGED;
    u8 b[kEntrySize];
    const int r = Utils::read_file_at(path, kHeadSize + uint64_t(kEntrySize) * i, b, sizeof b);
    if (r != READ_OK)
        return r;
    subfile[i].type = b[0];
    subfile[i].length = le32(b + 4);
    subfile[i].offset = le32(b + 8);
    return READ_OK;
}

int rcvRecovery::update_rcvScreenHead(QString path)
{
    u8 b[kScreenHeadSize];
    const int r = Utils::read_file_at(path, subfile_offset(RCV_SUB_SCREEN), b, sizeof b);
    if (r != READ_OK)
        return r;
    screen_head.type = b[2];
    screen_head.rcv_para_len = le32(b + 4);
    screen_head.rcv_para_crc32 = le32(b + 8);
    screen_head.rcv_xy_len = le32(b + 12);
    screen_head.rcv_xy_crc32 = le32(b + 16);
    screen_head.screen_num = b[20];
    return READ_OK;
}

int rcvRecovery::update_rcvScreenIDinfo(QString path, unsigned char i)
{
    if (screen_head.screen_num == 0 || i >= screen_head.screen_num)
        return READ_MISSING;
    u8 b[kScreenSize];
    const int r = Utils::read_file_at(path, screen_at(i), b, sizeof b);
    if (r != READ_OK)
        return r;
    screen.config_id = le32(b);
    screen.net_use = le32(b + 4);
    screen.rcv_para_offset = le32(b + 36);
    screen.rcv_para_len = le32(b + 40);
    screen.rcv_xy_offset = le32(b + 44);
    screen.rcv_xy_len = le32(b + 48);
    return READ_OK;
}

int rcvRecovery::update_rcvXYscreenNetnum(QString path)
{
    u8 b[2];
    const int r = Utils::read_file_at(path, port_table_at(screen.rcv_xy_offset), b, sizeof b);
    if (r != READ_OK)
        return r;
    if (le16(b) > kBoxPorts)
        return READ_DAMAGED;
    net_num = le16(b);
    return READ_OK;
}

int rcvRecovery::update_rcvXYscreenNetpara(QString path, unsigned short i)
{
    if (i >= net_num)
        return READ_DAMAGED;
    u8 b[kNetSize];
    const uint64_t at = port_table_at(screen.rcv_xy_offset) + kListHead + uint64_t(kNetSize) * i;
    const int r = Utils::read_file_at(path, at, b, sizeof b);
    if (r != READ_OK)
        return r;
    if (le16(b) >= kBoxPorts)
        return READ_DAMAGED;
    net.net_ledx = le16(b);
    net.net_rcv_num = le16(b + 2);
    net.net_para_offset = le32(b + 4);
    net.net_para_len = le32(b + 8);
    return READ_OK;
}

int rcvRecovery::update_rcvXYrcvOperateTimes(QString path, unsigned char j, bool)
{
    if (j >= net.net_rcv_num)
        return READ_DAMAGED;
    const uint64_t blocks = card_list_base();
    uint64_t offset = 0;
    for (unsigned card = 0;; ++card) {
        u8 b[2];
        const int r = Utils::read_file_at(path, blocks + offset, b, sizeof b);
        if (r != READ_OK)
            return r;
        if (card == j) {
            if (offset > UINT32_MAX)
                return READ_DAMAGED;
            block_offset = u32(offset);
            op_num = le16(b);
            return READ_OK;
        }
        offset += kListHead + uint64_t(kOperateSize) * le16(b);
    }
}

int rcvRecovery::update_rcvXYrcvOperatepara(QString path, unsigned short k, bool)
{
    return read_operate(path, card_list_base(), block_offset + kListHead + uint64_t(kOperateSize) * k);
}

int rcvRecovery::update_smartDebugingOperateTimes(QString path, bool raw)
{
    u8 b[2];
    const int r = Utils::read_file_at(path, para_list_base(raw), b, sizeof b);
    if (r == READ_OK)
        op_num = le16(b);
    return r;
}

int rcvRecovery::update_smartDebugingOperatepara(QString path, unsigned short k, bool raw)
{
    return read_operate(path, para_list_base(raw), kListHead + uint64_t(kOperateSize) * k);
}

int rcvRecovery::read_operate(const QString& path, uint64_t base, uint64_t at)
{
    u8 b[kOperateSize];
    int64_t size = 0;
    const int r = Utils::read_file_at(path, base + at, b, sizeof b, &size);
    if (r != READ_OK)
        return r;
    // Checked again as played: the file may have been replaced since its list was.
    const RCV_OPERATE o = parseOperate(b);
    if (!operateSound(o, base, size))
        return READ_DAMAGED;
    operate = o;
    return READ_OK;
}

int rcvRecovery::update_rcvOperatedata(QString path, uint64_t offset, unsigned char* buf, unsigned short n)
{
    if (!buf)
        return READ_DAMAGED;
    if (n == 0)
        return READ_OK;
    return Utils::read_file_at(path, offset, buf, n);
}

uint64_t rcvRecovery::card_list_base() const
{
    return port_table_at(screen.rcv_xy_offset) + net.net_para_offset;
}

uint64_t rcvRecovery::para_list_base(bool raw) const
{
    return raw ? kScanCountAt : uint64_t(subfile_offset(RCV_SUB_PARA)) + screen.rcv_para_offset;
}

int rcvRecovery::check_operate_list(QString path, bool cardList, bool raw)
{
    if (op_num == 0)
        return READ_OK;
    const uint64_t base = cardList ? card_list_base() : para_list_base(raw);
    const uint64_t records = (cardList ? block_offset : 0) + kListHead;
    std::vector<u8> b(size_t(kOperateSize) * op_num);
    int64_t size = 0;
    const int r = Utils::read_file_at(path, base + records, b.data(), b.size(), &size);
    if (r != READ_OK)
        return r;
    for (size_t k = 0; k < op_num; ++k) {
        const RCV_OPERATE o = parseOperate(b.data() + kOperateSize * k);
        if (!operateSound(o, base, size))
            return READ_DAMAGED;
    }
    return READ_OK;
}

int rcvRecovery::check_port_tables(QString path)
{
    unsigned entries = 0;
    for (unsigned s = 0; s < screen_head.screen_num; ++s) {
        u8 record[kScreenSize];
        int r = Utils::read_file_at(path, screen_at(s), record, sizeof record);
        if (r != READ_OK)
            return r;
        const uint64_t table = port_table_at(le32(record + 44));
        u8 count[2];
        r = Utils::read_file_at(path, table, count, sizeof count);
        if (r != READ_OK)
            return r;
        const unsigned n = le16(count);
        entries += n;
        if (entries > kBoxPorts)
            return READ_DAMAGED;
        if (n == 0)
            continue;
        u8 b[kBoxPorts * kNetSize];
        r = Utils::read_file_at(path, table + kListHead, b, size_t(kNetSize) * n);
        if (r != READ_OK)
            return r;
        for (unsigned i = 0; i < n; ++i)
            if (le16(b + kNetSize * i) >= kBoxPorts)
                return READ_DAMAGED;
    }
    return READ_OK;
}

uint64_t rcvRecovery::screen_at(unsigned i) const
{
    return uint64_t(subfile_offset(RCV_SUB_SCREEN)) + kScreenHeadSize + uint64_t(kScreenSize) * i;
}

uint64_t rcvRecovery::port_table_at(u32 xy_offset) const
{
    return uint64_t(subfile_offset(RCV_SUB_XY)) + xy_offset;
}

rcvRecovery& record_file_reader()
{
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage)
        if (fpga->rcv_file)
            return *fpga->rcv_file;
    static rcvRecovery own;
    return own;
}
