#include "read_faults.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
ino_t inode_of(const char* path)
{
    struct stat st {
    };
    return !path || !*path || ::stat(path, &st) != 0 ? 0 : st.st_ino;
}

// Named by the test, or by the environment when this is preloaded into the
// program.
std::atomic<ino_t>& failing()
{
    static std::atomic<ino_t> ino{inode_of(std::getenv("ZEV_FAIL_READS"))};
    return ino;
}

bool fails(int fd)
{
    const ino_t ino = failing();
    struct stat st {
    };
    if (ino == 0 || ::fstat(fd, &st) != 0 || st.st_ino != ino)
        return false;
    errno = EIO;
    return true;
}
} // namespace

void fail_reads_of(const std::string& hostPath)
{
    failing() = inode_of(hostPath.c_str());
}

bool with_failing_reads(const std::string& hostPath)
{
#ifdef ZEV_READ_FAULTS_LIB
    // The sanitizers' runtime no longer comes first in the program's list.
    const auto add = [](const char* name, const char* value, const char* separator) {
        const char* old = std::getenv(name);
        const std::string both = old && *old ? std::string(old) + separator + value : std::string(value);
        return ::setenv(name, both.c_str(), 1) == 0;
    };
    return add("LD_PRELOAD", ZEV_READ_FAULTS_LIB, " ") && add("ASAN_OPTIONS", "verify_asan_link_order=0", ":") &&
           ::setenv("ZEV_FAIL_READS", hostPath.c_str(), 1) == 0;
#else
    (void)hostPath;
    return false;
#endif
}

// The program's own read and pread calls come here first: in a test program
// when it names a file, in a started program when it is preloaded.
extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t offset)
{
    static const auto real = reinterpret_cast<ssize_t (*)(int, void*, size_t, off_t)>(::dlsym(RTLD_NEXT, "pread"));
    return fails(fd) ? -1 : real(fd, buf, n, offset);
}
extern "C" ssize_t read(int fd, void* buf, size_t n)
{
    static const auto real = reinterpret_cast<ssize_t (*)(int, void*, size_t)>(::dlsym(RTLD_NEXT, "read"));
    return fails(fd) ? -1 : real(fd, buf, n);
}
