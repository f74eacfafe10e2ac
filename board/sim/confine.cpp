#include "board/sim/confine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace board::sim
{

namespace
{
// As the kernel's limit on links followed in one lookup.
constexpr int kMaxHops = 40;

std::string joinPath(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool splitLast(const std::string& path, std::string* folder, std::string* name)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return false;
    *folder = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
    return !name->empty() && *name != "." && *name != "..";
}

std::string locate(const std::string& path, int hops)
{
    if (hops > kMaxHops || path.empty() || path[0] != '/')
        return {};
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf))
        return buf;
    if (errno != ENOENT)
        return {};
    std::string folder, name;
    if (!splitLast(path, &folder, &name))
        return {};
    const std::string base = locate(folder, hops + 1);
    if (base.empty())
        return {};
    const std::string joined = joinPath(base, name);
    struct stat st;
    if (::lstat(joined.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return joined;
    // A dangling link: opening it for writing creates its target.
    char target[PATH_MAX];
    const ssize_t n = ::readlink(joined.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    target[n] = 0;
    return locate(target[0] == '/' ? std::string(target) : joinPath(base, target), hops + 1);
}

bool within(const std::string& root, const std::string& real)
{
    return !real.empty() && (real == root || (real.size() > root.size() && real.compare(0, root.size(), root) == 0 &&
                                              (root == "/" || real[root.size()] == '/')));
}
} // namespace

std::string realLocation(const std::string& path)
{
    return locate(path, 0);
}

bool leadsInside(const std::string& root, const std::string& path, bool followLast)
{
    char buf[PATH_MAX];
    if (!::realpath(root.c_str(), buf))
        return false;
    const std::string realRoot = buf;
    if (followLast)
        return within(realRoot, realLocation(path));
    std::string folder, name;
    if (!splitLast(path, &folder, &name))
        return false;
    const std::string base = realLocation(folder);
    return within(realRoot, base.empty() ? base : joinPath(base, name));
}

} // namespace board::sim
