#include "board/file_read.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

namespace board
{
namespace
{
constexpr size_t kChunk = 64 * 1024;

// Reads fd to its end into out; false on a read error or past maxBytes (the
// file grew since it was measured: *over is then set).
bool read_to_end(int fd, size_t maxBytes, QByteArray* out, bool* over)
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
        *over = size_t(out->size()) > maxBytes;
        if (n < 0 || *over)
            return false;
        if (n == 0)
            return true;
    }
}
// Reads n bytes at offset; false when the file ends first or a read fails
// (*failed then set).
bool read_fully_at(int fd, uint64_t offset, void* out, size_t n, bool* failed)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, static_cast<char*>(out) + done, n - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        *failed = got < 0;
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

// Opens hostPath for reading: whole with fd and st set for a plain file,
// else the answer and fd -1. Non-blocking: a FIFO put in a file's place
// must not hold the reader.
FileRead open_plain(const std::string& hostPath, int* fd, struct stat* st)
{
    *fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (*fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? FileRead::missing : FileRead::unreadable;
    if (::fstat(*fd, st) == 0 && S_ISREG(st->st_mode))
        return FileRead::whole;
    ::close(*fd);
    *fd = -1;
    return FileRead::unreadable;
}

// The answer once fd is closed: a failing close is a failed read.
FileRead closed(int fd, FileRead answer)
{
    return ::close(fd) != 0 && answer == FileRead::whole ? FileRead::unreadable : answer;
}

int fsync_dir(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int r = ::fsync(fd);
    ::close(fd);
    return r;
}

// Opens the plain file at hostPath and reads it into out with read(fd, st);
// out is empty unless the read is whole.
template <typename Read> FileRead read_into(const std::string& hostPath, QByteArray* out, Read read)
{
    out->clear();
    int fd = -1;
    struct stat st;
    const FileRead opened = open_plain(hostPath, &fd, &st);
    if (fd < 0)
        return opened;
    const FileRead answer = closed(fd, read(fd, st));
    if (answer != FileRead::whole)
        out->clear();
    return answer;
}
} // namespace

FileRead read_whole(const std::string& hostPath, size_t maxBytes, QByteArray* out)
{
    return read_into(hostPath, out, [&](int fd, const struct stat& st) {
        if (uint64_t(st.st_size) > maxBytes)
            return FileRead::damaged;
        bool over = false;
        out->reserve(int(st.st_size));
        return read_to_end(fd, maxBytes, out, &over) ? FileRead::whole
               : over                                ? FileRead::damaged
                                                     : FileRead::unreadable;
    });
}

FileRead read_head(const std::string& hostPath, size_t n, QByteArray* out, int64_t* size)
{
    return read_into(hostPath, out, [&](int fd, const struct stat& st) {
        if (size)
            *size = int64_t(st.st_size);
        out->resize(int(uint64_t(st.st_size) < n ? size_t(st.st_size) : n));
        bool failed = false;
        // A file that shrank meanwhile could not be read as it stands.
        return read_fully_at(fd, 0, out->data(), size_t(out->size()), &failed) ? FileRead::whole : FileRead::unreadable;
    });
}

FileRead read_at(const std::string& hostPath, uint64_t offset, void* out, size_t n, int64_t* size)
{
    int fd = -1;
    struct stat st;
    const FileRead opened = open_plain(hostPath, &fd, &st);
    if (fd < 0)
        return opened;
    if (size)
        *size = int64_t(st.st_size);
    const uint64_t length = uint64_t(st.st_size);
    bool failed = false;
    FileRead answer = FileRead::damaged;
    if (offset <= length && n <= length - offset)
        answer = read_fully_at(fd, offset, out, n, &failed) ? FileRead::whole
                 : failed                                   ? FileRead::unreadable
                                                            : FileRead::damaged;
    return closed(fd, answer);
}

std::string temporary_of(const std::string& hostPath)
{
    const size_t slash = hostPath.rfind('/');
    const size_t at = slash == std::string::npos ? 0 : slash + 1;
    return hostPath.substr(0, at) + "." + hostPath.substr(at) + ".part";
}

bool temporary_name(const std::string& name)
{
    const std::string suffix = ".part";
    return name.size() > 1 + suffix.size() && name[0] == '.' &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

FileWrite compare_file(const std::string& hostPath, const void* data, size_t length)
{
    int fd = -1;
    struct stat st;
    if (open_plain(hostPath, &fd, &st) != FileRead::whole)
        return FileWrite::failed;
    if (uint64_t(st.st_size) != length)
        return ::close(fd) == 0 ? FileWrite::mismatch : FileWrite::failed;
    QByteArray piece(int(length < kChunk ? length : kChunk), '\0');
    FileWrite answer = FileWrite::written;
    for (size_t done = 0; done < length && answer == FileWrite::written;) {
        const size_t n = length - done < kChunk ? length - done : kChunk;
        bool failed = false;
        if (!read_fully_at(fd, done, piece.data(), n, &failed))
            answer = failed ? FileWrite::failed : FileWrite::mismatch;
        else if (std::memcmp(piece.constData(), static_cast<const char*>(data) + done, n) != 0)
            answer = FileWrite::mismatch;
        done += n;
    }
    return ::close(fd) != 0 && answer == FileWrite::written ? FileWrite::failed : answer;
}

FileWrite write_file(const std::string& hostPath, const void* data, size_t length, bool readBack)
{
    const QString dir = QFileInfo(QString::fromStdString(hostPath)).absolutePath();
    if (!QDir().mkpath(dir))
        return FileWrite::failed;
    const std::string tmp = temporary_of(hostPath);
    // Always a new file: a FIFO left at its name would hold the open until
    // something read it.
    if (::unlink(tmp.c_str()) != 0 && errno != ENOENT)
        return FileWrite::failed;
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return FileWrite::failed;
    size_t done = 0;
    bool ok = true;
    while (ok && done < length) {
        const ssize_t w = ::write(fd, static_cast<const char*>(data) + done, length - done);
        if (w < 0 && errno == EINTR)
            continue;
        ok = w > 0;
        done += ok ? size_t(w) : 0;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    const FileWrite answer = !ok ? FileWrite::failed : readBack ? compare_file(tmp, data, length) : FileWrite::written;
    if (answer != FileWrite::written || ::rename(tmp.c_str(), hostPath.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return answer == FileWrite::written ? FileWrite::failed : answer;
    }
    // The new file is in place whatever the folder's sync gives: one that
    // fails leaves the rename to the system's next sync.
    (void)fsync_dir(dir.toStdString());
    return FileWrite::written;
}

bool write_whole(const std::string& hostPath, const void* data, size_t length)
{
    return write_file(hostPath, data, length) == FileWrite::written;
}
} // namespace board
