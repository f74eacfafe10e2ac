#include "remote/message_deal_4g.h"

#include <cstring>
#include <string>

#include <QFile>
#include <QMutexLocker>

#include "board/board.h"
#include "core/utils.h"
#include "link/message_deal.h"
#include "link/net_check.h"
#include "link/protocol_phy.h"
#include "remote/memory_json_parser.h"
#include "remote/message_deal_cloud_4g.h"

const char* message_deal_4g::kSetInfoFile = "/data/configs/cloud_setinfo";

int message_deal_4g::get_4G_property()
{
    QByteArray file;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        QFile f(board::path(QString(kSetInfoFile)));
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        file = f.read(4096 + 3);
    }
    if (file.size() < 3 || u8(file[0]) != 0xAA)
        return 2;
    const int declared = u8(file[1]) | (u8(file[2]) << 8);
    if (declared < 2 || declared - 2 > file.size() - 3)
        return 2;
    boost::property_tree::ptree t;
    if (!memory_json_parser::parse(file.constData() + 3, size_t(declared - 2), t))
        return 3;
    const std::string id = memory_json_parser::text(t, "deviceid");
    const QString ip = QString::fromStdString(memory_json_parser::text(t, "serverip"));
    const int port = t.get<int>("serverport", 0);
    u8 ipBytes[4];
    if (id.size() > 24 || !net_check::to_bytes(ip, ipBytes) || !net_check::port(port))
        return 4;

    std::memset(g_4G_property, 0, 25);
    std::memcpy(g_4G_property, id.data(), id.size());
    message_deal::barcode_to_identity();
    std::memcpy(g_4G_property + 37, ipBytes, 4);
    g_4G_property[41] = u8(port);
    g_4G_property[42] = u8(port >> 8);
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
