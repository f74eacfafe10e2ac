#include "core/ini_file.h"

#include <memory>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

#include "board/file_read.h"

namespace ini_file
{
namespace
{
// QSettings reads and writes files by name only: bytes go through a private
// copy of their own, so that it never meets more than was read nor writes
// what was not checked. The copy lies in the temporary folder, else beside
// the stored file.
std::unique_ptr<QTemporaryFile> scratch(const QByteArray& bytes, const QString& hostPath)
{
    for (const QString& dir : {QDir::tempPath(), QFileInfo(hostPath).absolutePath()}) {
        auto file = std::make_unique<QTemporaryFile>(dir + "/.zev-ini-XXXXXX.ini");
        if (file->open() && file->write(bytes) == bytes.size() && file->flush()) {
            file->close();
            return file;
        }
    }
    return nullptr;
}

// A section line without its closing bracket would put every key after it
// into a section of that name: the line is left out instead, and the keys
// stay where they were.
QByteArray without_broken_sections(const QByteArray& bytes, bool* broken)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (const QByteArray& line : bytes.split('\n')) {
        const QByteArray text = line.trimmed();
        if (text.startsWith('[') && !text.contains(']')) {
            *broken = true;
            continue;
        }
        out += line + '\n';
    }
    return out;
}

Read parse(const QByteArray& bytes, const QString& hostPath, Keys* keys)
{
    bool broken = false;
    const auto copy = scratch(without_broken_sections(bytes, &broken), hostPath);
    if (!copy)
        return Read::unreadable;
    QSettings s(copy->fileName(), QSettings::IniFormat);
    for (const QString& key : s.allKeys())
        keys->insert(key, s.value(key));
    return s.status() == QSettings::NoError && !broken ? Read::whole : Read::malformed;
}

// A value as it reads back from the file: the INI text of a number is its
// digits.
QString text(const QVariant& v)
{
    return v.type() == QVariant::StringList ? v.toStringList().join(QChar(0x1F)) : v.toString();
}
} // namespace

Read read(const QString& hostPath, Keys* keys)
{
    keys->clear();
    QByteArray bytes;
    int64_t size = 0;
    switch (board::read_head(hostPath.toStdString(), kMaxBytes, &bytes, &size)) {
    case board::FileRead::whole:
        break;
    case board::FileRead::missing:
        return Read::missing;
    case board::FileRead::damaged:
    case board::FileRead::unreadable:
        return Read::unreadable;
    }
    if (uint64_t(size) <= kMaxBytes)
        return parse(bytes, hostPath, keys);
    // What stands past the most a settings file holds is left out, from the
    // last whole line on.
    bytes.truncate(bytes.lastIndexOf('\n') + 1);
    return parse(bytes, hostPath, keys) == Read::unreadable ? Read::unreadable : Read::damaged;
}

bool write(const QString& hostPath, const Keys& ours, const Keys& others)
{
    const auto copy = scratch(QByteArray(), hostPath);
    if (!copy)
        return false;
    {
        QSettings s(copy->fileName(), QSettings::IniFormat);
        for (auto it = others.begin(); it != others.end(); ++it)
            s.setValue(it.key(), it.value());
        for (auto it = ours.begin(); it != ours.end(); ++it)
            s.setValue(it.key(), it.value());
        s.sync();
        if (s.status() != QSettings::NoError)
            return false;
    }
    QByteArray bytes;
    if (board::read_whole(copy->fileName().toStdString(), kMaxBytes, &bytes) != board::FileRead::whole)
        return false;
    Keys back;
    if (parse(bytes, hostPath, &back) == Read::unreadable)
        return false;
    for (auto it = ours.begin(); it != ours.end(); ++it)
        if (!back.contains(it.key()) || text(back.value(it.key())) != text(it.value()))
            return false;
    return board::write_whole(hostPath.toStdString(), bytes.constData(), size_t(bytes.size()));
}
} // namespace ini_file
