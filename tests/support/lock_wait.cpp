#include "lock_wait.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

HeldLock held(pthread_mutex_t& mutex)
{
    // glibc marks a mutex that somebody waits for with 2.
    return {[&] { pthread_mutex_lock(&mutex); }, [&] { pthread_mutex_unlock(&mutex); },
            [&] { return __atomic_load_n(&mutex.__data.__lock, __ATOMIC_RELAXED) == 2; },
            [&] { return pthread_mutex_trylock(&mutex) == 0 && pthread_mutex_unlock(&mutex) == 0; }};
}

HeldLock held(QMutex& mutex)
{
    // Qt 5 on Linux marks one with 3 in its futex word, its first member.
    return {[&] { mutex.lock(); }, [&] { mutex.unlock(); },
            [&] { return __atomic_load_n(reinterpret_cast<uintptr_t*>(&mutex), __ATOMIC_RELAXED) == 3; },
            [&] {
                if (!mutex.tryLock())
                    return false;
                mutex.unlock();
                return true;
            }};
}

bool waits_for(const HeldLock& held, const std::function<void()>& job, const std::function<void()>& look)
{
    std::atomic<bool> done{false};
    held.lock();
    std::thread t([&] {
        job();
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool waited = false;
    while (!done && !waited && std::chrono::steady_clock::now() < deadline) {
        waited = held.waited_for();
        std::this_thread::yield();
    }
    if (waited && look)
        look();
    held.unlock();
    t.join();
    return waited;
}
