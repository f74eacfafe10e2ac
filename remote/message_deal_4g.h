// The 4G module's side of the PC protocol: group 0xC4 carries one JSON body
// of the cloud commands (message_deal_cloud_4g.h) from byte 10 on; the reply
// carries the status at byte 10 (0 handled, 1 not a JSON object) and the
// answer from byte 11. The module writes its status window g_4G_RAM with
// the RAM command at 0xA1000000.
//
// Cloud files (written by the module file commands, the barcode file by the
// cloud link itself):
// - "/data/configs/cloud_setinfo": byte 0 0xAA, u16 LE data length + 2, then
//   a JSON object {"deviceid": the cloud device id, text of at most 24
//   bytes, "serverip": dotted IPv4, "serverport": 1-65535}.
// - "/data/configs/cloud_barcode": byte 0 0xAA, u16 LE text length + 2, then
//   the barcode whose hexadecimal digits make the 12-byte identity. New
//   cloud settings delete it; the next load writes it again from the
//   barcode setting, so the identity stays the one the cloud knows until
//   then.
// - "/data/configs/cloud_cafile": see cloud_tls.h.
#pragma once

#include <QString>

#include "core/config_engine.h"
#include "core/global.h"

class message_deal_4g
{
  public:
    // Reloads g_4G_property from the cloud settings files. The identity is
    // decoded from the barcode file (or, without one, from the barcode
    // setting, which the file then keeps) whether or not cloud settings
    // exist. 0 when the settings were loaded; non-zero (the rest of the
    // block unchanged) when the settings file is missing or its head, JSON,
    // address or port is not valid.
    static int get_4G_property();
    // Decodes barcode's hexadecimal digits into the identity (g_4G_property
    // bytes 25.., at most 12; the bytes beyond keep their values) and keeps
    // barcode in the barcode file. Nothing changes when it holds no digit
    // pair. False only when the barcode file could not be written.
    static bool set_identity(const QString& barcode);
    // Handler of group 0xC4: body is the frame, length without its BCC.
    // Returns n counted from offset 10; 0 (no reply) for an answer.
    int message_deal_4G(u8* body, int length);

    static const char* kSetInfoFile;
    static const char* kBarcodeFile;
    // Longest answer placed in a reply.
    static constexpr int kMaxAnswer = 4096;
    // Longest barcode kept.
    static constexpr int kMaxBarcode = ConfigEngine::kMaxBarcodeBytes;
};
