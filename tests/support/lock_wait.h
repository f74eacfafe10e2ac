// Whether a job waits for a lock another thread holds: the tests of the
// shared state that must change, or be read, only under its lock.
#pragma once

#include <functional>
#include <pthread.h>

#include <QMutex>

// A lock as the check holds it, and how it shows that somebody waits for it.
struct HeldLock {
    std::function<void()> lock;
    std::function<void()> unlock;
    std::function<bool()> waited_for;
    // Nobody holds it (taken and given back at once).
    std::function<bool()> free;
};
HeldLock held(pthread_mutex_t& mutex);
HeldLock held(QMutex& mutex);

// Runs job on a thread while this one holds the lock. True when the job
// waited for it; look then ran while the job was still waiting.
bool waits_for(const HeldLock& held, const std::function<void()>& job, const std::function<void()>& look = {});
