#include "link/message_deal.h"

#include <QMutexLocker>

#include "link/protocol_phy.h"
#include "link/message_remote.h"

QMutex message_deal::command_mutex(QMutex::Recursive);

namespace
{
const u8 kBarcodeSubs[] = {30, 31, 32};
const u8 kNetSubs[] = {0, 1, 3, 16};
const u8 kFileSubs[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const u8 kEdidSubs[] = {1, 2};
const u8 kCloudSubs[] = {11};
} // namespace

#define SUBS(a) a, u8(sizeof a)

// The command groups of the protocol. A group whose handler is null has not
// been built into this program yet and is answered like an unknown group.
const message_deal::Group message_deal::groups[] = {
    {0x60, nullptr, 0, &message_deal::write_ram},
    {0x61, nullptr, 0, &message_deal::read_ram},
    {0x70, nullptr, 0, &message_deal::cmd_erase_flash},
    {0x71, nullptr, 0, &message_deal::cmd_write_flash},
    {0x72, nullptr, 0, &message_deal::cmd_read_flash},
    {0x81, nullptr, 0, &message_deal::param_save},
    {0x82, nullptr, 0, &message_deal::get_card_version},
    {0x83, nullptr, 0, &message_deal::get_card_uid},
    {0x84, nullptr, 0, &message_deal::start_update},
    {0x87, nullptr, 0, &message_deal::write_rtc_time},
    {0x8E, nullptr, 0, &message_deal::get_yp_module_info},
    {0x8F, nullptr, 0, &message_deal::check_yp_module},
    {0xA0, nullptr, 0, &message_deal::write_register},
    {0xA1, nullptr, 0, &message_deal::read_register},
    {0xA2, SUBS(kBarcodeSubs), &message_deal::barcode_group},
    {0xA4, SUBS(kNetSubs), &message_deal::net_eth_group},
    {0xB0, nullptr, 0, &message_deal::vedio_write_single_para},
    {0xC0, SUBS(kFileSubs), &message_deal::write_file_group},
    {0xC1, SUBS(kEdidSubs), &message_deal::write_edid_table_group},
    {0xC3, SUBS(kCloudSubs), &message_deal::project_lock_group},
    {0xC4, nullptr, 0, &message_deal::deal_4g},
    {0xC5, nullptr, 0, &message_deal::YP_SendFileData},
    {0xC6, nullptr, 0, &message_deal::YP_SendFileEND},
    {0xC7, nullptr, 0, &message_deal::YP_SendFileCancel},
    {0xC8, nullptr, 0, &message_deal::YP_RecvFile},
    {0xC9, nullptr, 0, &message_deal::YP_RecvFileData},
    {0xCA, nullptr, 0, &message_deal::YP_RecvFileEnd},
    {0xCB, nullptr, 0, &message_deal::YP_RecvFileCancel},
    {0xCC, nullptr, 0, &message_deal::YP_SendFile},
};

#undef SUBS

message_deal::message_deal() = default;

message_deal::~message_deal() = default;

int message_deal::deal_4g(u8* body, int length)
{
    message_remote* remote = message_remote::installed();
    return remote ? remote->deal_4g(body, length) : 0;
}

int message_deal::message_group_deal(u8* body, int length, int /*link*/, uint64_t peer)
{
    if (!body || length < pc::kMinCommand)
        return 0;
    QMutexLocker lock(&command_mutex);
    peer_ = peer;
    const u8 group = body[pc::kGroup];
    for (const Group& g : groups) {
        if (g.group != group)
            continue;
        if (!g.handler)
            return 0;
        if (g.sub_count) {
            bool known = false;
            for (u8 i = 0; i < g.sub_count; ++i)
                known = known || g.subs[i] == body[pc::kStatus];
            if (!known)
                return 0;
        }
        return (this->*g.handler)(body, length);
    }
    return 0;
}

u8 register_fpga(const u8* body)
{
    u8 p = body[pc::kPort];
    return (p == 1 || p == 2) ? u8(p - 1) : 0;
}

u8 ram_fpga(const u8* body)
{
    u8 p = body[pc::kPort];
    return (body[pc::kRoute] == 0 && (p == 1 || p == 2)) ? u8(p - 1) : 0;
}
