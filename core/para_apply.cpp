#include "core/para_apply.h"

pthread_mutex_t g_para_apply_mutex = PTHREAD_MUTEX_INITIALIZER;
C331ApplyByte g_para_update_flag;

namespace
{
std::atomic<void (*)()> g_wake_hook{nullptr};
} // namespace

void C331ApplyByte::set_wake_hook(void (*hook)())
{
    g_wake_hook.store(hook);
}

C331ApplyByte& C331ApplyByte::operator=(u8 value)
{
    value_.store(value);
    if (value)
        if (void (*wake)() = g_wake_hook.load())
            wake();
    return *this;
}
