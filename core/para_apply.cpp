#include "core/para_apply.h"

pthread_mutex_t g_para_apply_mutex = PTHREAD_MUTEX_INITIALIZER;
C331ApplyByte g_para_update_flag;

namespace
{
std::atomic<void (*)()> g_wake_hook{nullptr};
std::atomic<void (*)()> g_image_hook{nullptr};
} // namespace

void set_image_written_hook(void (*hook)())
{
    g_image_hook.store(hook);
}

void image_written()
{
    if (void (*hook)() = g_image_hook.load())
        hook();
}

void C331ApplyByte::set_wake_hook(void (*hook)())
{
    g_wake_hook.store(hook);
}

C331ApplyByte& C331ApplyByte::operator=(u8 value)
{
    // A pending apply after a factory reset (2) also rewrites the stored
    // modes: an edit asked before the reader took it (1) must not turn it
    // into a plain apply. Writers hold the apply mutex, the reader too when
    // it clears the byte.
    if (value != 0 && value_.load() > value)
        value = value_.load();
    value_.store(value);
    if (value) {
        if (void (*wake)() = g_wake_hook.load())
            wake();
        image_written();
    }
    return *this;
}
