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
} // namespace

FileRead read_whole(const std::string& hostPath, size_t maxBytes, QByteArray* out)
{
    out->clear();
    // Non-blocking: a FIFO put in a file's place must not hold the reader.
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? FileRead::missing : FileRead::damaged;
    struct stat st;
    bool whole = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) <= maxBytes;
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
} // namespace board
