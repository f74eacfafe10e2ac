#include "read_faults.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::atomic<ino_t> g_ino{0};
} // namespace

void fail_reads_of(const std::string& hostPath)
{
    struct stat st {
    };
    g_ino = hostPath.empty() || ::stat(hostPath.c_str(), &st) != 0 ? 0 : st.st_ino;
}

// Linked into a test program only when it names a file: the program's own
// pread calls then come here first.
extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t offset)
{
    static const auto real = reinterpret_cast<ssize_t (*)(int, void*, size_t, off_t)>(::dlsym(RTLD_NEXT, "pread"));
    struct stat st {
    };
    if (g_ino != 0 && ::fstat(fd, &st) == 0 && st.st_ino == g_ino) {
        errno = EIO;
        return -1;
    }
    return real(fd, buf, n, offset);
}
