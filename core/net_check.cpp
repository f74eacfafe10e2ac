#include "core/net_check.h"

#include <QStringList>

namespace net_check
{
bool to_bytes(const QString& text, u8 out[4])
{
    const QStringList parts = text.split('.');
    if (parts.size() != 4)
        return false;
    u8 v[4];
    for (int i = 0; i < 4; ++i) {
        const QString& p = parts[i];
        if (p.isEmpty() || p.size() > 3)
            return false;
        for (QChar c : p)
            if (c < '0' || c > '9')
                return false;
        const int n = p.toInt();
        if (n > 255)
            return false;
        v[i] = u8(n);
    }
    for (int i = 0; i < 4; ++i)
        out[i] = v[i];
    return true;
}

namespace
{
u32 word(const u8 b[4])
{
    return (u32(b[0]) << 24) | (u32(b[1]) << 16) | (u32(b[2]) << 8) | b[3];
}
} // namespace

bool ipv4(const QString& text)
{
    u8 b[4];
    return to_bytes(text, b);
}

bool mask(const QString& text)
{
    u8 b[4];
    if (!to_bytes(text, b))
        return false;
    // Contiguous from the top: the inverted mask plus one is a power of two.
    const u32 inv = ~word(b);
    return (inv & (inv + 1)) == 0;
}

bool host_mask(const QString& text)
{
    u8 b[4];
    return mask(text) && to_bytes(text, b) && word(b) != 0;
}

bool host_address(const QString& ip, const QString& maskText)
{
    u8 a[4], m[4];
    if (!to_bytes(ip, a) || !host_mask(maskText) || !to_bytes(maskText, m))
        return false;
    const u32 host = ~word(m);
    if (a[0] == 0 || a[0] == 127 || (a[0] >= 224 && a[0] <= 239) || word(a) == 0xFFFFFFFFu)
        return false;
    // /31 and /32 have no network or broadcast address of their own.
    const u32 part = word(a) & host;
    return host < 3 || (part != 0 && part != host);
}

bool unicast_mac(const u8 b[6])
{
    return (b[0] & 0x01) == 0 && (b[0] | b[1] | b[2] | b[3] | b[4] | b[5]) != 0;
}

bool mac(const QString& text)
{
    const QStringList parts = text.split(':');
    if (parts.size() != 6)
        return false;
    for (const QString& p : parts) {
        if (p.size() != 2)
            return false;
        for (QChar c : p)
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
                return false;
    }
    return true;
}

bool canonical(const QString& text)
{
    u8 b[4];
    return to_bytes(text, b) && dotted(b) == text;
}

QString dotted(const u8* b)
{
    return QString("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}
} // namespace net_check
