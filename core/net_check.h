// Checks of network settings before they reach a file or a shell command:
// addresses, masks, hardware addresses and ports taken from frames, files,
// the stored settings or Wi-Fi clients.
#pragma once

#include <QString>

#include "core/global.h"

namespace net_check
{
// Four decimal pieces 0-255 joined by "." (no sign, no blanks, 1 to 3 digits).
bool ipv4(const QString& text);
// A dotted quad whose ones are contiguous from the top (0.0.0.0 included).
bool mask(const QString& text);
// A mask an interface can take: a valid one other than 0.0.0.0.
bool host_mask(const QString& text);
// An address an interface can take in the subnet of mask: a dotted quad
// outside 0.0.0.0/8, loopback and multicast, not the limited broadcast, and,
// in a subnet of more than two addresses, neither its network nor its
// broadcast address; the mask a host_mask.
bool host_address(const QString& ip, const QString& mask);
// Six two-digit hexadecimal pieces joined by ":".
bool mac(const QString& text);
// A hardware address an interface can take: not all zeros and not a group
// address (the broadcast address is one).
bool unicast_mac(const u8 bytes[6]);
inline bool port(int value)
{
    return value >= 1 && value <= 65535;
}
// The second TCP command server's port, which is fixed.
constexpr int kSecondTcpPort = 10002;
// A port the TCP command server can take beside the second one.
inline bool command_port(int value)
{
    return port(value) && value != kSecondTcpPort;
}
// A dotted quad written as the box writes one: no leading zero (read as
// octal by some tools), nothing around it.
bool canonical(const QString& text);
// "a.b.c.d" of four bytes.
QString dotted(const u8* bytes);
// The four bytes of a dotted quad; false (out untouched) when it is not one.
bool to_bytes(const QString& text, u8 out[4]);
} // namespace net_check
