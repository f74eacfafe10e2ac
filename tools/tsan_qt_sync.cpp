// Preloaded into programs built with ZEV_TSAN (tools/race-check.sh): shows
// ThreadSanitizer the synchronisation that Qt 5 does inside its
// uninstrumented libraries, so a QMutex-guarded access or data handed over
// by a queued call is not reported as a race.
//
// Each wrapper takes the place of an exported Qt function that our code
// (or another Qt library, through its PLT) calls, tells ThreadSanitizer what
// it does and calls the real one. Calls inside libQt5Core are bound there
// and never come here: only our own locks and hand-overs are seen.
//
// - QMutex (and QRecursiveMutex, which is one): lock, tryLock, unlock as
//   mutex annotations; QBasicMutex's slow paths (its fast paths are inline,
//   atomics ThreadSanitizer sees) as acquire and release.
// - QWaitCondition::wait unlocks the mutex and locks it again.
// - A QThread's end: its thread releases on the QThread once its run is
//   over, QThread::wait waits for that and acquires there (a thread that has
//   already finished is waited for inside libQt5Core without any call
//   ThreadSanitizer sees).
// - A queued call or posted event: the poster releases on the event, the
//   thread that delivers it acquires there, as the event goes to the
//   receiver. Queued signals and invokeMethod
//   post from inside libQt5Core, so while one of them runs every block
//   allocated is released (the event is among them).
//
// Built without instrumentation and without the sanitizer runtime: in a
// process without ThreadSanitizer (a shell the tests start) the weak
// annotations are null and the wrappers only pass the calls on.
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

extern "C" {
void __tsan_acquire(void* addr) __attribute__((weak));
void __tsan_release(void* addr) __attribute__((weak));
void __tsan_mutex_pre_lock(void* addr, unsigned flags) __attribute__((weak));
void __tsan_mutex_post_lock(void* addr, unsigned flags, int recursion) __attribute__((weak));
int __tsan_mutex_pre_unlock(void* addr, unsigned flags) __attribute__((weak));
void __tsan_mutex_post_unlock(void* addr, unsigned flags) __attribute__((weak));
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                              void (*free_hook)(const volatile void*)) __attribute__((weak));
}

