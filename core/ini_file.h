// The box's INI files ("/data/configs/tcpip.ini", the start-up line's
// file) in the format QSettings reads and writes, so that older firmware and
// the PC's tools read what the box writes and the other way round. A file is
// parsed from the bytes read, and written through the stored files' one
// writer: nothing goes through a copy elsewhere, a read needs no room on any
// disk, and a write puts in place only bytes that give back each of the
// box's values.
#pragma once

#include <cstddef>

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

namespace ini_file
{
// A line longer than this is left out. The longest line the box writes, a
// barcode of 4,096 UTF-8 bytes each escaped in at most four, is half as
// long.
constexpr size_t kMaxLine = 32 * 1024;
// The most of a file that is read.
constexpr size_t kMaxBytes = 1024 * 1024;

// Keys of a file as "group/key" (a key before any group, or in [General],
// as "key"), with their values: strings, string lists, byte arrays, and
// values of other kinds QSettings stores ("@Variant(...)" and the like) as
// they stand, to be written back unchanged.
using Keys = QMap<QString, QVariant>;

// What a parse found besides the keys.
struct Damage {
    int leftOut = 0;      // lines that are no key, group or comment, or are longer than kMaxLine
    int groupsMended = 0; // group lines that lost a bracket ("[config", "config]"), taken as that group
    bool cut = false;     // more than kMaxBytes: what stands past its last whole line within them is not read
    bool any() const { return leftOut || groupsMended || cut; }
};

// The keys of an INI text. A line ends at a line break: a value is never
// continued on the next line, so that one damaged line costs no other.
Damage decode(const QByteArray& bytes, Keys* keys);
// The INI text of keys, as QSettings writes them (groups and keys in order,
// non-ASCII escaped); false for a value of a kind this format does not keep
// here.
bool encode(const Keys& keys, QByteArray* out);

enum class Read {
    whole,      // read, and every line parsed
    malformed,  // read; lines that did not parse are left out of the keys
    missing,    // no such file
    damaged,    // more than kMaxBytes: the keys of its first kMaxBytes
    unreadable, // a read error, no permission, no plain file: no keys
};

// The keys of the host file at hostPath; damage, when given, tells what was
// left out. Caller holds Utils::_file_deal_mutex.
Read read(const QString& hostPath, Keys* keys, Damage* damage = nullptr);

// Replaces the host file at hostPath by one holding ours and others
// (others yield where both name a key). False, with the file as it was,
// when it could not be written, or would not read back within the bounds
// with each of ours as it was given. Caller holds Utils::_file_deal_mutex.
bool write(const QString& hostPath, const Keys& ours, const Keys& others = {});
} // namespace ini_file
