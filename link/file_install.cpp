#include "link/file_install.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QMutexLocker>

#include "board/board.h"
#include "board/file_read.h"
#include "core/utils.h"
#include "core/logging.h"

namespace file_install
{
namespace
{
// Pieces in which written data is read back.
constexpr u32 kPiece = 0x10000;

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

Result write_file(const std::string& path, const u8* data, size_t size)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    switch (board::write_file(board::path(path), data, size, true)) {
    case board::FileWrite::written:
        return Result::Installed;
    case board::FileWrite::mismatch:
        if (debugOn())
            zevlog::debug(lcLink(), "\n read app found comare 01!!!!!! ");
        return Result::Mismatch;
    case board::FileWrite::failed:
        break;
    }
    return Result::Failed;
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
