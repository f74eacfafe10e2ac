// The one whole-file reader of the program. A file that cannot be read is
// treated as one that does not parse, and every file is bounded: a read
// error, something that is no plain file, or more bytes than the file kind
// ever holds make the file damaged instead of reaching its parser.
#pragma once

#include <cstddef>
#include <string>

#include <QByteArray>

namespace board
{
enum class FileRead { whole, missing, damaged };

// Reads the host file at hostPath into out when it holds at most maxBytes;
// out is empty unless the result is whole.
FileRead read_whole(const std::string& hostPath, size_t maxBytes, QByteArray* out);
} // namespace board
