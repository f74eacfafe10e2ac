#include "ledout/rcv_recovery_file.h"

#include "ledout/fpga_manage.h"

#include <cstdio>
#include <sys/stat.h>

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
constexpr unsigned kScanOpsAt = 20;

u16 le16(const u8* p)
{
    return u16(p[0] | p[1] << 8);
}

u32 le32(const u8* p)
{
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

// n bytes at offset of a board file, read-only, under the file lock.
int readAt(const QString& path, uint64_t offset, void* out, size_t n)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    FILE* f = std::fopen(board::path(path.toStdString()).c_str(), "rb");
    if (!f)
        return rcvRecovery::READ_MISSING;
    struct stat st {
    };
    int result = rcvRecovery::READ_DAMAGED;
    if (fstat(fileno(f), &st) == 0 && offset + n <= uint64_t(st.st_size) && offset <= uint64_t(INT64_MAX) &&
        fseeko(f, off_t(offset), SEEK_SET) == 0 && std::fread(out, 1, n, f) == n)
        result = rcvRecovery::READ_OK;
    std::fclose(f);
    return result;
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
    const int r = readAt(path, 0, b, sizeof b);
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
    const int r = readAt(path, kHeadSize + uint64_t(kEntrySize) * i, b, sizeof b);
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
    const int r = readAt(path, subfile_offset(RCV_SUB_SCREEN), b, sizeof b);
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
    const uint64_t at = uint64_t(subfile_offset(RCV_SUB_SCREEN)) + kScreenHeadSize + uint64_t(kScreenSize) * i;
    const int r = readAt(path, at, b, sizeof b);
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
    const int r = readAt(path, uint64_t(subfile_offset(RCV_SUB_XY)) + screen.rcv_xy_offset, b, sizeof b);
    if (r == READ_OK)
        net_num = le16(b);
    return r;
}

int rcvRecovery::update_rcvXYscreenNetpara(QString path, unsigned short i)
{
    if (i >= net_num)
        return READ_DAMAGED;
    u8 b[kNetSize];
    const uint64_t at =
        uint64_t(subfile_offset(RCV_SUB_XY)) + screen.rcv_xy_offset + kListHead + uint64_t(kNetSize) * i;
    const int r = readAt(path, at, b, sizeof b);
    if (r != READ_OK)
        return r;
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
    const uint64_t blocks = uint64_t(subfile_offset(RCV_SUB_XY)) + screen.rcv_xy_offset + net.net_para_offset;
    uint64_t offset = 0;
    for (unsigned card = 0;; ++card) {
        u8 b[2];
        const int r = readAt(path, blocks + offset, b, sizeof b);
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
    u8 b[kOperateSize];
    const uint64_t at = uint64_t(subfile_offset(RCV_SUB_XY)) + screen.rcv_xy_offset + net.net_para_offset +
                        block_offset + kListHead + uint64_t(kOperateSize) * k;
    const int r = readAt(path, at, b, sizeof b);
    if (r == READ_OK)
        operate = parseOperate(b);
    return r;
}

int rcvRecovery::update_smartDebugingOperateTimes(QString path, bool raw)
{
    u8 b[2];
    const uint64_t at = raw ? kScanCountAt : uint64_t(subfile_offset(RCV_SUB_PARA)) + screen.rcv_para_offset;
    const int r = readAt(path, at, b, sizeof b);
    if (r == READ_OK)
        op_num = le16(b);
    return r;
}

int rcvRecovery::update_smartDebugingOperatepara(QString path, unsigned short k, bool raw)
{
    u8 b[kOperateSize];
    const uint64_t list =
        raw ? kScanOpsAt : uint64_t(subfile_offset(RCV_SUB_PARA)) + screen.rcv_para_offset + kListHead;
    const int r = readAt(path, list + uint64_t(kOperateSize) * k, b, sizeof b);
    if (r == READ_OK)
        operate = parseOperate(b);
    return r;
}

int rcvRecovery::update_rcvOperatedata(QString path, uint64_t offset, unsigned char* buf, unsigned short n)
{
    if (!buf)
        return READ_DAMAGED;
    if (n == 0)
        return READ_OK;
    return readAt(path, offset, buf, n);
}

rcvRecovery& record_file_reader()
{
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage)
        if (fpga->rcv_file)
            return *fpga->rcv_file;
    static rcvRecovery own;
    return own;
}