namespace
{
constexpr unsigned kTryLock = 1 << 4;
constexpr unsigned kTryLockFailed = 1 << 5;

// Arguments Qt passes by value, laid out as in its headers.
struct DeadlineTimer {
    long long t1;
    unsigned t2;
    unsigned type;
};
struct GenericArgument {
    const void* data;
    const char* name;
};

template <typename F> F real(std::atomic<void*>& slot, const char* name)
{
    void* f = slot.load(std::memory_order_acquire);
    if (!f) {
        f = dlsym(RTLD_NEXT, name);
        if (!f) {
            std::fprintf(stderr, "tsan_qt_sync: %s not found in Qt\n", name);
            std::abort();
        }
        slot.store(f, std::memory_order_release);
    }
    return reinterpret_cast<F>(f);
}
#define REAL(type, name)                                                                                               \
    static std::atomic<void*> slot_##name{nullptr};                                                                    \
    auto real_fn = real<type>(slot_##name, #name)

bool tsan()
{
    return __tsan_mutex_pre_lock != nullptr;
}

// Inside QWaitCondition::wait the real one unlocks and relocks itself.
thread_local int t_inWait = 0;
// Nesting of calls that may post an event from inside libQt5Core.
thread_local int t_posting = 0;

void lockAnnotated(void* m)
{
    if (tsan() && !t_inWait)
        __tsan_mutex_post_lock(m, 0, 0);
}

void beforeUnlock(void* m)
{
    if (tsan() && !t_inWait)
        __tsan_mutex_pre_unlock(m, 0);
}

void afterUnlock(void* m)
{
    if (tsan() && !t_inWait)
        __tsan_mutex_post_unlock(m, 0);
}

void beforeLock(void* m, unsigned flags)
{
    if (tsan() && !t_inWait)
        __tsan_mutex_pre_lock(m, flags);
}

void releaseNewBlock(const volatile void* p, size_t)
{
    if (t_posting > 0)
        __tsan_release(const_cast<void*>(p));
}

// The sanitizer takes the allocation hook only together with a free hook.
void ignoreFree(const volatile void*) {}

// Sets up the allocation hook once, on the first possible post (the
// sanitizer is running by then).
struct Posting {
    Posting()
    {
        static std::atomic<bool> hooked{false};
        if (tsan() && __sanitizer_install_malloc_and_free_hooks && !hooked.exchange(true))
            __sanitizer_install_malloc_and_free_hooks(releaseNewBlock, ignoreFree);
        ++t_posting;
    }
    ~Posting() { --t_posting; }
    Posting(const Posting&) = delete;
    Posting& operator=(const Posting&) = delete;
};

// A thread libQt5Core starts for a QThread (its argument).
struct QtThreadStart {
    void* (*routine)(void*);
    void* thread;
};

// The QThreads whose start routine runs. QThread::wait returns once Qt has
// marked the thread finished, a moment before the routine returns and
// releases: the wait waits for that too. Atomics of this uninstrumented file
// only, so the sanitizer sees no synchronisation of the table's own.
constexpr int kRunSlots = 256;
std::atomic<void*> g_running[kRunSlots];

void noteRunning(void* thread)
{
    for (auto& slot : g_running) {
        void* empty = nullptr;
        if (slot.compare_exchange_strong(empty, thread))
            return;
    }
}

void noteEnded(void* thread)
{
    for (auto& slot : g_running) {
        void* held = thread;
        if (slot.compare_exchange_strong(held, nullptr))
            return;
    }
}

bool stillRunning(void* thread)
{
    for (auto& slot : g_running)
        if (slot.load() == thread)
            return true;
    return false;
}

// Waits, at most a second, for the routine of a finished QThread to release.
void awaitRelease(void* thread)
{
    for (int i = 0; i < 10000 && stillRunning(thread); ++i)
        usleep(100);
}

void* runQtThread(void* p)
{
    QtThreadStart start = *static_cast<QtThreadStart*>(p);
    std::free(p);
    void* result = start.routine(start.thread);
    __tsan_release(start.thread);
    noteEnded(start.thread);
    return result;
}

bool inQtCore(void* (*routine)(void*))
{
    Dl_info info;
    return dladdr(reinterpret_cast<void*>(routine), &info) && info.dli_fname &&
           std::strstr(info.dli_fname, "libQt5Core.so");
}

void delivered(void* event)
{
    if (tsan() && event)
        __tsan_acquire(event);
}
} // namespace

extern "C" {
// void QMutex::lock()
void _ZN6QMutex4lockEv(void* m)
{
    REAL(void (*)(void*), _ZN6QMutex4lockEv);
    beforeLock(m, 0);
    real_fn(m);
    lockAnnotated(m);
}

// bool QMutex::tryLock(int timeout)
bool _ZN6QMutex7tryLockEi(void* m, int timeout)
{
    REAL(bool (*)(void*, int), _ZN6QMutex7tryLockEi);
    beforeLock(m, kTryLock);
    bool ok = real_fn(m, timeout);
    if (tsan() && !t_inWait)
        __tsan_mutex_post_lock(m, ok ? kTryLock : kTryLock | kTryLockFailed, 0);
    return ok;
}

// void QMutex::unlock()
void _ZN6QMutex6unlockEv(void* m)
{
    REAL(void (*)(void*), _ZN6QMutex6unlockEv);
    beforeUnlock(m);
    real_fn(m);
    afterUnlock(m);
}

// void QBasicMutex::lockInternal()
void _ZN11QBasicMutex12lockInternalEv(void* m)
{
    REAL(void (*)(void*), _ZN11QBasicMutex12lockInternalEv);
    real_fn(m);
    if (tsan() && !t_inWait)
        __tsan_acquire(m);
}

// bool QBasicMutex::lockInternal(int timeout)
bool _ZN11QBasicMutex12lockInternalEi(void* m, int timeout)
{
    REAL(bool (*)(void*, int), _ZN11QBasicMutex12lockInternalEi);
    bool ok = real_fn(m, timeout);
    if (ok && tsan() && !t_inWait)
        __tsan_acquire(m);
    return ok;
}

// void QBasicMutex::unlockInternal()
void _ZN11QBasicMutex14unlockInternalEv(void* m)
{
    REAL(void (*)(void*), _ZN11QBasicMutex14unlockInternalEv);
    if (tsan() && !t_inWait)
        __tsan_release(m);
    real_fn(m);
}

// bool QWaitCondition::wait(QMutex*, unsigned long)
bool _ZN14QWaitCondition4waitEP6QMutexm(void* c, void* m, unsigned long ms)
{
    REAL(bool (*)(void*, void*, unsigned long), _ZN14QWaitCondition4waitEP6QMutexm);
    beforeUnlock(m);
    afterUnlock(m);
    ++t_inWait;
    bool woken = real_fn(c, m, ms);
    --t_inWait;
    beforeLock(m, 0);
    lockAnnotated(m);
    return woken;
}

// bool QWaitCondition::wait(QMutex*, QDeadlineTimer)
bool _ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer(void* c, void* m, DeadlineTimer deadline)
{
    REAL(bool (*)(void*, void*, DeadlineTimer), _ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer);
    beforeUnlock(m);
    afterUnlock(m);
    ++t_inWait;
    bool woken = real_fn(c, m, deadline);
    --t_inWait;
    beforeLock(m, 0);
    lockAnnotated(m);
    return woken;
}

int pthread_create(pthread_t* id, const pthread_attr_t* attr, void* (*routine)(void*), void* arg)
{
    REAL(int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*), pthread_create);
    if (!tsan() || !inQtCore(routine))
        return real_fn(id, attr, routine, arg);
    auto* start = static_cast<QtThreadStart*>(std::malloc(sizeof(QtThreadStart)));
    if (!start)
        return real_fn(id, attr, routine, arg);
    *start = {routine, arg};
    noteRunning(arg);
    int rc = real_fn(id, attr, runQtThread, start);
    if (rc != 0) {
        noteEnded(arg);
        std::free(start);
    }
    return rc;
}

// bool QThread::wait(unsigned long)
bool _ZN7QThread4waitEm(void* thread, unsigned long ms)
{
    REAL(bool (*)(void*, unsigned long), _ZN7QThread4waitEm);
    bool done = real_fn(thread, ms);
    if (done && tsan()) {
        awaitRelease(thread);
        __tsan_acquire(thread);
    }
    return done;
}

// bool QThread::wait(QDeadlineTimer)
bool _ZN7QThread4waitE14QDeadlineTimer(void* thread, DeadlineTimer deadline)
{
    REAL(bool (*)(void*, DeadlineTimer), _ZN7QThread4waitE14QDeadlineTimer);
    bool done = real_fn(thread, deadline);
    if (done && tsan()) {
        awaitRelease(thread);
        __tsan_acquire(thread);
    }
    return done;
}

// static void QCoreApplication::postEvent(QObject*, QEvent*, int priority)
void _ZN16QCoreApplication9postEventEP7QObjectP6QEventi(void* receiver, void* event, int priority)
{
    REAL(void (*)(void*, void*, int), _ZN16QCoreApplication9postEventEP7QObjectP6QEventi);
    if (tsan() && event)
        __tsan_release(event);
    real_fn(receiver, event, priority);
}

// static void QMetaObject::activate(QObject*, int, void**)
void _ZN11QMetaObject8activateEP7QObjectiPPv(void* sender, int index, void** argv)
{
    REAL(void (*)(void*, int, void**), _ZN11QMetaObject8activateEP7QObjectiPPv);
    Posting p;
    real_fn(sender, index, argv);
}

// static void QMetaObject::activate(QObject*, const QMetaObject*, int, void**)
void _ZN11QMetaObject8activateEP7QObjectPKS_iPPv(void* sender, const void* mo, int index, void** argv)
{
    REAL(void (*)(void*, const void*, int, void**), _ZN11QMetaObject8activateEP7QObjectPKS_iPPv);
    Posting p;
    real_fn(sender, mo, index, argv);
}

// static void QMetaObject::activate(QObject*, int, int, void**)
void _ZN11QMetaObject8activateEP7QObjectiiPPv(void* sender, int offset, int index, void** argv)
{
    REAL(void (*)(void*, int, int, void**), _ZN11QMetaObject8activateEP7QObjectiiPPv);
    Posting p;
    real_fn(sender, offset, index, argv);
}

// static bool QMetaObject::invokeMethodImpl(QObject*, QtPrivate::QSlotObjectBase*,
//                                           Qt::ConnectionType, void* ret)
bool _ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(void* object,
                                                                                                       void* slot,
                                                                                                       int type,
                                                                                                       void* ret)
{
    REAL(bool (*)(void*, void*, int, void*),
         _ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv);
    Posting p;
    return real_fn(object, slot, type, ret);
}

// static bool QMetaObject::invokeMethod(QObject*, const char*, Qt::ConnectionType,
//                                       QGenericReturnArgument, QGenericArgument x 10)
bool _ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_(
    void* object, const char* member, int type, GenericArgument ret, GenericArgument a0, GenericArgument a1,
    GenericArgument a2, GenericArgument a3, GenericArgument a4, GenericArgument a5, GenericArgument a6,
    GenericArgument a7, GenericArgument a8, GenericArgument a9)
{
    REAL(
        bool (*)(void*, const char*, int, GenericArgument, GenericArgument, GenericArgument, GenericArgument,
                 GenericArgument, GenericArgument, GenericArgument, GenericArgument, GenericArgument, GenericArgument,
                 GenericArgument),
        _ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_);
    Posting p;
    return real_fn(object, member, type, ret, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

// Delivery. A QApplication hands every event through this call on its way
// to the receiver's event(), from libQt5Widgets to libQt5Core.
// static bool QCoreApplicationPrivate::sendThroughObjectEventFilters(QObject*, QEvent*)
bool _ZN23QCoreApplicationPrivate29sendThroughObjectEventFiltersEP7QObjectP6QEvent(void* receiver, void* event)
{
    REAL(bool (*)(void*, void*), _ZN23QCoreApplicationPrivate29sendThroughObjectEventFiltersEP7QObjectP6QEvent);
    delivered(event);
    return real_fn(receiver, event);
}

// Without a QApplication, our own classes still reach QObject::event
// through their vtables.
// virtual bool QObject::event(QEvent*)
bool _ZN7QObject5eventEP6QEvent(void* object, void* event)
{
    REAL(bool (*)(void*, void*), _ZN7QObject5eventEP6QEvent);
    delivered(event);
    return real_fn(object, event);
}
}
