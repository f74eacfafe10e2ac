#include "board/file_read.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace board
{
namespace
{
constexpr size_t kChunk = 64 * 1024;

// Reads fd to its end into out; false on a read error or past maxBytes (the
// file grew since it was measured).
bool read_to_end(int fd, size_t maxBytes, QByteArray* out)
{
    for (;;) {
        const size_t room = maxBytes - size_t(out->size()) + 1;
        const size_t want = room < kChunk ? room : kChunk;
        const int at = out->size();
        out->resize(at + int(want));
        const ssize_t n = ::read(fd, out->data() + at, want);
        if (n < 0 && errno == EINTR) {
            out->resize(at);
            continue;
        }
        out->resize(at + (n > 0 ? int(n) : 0));
        if (n < 0 || size_t(out->size()) > maxBytes)
            return false;
        if (n == 0)
            return true;
    }
}
// Reads n bytes at offset; false when the file ends first or a read fails.
bool read_fully_at(int fd, uint64_t offset, void* out, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, static_cast<char*>(out) + done, n - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

// Opens hostPath for reading; fd -1 with the answer when it is missing or
// cannot be opened. Non-blocking: a FIFO put in a file's place must not hold
// the reader. regular tells whether it is a plain file, st its status.
FileRead open_plain(const std::string& hostPath, int* fd, struct stat* st, bool* regular)
{
    *fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (*fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? FileRead::missing : FileRead::damaged;
    *regular = ::fstat(*fd, st) == 0 && S_ISREG(st->st_mode);
    return FileRead::whole;
}
} // namespace

FileRead read_whole(const std::string& hostPath, size_t maxBytes, QByteArray* out)
{
    out->clear();
    int fd = -1;
    struct stat st;
    bool whole = false;
    const FileRead opened = open_plain(hostPath, &fd, &st, &whole);
    if (fd < 0)
        return opened;
    whole = whole && uint64_t(st.st_size) <= maxBytes;
    if (whole) {
        out->reserve(int(st.st_size));
        whole = read_to_end(fd, maxBytes, out);
    }
    if (::close(fd) != 0)
        whole = false;
    if (!whole)
        out->clear();
    return whole ? FileRead::whole : FileRead::damaged;
}

FileRead read_at(const std::string& hostPath, uint64_t offset, void* out, size_t n, int64_t* size)
{
    int fd = -1;
    struct stat st;
    bool good = false;
    const FileRead opened = open_plain(hostPath, &fd, &st, &good);
    if (fd < 0)
        return opened;
    if (good && size)
        *size = int64_t(st.st_size);
    const uint64_t length = good ? uint64_t(st.st_size) : 0;
    good = good && offset <= length && n <= length - offset && read_fully_at(fd, offset, out, n);
    if (::close(fd) != 0)
        good = false;
    return good ? FileRead::whole : FileRead::damaged;
}
} // namespace board
