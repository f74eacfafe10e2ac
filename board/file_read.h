// The one whole-file reader and writer of the program. Every read is
// bounded by what the file's kind ever holds, and tells a file that could
// not be read (a read error, no permission, something that is no plain
// file) from one whose bytes were read and are too many: the first is left
// as it is, only the second may be replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <QByteArray>

namespace board
{
enum class FileRead { whole, missing, damaged, unreadable };

// Reads the host file at hostPath into out when it holds at most maxBytes
// (damaged when it holds more); out is empty unless the result is whole.
FileRead read_whole(const std::string& hostPath, size_t maxBytes, QByteArray* out);

// Reads the first n bytes of the host file at hostPath into out, all of it
// when it holds fewer, for files a writer or a hand may have left longer
// than they are read; size, when given, receives the file's length. out is
// empty unless the result is whole.
FileRead read_head(const std::string& hostPath, size_t n, QByteArray* out, int64_t* size = nullptr);

// Reads n bytes at offset of the host file at hostPath (record files and
// packages, read piece by piece); size, when given, receives the file's
// length (n 0 asks only for that). Damaged when the file ends before
// offset + n.
FileRead read_at(const std::string& hostPath, uint64_t offset, void* out, size_t n, int64_t* size = nullptr);

// Writes data beside hostPath, syncs it and renames it over hostPath (its
// folder created first): a power cut or a full partition leaves the old
// file or none, never half of one. False when it was not written.
bool write_whole(const std::string& hostPath, const void* data, size_t length);
} // namespace board
