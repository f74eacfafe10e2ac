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

// What a write, or a comparison with what was written, found.
enum class FileWrite {
    written,  // in place (a comparison: the file holds exactly the bytes)
    mismatch, // the file read back otherwise than it was given
    failed,   // it could not be written, read or put in place
};

// The name a write keeps its bytes under until the rename: ".<name>.part"
// beside hostPath, in the same file system; a dot name, which no listing of
// stored files shows.
std::string temporary_of(const std::string& hostPath);
// Whether a file name is such a temporary name.
bool temporary_name(const std::string& name);

// The one writer of stored files: writes data to a new file under the
// temporary name (whatever stands there, a FIFO too, is removed first),
// syncs it, with readBack reads it back and compares it with data, renames
// it over hostPath (its folder created first) and syncs the folder. A power
// cut or a full partition leaves the old file or none, never half of one;
// on any failure the temporary file is removed and the old file kept.
FileWrite write_file(const std::string& hostPath, const void* data, size_t length, bool readBack = false);
// write_file without the read-back: true when written.
bool write_whole(const std::string& hostPath, const void* data, size_t length);

// Whether the host file at hostPath holds exactly the length bytes of data;
// read in pieces, without blocking.
FileWrite compare_file(const std::string& hostPath, const void* data, size_t length);
} // namespace board
