// How the tests ask for a namespace, so that ZEV_TEST_NO_NAMESPACES=1 makes
// every test take the paths of a machine that allows none: the network's
// and the private mounts' alike.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sched.h>

// unshare(), failing as on a machine that allows no namespaces when
// ZEV_TEST_NO_NAMESPACES=1 asks to try the tests there.
inline int unshare_allowed(int flags)
{
    const char* none = std::getenv("ZEV_TEST_NO_NAMESPACES");
    if (none && std::strcmp(none, "1") == 0) {
        errno = EPERM;
        return -1;
    }
    return unshare(flags);
}
