// EDID tables of the PC tool (group 0xC1): an input source gets its own
// EDID, kept as a record file under "/data/edidramtable", served from the
// RAM table, with its timing in the parameter image; and the record is read
// back.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <QMutexLocker>

#include "board/board.h"
#include "board/file_read.h"
#include "chips/tarvosource.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "link/file_install.h"
#include "link/frame_reader.h"
#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "video/c331_manage.h"

namespace
{
constexpr int kSources = 6;
constexpr size_t kEdidSize = 256;
// Record file: timing words at 2, 4, 6; the EDID block at 32.
constexpr size_t kRecordEdid = 32;
constexpr size_t kRecordSize = kRecordEdid + kEdidSize;
// The longest record a write can store (its length is a u16).
constexpr size_t kMaxRecordFile = 0xFFFF;

constexpr int kIndex = 11;
constexpr int kEcho = 11;
constexpr int kWriteLength = 17;
constexpr int kWriteRecord = 19;
constexpr int kReadRecord = 18;

std::string record_path(u16 source)
{
    char name[40];
    std::snprintf(name, sizeof name, "/data/edidramtable/%04x.bin", unsigned(source));
    return name;
}
} // namespace

int message_deal::write_edid_table_group(u8* body, int length)
{
    switch (body[pc::kStatus]) {
    case 1:
        return write_edid_table(body, length);
    case 2:
        return read_edid_table(body, length);
    default:
        return 0;
    }
}

int message_deal::write_edid_table(u8* body, int length)
{
    frame_reader r(body, length);
    const u16 source = r.u16_at(kIndex);
    const u16 n = r.u16_at(kWriteLength);
    const u8* record = r.bytes(kWriteRecord, n);
    body[kEcho] = 1;
    if (source >= kSources || !tarvosource::p_tarvo_source) {
        body[pc::kStatus] = 2;
        return 2;
    }
    body[pc::kStatus] = 1;
    if (!r.ok())
        return 2;
    if (file_install::write_file(record_path(source), record, n) != file_install::Result::Installed)
        return 2;

    // Only what the record carries enters the table; a short record leaves
    // the rest of the block empty. The table changes under the apply mutex,
    // as its readers take it: no source is served half a block.
    const size_t carried = n > kRecordEdid ? std::min<size_t>(n - kRecordEdid, kEdidSize) : 0;
    c331_apply(1, [&] {
        u8* block = edid_ram_table + kEdidSize * source;
        std::memset(block, 0, kEdidSize);
        std::memcpy(block, record + kRecordEdid, carried);
        edid_ram_table_from[source] = 1;
        u8* im = ZevRamPara::p_zevrampara_config;
        for (int w = 0; w < 3; ++w) {
            const size_t at = 2 + 2 * size_t(w);
            if (at + 2 <= n)
                ZevRamPara::put16(im, Img::kEdid + 6 * source + 2 * w, ZevRamPara::get16(record, int(at)));
        }
    });
    body[pc::kStatus] = 0;
    return 2;
}

int message_deal::read_edid_table(u8* body, int length)
{
    frame_reader r(body, length);
    const u16 source = r.u16_at(kIndex);
    body[pc::kStatus] = 0;
    body[kEcho] = 2;
    put_le16(body + 12, source);
    std::memset(body + 14, 0, 4 + kRecordSize);
    if (!r.ok())
        return 8;
    QByteArray file;
    board::FileRead read;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        read = board::read_whole(board::path(record_path(source)), kMaxRecordFile, &file);
    }
    // A record that cannot be read whole is answered as a missing one.
    if (read == board::FileRead::unreadable)
        zevlog::stored_file(lcLink(), record_path(source),
                            "cannot be read: answered as missing, the file is kept as it is");
    else if (read == board::FileRead::damaged)
        zevlog::stored_file(lcLink(), record_path(source),
                            "is larger than a record: answered as missing, the file is kept as it is");
    if (read != board::FileRead::whole)
        return 8;
    std::memcpy(body + kReadRecord, file.constData(), std::min(size_t(file.size()), kRecordSize));
    put_le16(body + 14, u16(kRecordEdid));
    put_le16(body + 16, u16(kRecordSize));
    return 296;
}
