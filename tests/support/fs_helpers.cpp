#include "fs_helpers.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QString>

#include "board/file_read.h"
#include "namespaces.h"

bool own_partition(const std::string& path, size_t bytes)
{
    if (unshare_allowed(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    if (!QDir().mkpath(QString::fromStdString(path)))
        return false;
    const std::string options = "size=" + std::to_string(bytes);
    return mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

void drop_partition(const std::string& path)
{
    umount2(path.c_str(), MNT_DETACH);
}

bool fill_up(const std::string& file)
{
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const std::vector<char> block(4096, 'f');
    bool full = false;
    // Whole blocks, then ever smaller pieces down to the last byte.
    for (size_t n = block.size();;) {
        if (write(fd, block.data(), n) >= 0)
            continue;
        if (errno != ENOSPC)
            break;
        if (n == 1) {
            full = true;
            break;
        }
        n /= 2;
    }
    close(fd);
    return full;
}

bool block_writes(const std::vector<std::string>& hostFiles)
{
    for (const std::string& file : hostFiles) {
        const QString blocker = QString::fromStdString(board::temporary_of(file));
        if (!QDir().mkpath(QFileInfo(blocker).absolutePath()) || !QDir().mkdir(blocker))
            return false;
    }
    return true;
}

bool unblock_writes(const std::vector<std::string>& hostFiles)
{
    bool all = true;
    for (const std::string& file : hostFiles)
        all = ::rmdir(board::temporary_of(file).c_str()) == 0 && all;
    return all;
}

FileStamps file_stamps(const std::string& folder)
{
    FileStamps stamps;
    QDirIterator it(QString::fromStdString(folder), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const std::string file = it.next().toStdString();
        struct stat st;
        if (::lstat(file.c_str(), &st) == 0)
            stamps[file] = {st.st_ino, (unsigned long long)st.st_size,
                            st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    }
    return stamps;
}

std::vector<std::string> written_since(const FileStamps& before, const FileStamps& now)
{
    std::vector<std::string> written;
    for (const auto& [file, stamp] : now) {
        const auto was = before.find(file);
        if (was == before.end() || !(was->second == stamp))
            written.push_back(file);
    }
    return written;
}
