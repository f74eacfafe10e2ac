// The one whole-file reader of the program. A file that cannot be read is
// treated as one that does not parse, and every file is bounded: a read
// error, something that is no plain file, or more bytes than the file kind
// ever holds make the file damaged instead of reaching its parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <QByteArray>

namespace board
{
enum class FileRead { whole, missing, damaged };

// Reads the host file at hostPath into out when it holds at most maxBytes;
// out is empty unless the result is whole.
FileRead read_whole(const std::string& hostPath, size_t maxBytes, QByteArray* out);

// Reads n bytes at offset of the host file at hostPath (record files and
// packages, read piece by piece); size, when given, receives the file's
// length (n 0 asks only for that). Damaged when the file ends before
// offset + n or a read fails.
FileRead read_at(const std::string& hostPath, uint64_t offset, void* out, size_t n, int64_t* size = nullptr);
} // namespace board
