// The box's INI files ("/data/configs/tcpip.ini", the start-up line's
// file), read and written through QSettings on a copy, never on the stored
// file itself: a read is bounded and keeps what parses, a write replaces
// the file only when what was written reads back.
#pragma once

#include <cstddef>

#include <QMap>
#include <QString>
#include <QVariant>

namespace ini_file
{
// Settings files hold a few hundred bytes.
constexpr size_t kMaxBytes = 64 * 1024;

// Keys of a file as "group/key", with their values.
using Keys = QMap<QString, QVariant>;

enum class Read {
    whole,      // read, and every line parsed
    malformed,  // read; lines that did not parse are left out of the keys
    missing,    // no such file
    damaged,    // more than kMaxBytes: the keys of its first kMaxBytes
    unreadable, // a read error, no permission, no plain file: no keys
};

// The keys of the host file at hostPath. Caller holds
// Utils::_file_deal_mutex.
Read read(const QString& hostPath, Keys* keys);

// Replaces the host file at hostPath by one holding ours and others
// (others yield where both name a key). False, with the file as it was,
// when it could not be written, holds more than kMaxBytes or does not give
// back each of ours. Caller holds Utils::_file_deal_mutex.
bool write(const QString& hostPath, const Keys& ours, const Keys& others = {});
} // namespace ini_file
