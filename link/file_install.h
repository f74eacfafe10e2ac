// Installing files the PC sends, so that a failure never leaves a damaged or
// foreign file: names are plain names inside their folder, a file is written
// beside its target under a temporary name, flushed to the disk, read back
// and compared with what was sent, and renamed into place; a flash partition
// is erased, written and read back. Paths are the system's own
// ("/data/..."); the board resolves them.
#pragma once

#include <cstddef>
#include <string>

#include <QByteArray>

#include "core/global.h"

namespace file_install
{
// Longest name the PC may give a record file.
constexpr int kMaxName = 64;

// A name that stays inside its folder and is safe anywhere a name is used:
// 1..kMaxName characters of letters, digits, '.', '_' and '-', no "..", not
// starting with '.' (temporary files start with one).
bool plain_name(const QByteArray& name);

enum class Result {
    Installed,
    Mismatch, // what was written does not read back as it was given
    Failed,   // open, write, erase or rename failed
};

// Installs size bytes at path through the stored files' writer, read back
// and compared before the rename. On any failure the old file is kept.
Result write_file(const std::string& path, const u8* data, size_t size);

// Erases length bytes of an MTD partition from 0, writes data there and
// reads it back. The descriptor is kept in the transfer state while open
// and closed exactly once.
Result write_mtd(const std::string& device, const u8* data, u32 length);

// Removes every entry of a folder but "." and "..". Returns the number of
// entries removed; -1 when the folder cannot be opened.
int empty_folder(const std::string& path);

// Removes a file; true when it is gone (or was never there).
bool remove_file(const std::string& path);

// The files of a folder as a listing of installed files sees them: regular
// files whose names do not start with '.' (temporary files do), except the
// one named except.
struct FolderUse {
    int files = 0;
    uint64_t bytes = 0;
};
FolderUse folder_use(const std::string& path, const std::string& except = std::string());

// Bytes free for an ordinary writer on the file system that holds path;
// false when that cannot be told.
bool free_bytes(const std::string& path, uint64_t& out);
} // namespace file_install
