// The 4G module's side of the PC protocol: group 0xC4 carries one JSON body
// of the cloud commands (message_deal_cloud_4g.h) from byte 10 on; the reply
// carries the status at byte 10 (0 handled, 1 not a JSON object) and the
// answer from byte 11. The module writes its status window g_4G_RAM with
// the RAM command at 0xA1000000.
//
// The cloud settings file "/data/configs/cloud_setinfo" (written by the
// module file commands): byte 0 0xAA, u16 LE data length + 2, then a JSON
// object {"deviceid": text of at most 24 bytes, "serverip": dotted IPv4,
// "serverport": 1-65535}.
#pragma once

#include "core/global.h"

class message_deal_4g
{
  public:
    // Reloads g_4G_property from the cloud settings file and the barcode:
    // 0 when loaded; non-zero (the block unchanged) when the file is missing
    // or its head, JSON, address or port is not valid.
    static int get_4G_property();
    // Handler of group 0xC4: body is the frame, length without its BCC.
    // Returns n counted from offset 10; 0 (no reply) for an answer.
    int message_deal_4G(u8* body, int length);

    static const char* kSetInfoFile;
    // Longest answer placed in a reply.
    static constexpr int kMaxAnswer = 4096;
};
