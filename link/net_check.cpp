#include "link/net_check.h"

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
    const u32 m = (u32(b[0]) << 24) | (u32(b[1]) << 16) | (u32(b[2]) << 8) | b[3];
    // Contiguous from the top: the inverted mask plus one is a power of two.
    const u32 inv = ~m;
    return (inv & (inv + 1)) == 0;
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

QString dotted(const u8* b)
{
    return QString("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}
} // namespace net_check
