#include "remote/message_deal_4g.h"

#include <cstring>
#include <string>

#include <QMutexLocker>

#include "board/board.h"
#include "board/file_read.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "core/net_check.h"
#include "link/protocol_phy.h"
#include "remote/memory_json_parser.h"
#include "remote/message_deal_cloud_4g.h"

const char* message_deal_4g::kSetInfoFile = "/data/configs/cloud_setinfo";
const char* message_deal_4g::kBarcodeFile = "/data/configs/cloud_barcode";

namespace
{
// The data of a file laid out as 0xAA, u16 LE data length + 2, data, of at
// most limit data bytes; damaged when its head does not fit what it holds.
board::FileRead read_headed(const char* path, size_t limit, QByteArray& data)
{
    QByteArray file;
    board::FileRead read;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        read = board::read_whole(board::path(std::string(path)), limit + 3, &file);
    }
    if (read != board::FileRead::whole)
        return read;
    if (file.size() < 3 || u8(file[0]) != 0xAA)
        return board::FileRead::damaged;
    const int declared = u8(file[1]) | (u8(file[2]) << 8);
    if (declared < 2 || declared - 2 > file.size() - 3)
        return board::FileRead::damaged;
    data = file.mid(3, declared - 2);
    return board::FileRead::whole;
}

// The identity bytes of a barcode: its hexadecimal digits, at most 12 bytes.
QByteArray identity_of(const QString& barcode)
{
    return QByteArray::fromHex(barcode.toLatin1()).left(12);
}
} // namespace

bool message_deal_4g::set_identity(const QString& barcode)
{
    const QByteArray id = identity_of(barcode);
    if (id.isEmpty())
        return true;
    Utils::change_cloud_property([&](u8* block) { std::memcpy(block + 25, id.constData(), size_t(id.size())); });
    const QByteArray text = barcode.toUtf8().left(kMaxBarcode);
    QByteArray file(3, 0);
    file[0] = char(0xAA);
    file[1] = char(u8(text.size() + 2));
    file[2] = char(u8((text.size() + 2) >> 8));
    file += text;
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (board::write_whole(board::path(std::string(kBarcodeFile)), reinterpret_cast<const u8*>(file.constData()),
                           size_t(file.size())))
        return true;
    // The next start would take the old identity from the old file.
    writeLogMsg(LOG_ERROR, "cloud: cannot keep the barcode file");
    return false;
}

int message_deal_4g::get_4G_property()
{
    QByteArray kept;
    const board::FileRead keptRead = read_headed(kBarcodeFile, kMaxBarcode, kept);
    QByteArray identity = keptRead == board::FileRead::whole ? identity_of(QString::fromUtf8(kept)) : QByteArray();
    if (identity.isEmpty() && keptRead != board::FileRead::unreadable) {
        const QString barcode = Utils::net_identity().barcode;
        const bool written = set_identity(barcode) && !identity_of(barcode).isEmpty();
        if (keptRead != board::FileRead::missing)
            zevlog::stored_file(lcRemote(), kBarcodeFile,
                                written ? "holds no identity: written again from the barcode setting"
                                        : "holds no identity: it is not used, the file is kept as it is");
    } else {
        // A file that cannot be read keeps the stored identity for a start
        // that can: this one goes by the barcode.
        if (identity.isEmpty()) {
            zevlog::stored_file(
                lcRemote(), kBarcodeFile,
                "cannot be read: the identity comes from the barcode setting, the file is kept as it is");
            identity = identity_of(Utils::net_identity().barcode);
        }
        Utils::change_cloud_property(
            [&](u8* block) { std::memcpy(block + 25, identity.constData(), size_t(identity.size())); });
    }

    QByteArray json;
    // A settings file stored with the overwrite flag may hold as much as a
    // transfer stages.
    const board::FileRead read = read_headed(kSetInfoFile, kFileBufSize, json);
    const auto unusable = [](int code) {
        zevlog::stored_file(lcRemote(), kSetInfoFile,
                            "is damaged: no cloud settings are taken from it, the file is kept as it is");
        return code;
    };
    if (read == board::FileRead::unreadable)
        zevlog::stored_file(lcRemote(), kSetInfoFile,
                            "cannot be read: no cloud settings are taken from it, the file is kept as it is");
    if (read == board::FileRead::damaged)
        return unusable(2);
    if (read != board::FileRead::whole)
        return 2;
    boost::property_tree::ptree t;
    if (!memory_json_parser::parse(json.constData(), size_t(json.size()), t))
        return unusable(3);
    const std::string id = memory_json_parser::text(t, "deviceid");
    const QString ip = QString::fromStdString(memory_json_parser::text(t, "serverip"));
    const int port = t.get<int>("serverport", 0);
    u8 ipBytes[4];
    if (id.size() > 24 || !net_check::to_bytes(ip, ipBytes) || !net_check::port(port))
        return unusable(4);

    Utils::change_cloud_property([&](u8* block) {
        std::memset(block, 0, 25);
        std::memcpy(block, id.data(), id.size());
        std::memcpy(block + 37, ipBytes, 4);
        block[41] = u8(port);
        block[42] = u8(port >> 8);
    });
    return 0;
}

int message_deal_4g::message_deal_4G(u8* body, int length)
{
    const int textLength = length - pc::kStatus;
    std::string answer;
    const auto outcome = message_deal_cloud_4g::deal(reinterpret_cast<const char*>(body + pc::kStatus),
                                                     size_t(textLength > 0 ? textLength : 0), answer);
    if (outcome == message_deal_cloud_4g::NO_ANSWER)
        return 0;
    if (outcome == message_deal_cloud_4g::BAD_BODY || answer.size() > size_t(kMaxAnswer)) {
        body[pc::kStatus] = 1;
        return 1;
    }
    body[pc::kStatus] = 0;
    std::memcpy(body + pc::kData, answer.data(), answer.size());
    return 1 + int(answer.size());
}
