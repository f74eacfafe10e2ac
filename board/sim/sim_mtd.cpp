// The MTD partitions as files under the data root: erased to 0xFF on first
// use, and written as NOR flash is (a write only clears bits).
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "board/sim/sim_board.h"

namespace board::sim
{

int SimMtd::open(const std::string& path)
{
    std::string host = paths_.resolve(path);
    int fd = ::open(host.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    QDir().mkpath(QFileInfo(QString::fromStdString(host)).absolutePath());
    fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    std::vector<uint8_t> blank(kEraseSize, 0xFF);
    for (uint32_t off = 0; off < kSize; off += kEraseSize)
        if (::pwrite(fd, blank.data(), blank.size(), off) != long(blank.size())) {
            ::close(fd);
            return -1;
        }
    return fd;
}

int SimMtd::close(int fd)
{
    return fd < 0 ? -1 : ::close(fd);
}

int SimMtd::getInfo(int fd, MtdInfo* info)
{
    if (fd < 0)
        return -1;
    info->size = kSize;
    info->erasesize = kEraseSize;
    info->writesize = kWriteSize;
    return 0;
}

int SimMtd::unlock(int fd, uint32_t offset, uint32_t length)
{
    return (fd < 0 || offset % kEraseSize || uint64_t(offset) + length > kSize) ? -1 : 0;
}

int SimMtd::erase(int fd, uint32_t offset, uint32_t length)
{
    if (fd < 0 || offset % kEraseSize || length % kEraseSize || uint64_t(offset) + length > kSize)
        return -1;
    std::vector<uint8_t> blank(length, 0xFF);
    return ::pwrite(fd, blank.data(), length, offset) == long(length) ? 0 : -1;
}

long SimMtd::pwrite(int fd, const uint8_t* data, uint32_t length, uint32_t offset)
{
    if (fd < 0 || uint64_t(offset) + length > kSize)
        return -1;
    std::vector<uint8_t> cur(length);
    if (::pread(fd, cur.data(), length, offset) != long(length))
        return -1;
    for (uint32_t i = 0; i < length; ++i)
        cur[i] &= data[i];
    return ::pwrite(fd, cur.data(), length, offset);
}

long SimMtd::pread(int fd, uint8_t* data, uint32_t length, uint32_t offset)
{
    if (fd < 0 || uint64_t(offset) + length > kSize)
        return -1;
    return ::pread(fd, data, length, offset);
}

} // namespace board::sim
