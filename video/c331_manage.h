// Manager of the c331 video-processor chip.
#pragma once

#include <atomic>
#include <pthread.h>

#include "core/global.h"

class c331_manage {
public:
    static c331_manage* p_c331_manage;

    // Guards para_update_flag and the image writes that go with it. The
    // video-processor thread holds it for a whole apply pass.
    static pthread_mutex_t mutex;
    // Apply byte: 1 apply the edited image, 2 apply after a factory reset.
    static std::atomic<u8> para_update_flag;
};

// Holds c331_manage's mutex for a scope.
class C331Lock {
public:
    C331Lock() { pthread_mutex_lock(&c331_manage::mutex); }
    ~C331Lock() { pthread_mutex_unlock(&c331_manage::mutex); }
    C331Lock(const C331Lock&) = delete;
    C331Lock& operator=(const C331Lock&) = delete;
};

// Writes done under the mutex, then asks for the apply with code.
template <typename F> void c331_apply(u8 code, F&& write)
{
    C331Lock lock;
    write();
    c331_manage::para_update_flag = code;
}

// Reloads the OSD on the video-processor thread's next turn.
extern std::atomic<u8> g_osd_update;
