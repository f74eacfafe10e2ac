#include "core/staging.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

#include "core/logging.h"

StagingBuffer fileBuf_tarvo;

StagingBuffer::~StagingBuffer()
{
    release();
}

bool StagingBuffer::take(size_t size)
{
    release();
    if (size == 0)
        return true;
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        zevlog::warning(lcCore(), "staging buffer of %zu bytes: %s", size, std::strerror(errno));
        return false;
    }
    data_ = static_cast<u8*>(p);
    size_ = size;
    return true;
}

void StagingBuffer::prepare(size_t offset, size_t length)
{
#ifdef MADV_POPULATE_WRITE
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    if (!data_ || offset >= size_ || length == 0)
        return;
    const size_t from = offset / page * page;
    const size_t to = std::min(size_, offset + length);
    // Kernels before 5.14 do not know the advice: nothing lost.
    ::madvise(data_ + from, to - from, MADV_POPULATE_WRITE);
#else
    (void)offset;
    (void)length;
#endif
}

void StagingBuffer::release()
{
    if (!data_)
        return;
    if (::munmap(data_, size_) != 0)
        zevlog::warnErrno(lcCore(), "staging buffer not given back");
    data_ = nullptr;
    size_ = 0;
}
