// Installing files the PC sends, so that a failure never leaves a damaged or
// foreign file: names are plain names inside their folder, a file is written
// beside its target under a temporary name, checked by MD5 and renamed into
// place, a flash partition is erased, written and read back. Paths are the
// system's own ("/data/..."); the board resolves them.
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
    Mismatch, // what was written does not read back with the digest
    Failed,   // open, write, erase or rename failed
};

// Writes size bytes beside path, checks that the file reads back with
// digest (16 bytes) and renames it over path. On any failure the temporary
// file is removed and the old file is kept.
Result write_file(const std::string& path, const u8* data, size_t size, const u8* digest);

// Erases length bytes of an MTD partition from 0, writes data there and
// reads it back. The descriptor is kept in the transfer state while open
// and closed exactly once.
Result write_mtd(const std::string& device, const u8* data, u32 length);

// Removes every entry of a folder but "." and "..". Returns the number of
// entries removed; -1 when the folder cannot be opened.
int empty_folder(const std::string& path);

// Removes a file; true when it is gone (or was never there).
bool remove_file(const std::string& path);
} // namespace file_install
