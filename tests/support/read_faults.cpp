#include "read_faults.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::atomic<dev_t> g_dev{0};
std::atomic<ino_t> g_ino{0};
} // namespace

void fail_reads_of(const std::string& hostPath)
{
    struct stat st {
    };
    if (hostPath.empty() || ::stat(hostPath.c_str(), &st) != 0) {
        g_ino = 0;
        return;
    }
    g_dev = st.st_dev;
    g_ino = st.st_ino;
}

// Linked into a test program only when it names a file: the program's own
// pread calls then come here first.
extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t offset)
{
    using Real = ssize_t (*)(int, void*, size_t, off_t);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "pread"));
    struct stat st {
    };
    const ino_t ino = g_ino.load();
    if (ino != 0 && ::fstat(fd, &st) == 0 && st.st_ino == ino && st.st_dev == g_dev.load()) {
        errno = EIO;
        return -1;
    }
    return real(fd, buf, n, offset);
}
