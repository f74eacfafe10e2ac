#include "board/sim/restart.h"
#include "board/log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace board::sim
{

namespace
{
constexpr int kFailStatus = 1 << 8; // exit code 1 as system() reports it
}

std::string runningExecutable()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    buf[n] = 0;
    return buf;
}

bool closeOnExecAll()
{
    DIR* d = ::opendir("/proc/self/fd");
    if (!d)
        return false;
    const int own = ::dirfd(d);
    while (dirent* e = ::readdir(d)) {
        char* end = nullptr;
        const long fd = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end || fd <= 2 || fd == own)
            continue;
        const int flags = ::fcntl(int(fd), F_GETFD);
        if (flags >= 0)
            ::fcntl(int(fd), F_SETFD, flags | FD_CLOEXEC);
    }
    ::closedir(d);
    return true;
}

SimShell::Restart execRestart(std::string program, std::vector<std::string> argv)
{
    return [program = std::move(program), argv = std::move(argv)]() -> int {
        std::vector<char*> av;
        for (const std::string& a : argv)
            av.push_back(const_cast<char*>(a.c_str()));
        av.push_back(nullptr);
        std::fflush(nullptr);
        if (!closeOnExecAll()) {
            zevlog::warnErrno(lcBoard(), "simulated board: restart");
            return kFailStatus;
        }
        ::execv(program.c_str(), av.data());
        zevlog::warning(lcBoard(), "simulated board: restart of %s failed: %s\n", program.c_str(), std::strerror(errno));
        return kFailStatus;
    };
}

} // namespace board::sim
