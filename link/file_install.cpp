#include "link/file_install.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QMutexLocker>

#include "board/board.h"
#include "core/utils.h"
#include "core/logging.h"

namespace file_install
{
namespace
{
// Pieces in which written data is read back.
constexpr u32 kPiece = 0x10000;

// Folders files are installed into.
const char* const kInstallFolders[] = {"/data/app",         "/data/configs",      "/data/modes",
                                       "/data/rcvrecovery", "/data/smartmapping", "/etc/network"};

// The entries of a host folder but "." and ".."; false when it cannot be
// opened.
bool entries(const std::string& host, std::vector<std::string>& names)
{
    DIR* dir = ::opendir(host.c_str());
    if (!dir)
        return false;
    while (dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    }
    ::closedir(dir);
    return true;
}

bool write_all(int fd, const u8* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t w = ::write(fd, data + done, size - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        done += size_t(w);
    }
    return true;
}

// The temporary name beside a target: ".<name>.part" in the same folder, so
// the rename stays inside one file system.
std::string temp_of(const std::string& host)
{
    size_t slash = host.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : host.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? host : host.substr(slash + 1);
    return dir + "." + name + ".part";
}
} // namespace

bool plain_name(const QByteArray& name)
{
    if (name.isEmpty() || name.size() > kMaxName || name.startsWith('.') || name.contains(".."))
        return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                  c == '-';
        if (!ok)
            return false;
    }
    return true;
}

bool remove_file(const std::string& path)
{
    std::string host = board::path(path);
    return ::unlink(host.c_str()) == 0 || errno == ENOENT;
}

Result compare_file(const std::string& host, const u8* data, size_t size)
{
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Result::Failed;
    std::vector<u8> piece(kPiece);
    Result result = Result::Installed;
    size_t done = 0;
    while (result == Result::Installed) {
        ssize_t r = ::read(fd, piece.data(), piece.size());
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            result = Result::Failed;
        else if (r == 0)
            break;
        else if (size_t(r) > size - done || std::memcmp(piece.data(), data + done, size_t(r)) != 0)
            result = Result::Mismatch;
        else
            done += size_t(r);
    }
    if (::close(fd) != 0 && result == Result::Installed)
        result = Result::Failed;
    return result == Result::Installed && done != size ? Result::Mismatch : result;
}

Result write_file(const std::string& path, const u8* data, size_t size)
{
    const std::string host = board::path(path);
    const std::string temp = temp_of(host);
    QMutexLocker lock(&Utils::_file_deal_mutex);
    // The temporary file is always a new one: a FIFO left at its name would
    // hold the open until something read it.
    if (::unlink(temp.c_str()) != 0 && errno != ENOENT)
        return Result::Failed;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return Result::Failed;
    bool ok = write_all(fd, data, size) && ::fsync(fd) == 0;
    // Closed once, whatever happened before.
    ok = ::close(fd) == 0 && ok;
    const Result result = ok ? compare_file(temp, data, size) : Result::Failed;
    if (result == Result::Mismatch && debugOn())
        zevlog::debug(lcLink(), "\n read app found comare 01!!!!!! ");
    if (result != Result::Installed || ::rename(temp.c_str(), host.c_str()) != 0) {
        ::unlink(temp.c_str());
        return result == Result::Installed ? Result::Failed : result;
    }
    return Result::Installed;
}

Result write_mtd(const std::string& device, const u8* data, u32 length)
{
    board::Mtd& mtd = board::current().mtd();
    int& fd = g_zev_file_deal_para.mtd_fd;
    fd = mtd.open(device);
    if (fd < 0)
        return Result::Failed;
    // A failed erase closes the descriptor itself.
    if (Utils::non_region_erase(fd, 0, int(length), 0) != 0) {
        fd = -1;
        return Result::Failed;
    }
    Result result = Result::Installed;
    if (Utils::non_region_write(fd, const_cast<u8*>(data), int(length), 0) != 0) {
        result = Result::Failed;
    } else {
        std::vector<u8> piece(kPiece);
        for (u32 at = 0; at < length && result == Result::Installed; at += kPiece) {
            u32 n = length - at < kPiece ? length - at : kPiece;
            if (mtd.pread(fd, piece.data(), n, at) != long(n))
                result = Result::Failed;
            else if (std::memcmp(piece.data(), data + at, n) != 0)
                result = Result::Mismatch;
        }
    }
    if (mtd.close(fd) != 0 && result == Result::Installed)
        result = Result::Failed;
    fd = -1;
    return result;
}

int empty_folder(const std::string& path)
{
    const std::string host = board::path(path);
    std::vector<std::string> names;
    if (!entries(host, names))
        return -1;
    int removed = 0;
    for (const std::string& n : names)
        if (::unlink((host + "/" + n).c_str()) == 0)
            ++removed;
    return removed;
}

bool temporary_name(const std::string& name)
{
    const std::string suffix = ".part";
    return name.size() > 1 + suffix.size() && name[0] == '.' &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void remove_temporaries()
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    for (const char* folder : kInstallFolders) {
        const std::string host = board::path(folder);
        std::vector<std::string> names;
        entries(host, names);
        for (const std::string& n : names)
            if (temporary_name(n) && ::unlink((host + "/" + n).c_str()) != 0 && debugOn())
                zevlog::debug(lcLink(), "\n remove %s/%s failed: %s", folder, n.c_str(), std::strerror(errno));
    }
}

FolderUse folder_use(const std::string& path, const std::string& except)
{
    const std::string host = board::path(path);
    FolderUse use;
    std::vector<std::string> names;
    entries(host, names);
    for (const std::string& n : names) {
        struct stat st {
        };
        if (n[0] == '.' || n == except || ::lstat((host + "/" + n).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        ++use.files;
        use.bytes += uint64_t(st.st_size);
    }
    return use;
}

bool free_bytes(const std::string& path, uint64_t& out)
{
    struct statvfs s {
    };
    if (::statvfs(board::path(path).c_str(), &s) != 0)
        return false;
    out = uint64_t(s.f_bavail) * s.f_frsize;
    return true;
}
} // namespace file_install
