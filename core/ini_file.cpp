#include "core/ini_file.h"

#include <algorithm>
#include <cstdint>

#include <QStringList>

#include "board/file_read.h"

namespace ini_file
{
namespace
{
// A value as it reads back from the file: the INI text of a number is its
// digits.
QString text(const QVariant& v)
{
    return v.type() == QVariant::StringList ? v.toStringList().join(QChar(0x1F)) : v.toString();
}
} // namespace

Read read(const QString& hostPath, Keys* keys, Damage* damage)
{
    keys->clear();
    Damage found;
    QByteArray bytes;
    int64_t size = 0;
    Read answer = Read::unreadable;
    switch (board::read_head(hostPath.toStdString(), kMaxBytes, &bytes, &size)) {
    case board::FileRead::whole: {
        const bool cut = uint64_t(size) > kMaxBytes;
        // What stands past the most that is read is left out, from the last
        // whole line on.
        if (cut)
            bytes.truncate(std::max(bytes.lastIndexOf('\n'), bytes.lastIndexOf('\r')) + 1);
        found = decode(bytes, keys);
        found.cut = cut;
        answer = found.cut ? Read::damaged : found.any() ? Read::malformed : Read::whole;
        break;
    }
    case board::FileRead::missing:
        answer = Read::missing;
        break;
    case board::FileRead::damaged:
    case board::FileRead::unreadable:
        break;
    }
    if (damage)
        *damage = found;
    return answer;
}

bool write(const QString& hostPath, const Keys& ours, const Keys& others)
{
    Keys all = others;
    for (auto it = ours.begin(); it != ours.end(); ++it)
        all.insert(it.key(), it.value());
    QByteArray bytes;
    if (!encode(all, &bytes) || size_t(bytes.size()) > kMaxBytes)
        return false;
    Keys back;
    decode(bytes, &back);
    for (auto it = ours.begin(); it != ours.end(); ++it)
        if (!back.contains(it.key()) || text(back.value(it.key())) != text(it.value()))
            return false;
    return board::write_whole(hostPath.toStdString(), bytes.constData(), size_t(bytes.size()));
}
} // namespace ini_file
