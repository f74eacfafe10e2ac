// Checks tools/tsan_qt_sync.cpp on this machine's Qt: each case but the
// last hands plain data between two threads only through Qt's
// synchronisation. Run under ThreadSanitizer with the preload they must give
// no report; without it, the QMutex case does. The last two are faults the
// preload must leave visible: "unguarded" is a real race (each thread counts
// under a mutex of its own, which orders nothing), "order" takes two QMutexes
// in both orders, a lock-order cycle (tools/race-check.sh runs them all both
// ways).
#include <QApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <thread>

namespace
{
int g_counter = 0;
int g_handed = 0;
int g_queued = 0;

// Two threads count under one QMutex, as our shared state is kept.
void mutex_case(QMutex::RecursionMode mode)
{
    QMutex mutex(mode);
    auto count = [&] {
        for (int i = 0; i < 20000; ++i) {
            QMutexLocker outer(&mutex);
            if (mode == QMutex::Recursive) {
                QMutexLocker inner(&mutex);
                ++g_counter;
            } else {
                ++g_counter;
            }
        }
    };
    std::thread a(count), b(count);
    a.join();
    b.join();
}

// Two mutexes guard nothing between the threads: a preload that made every
// lock order every other, or that hid the accesses, would not report it.
void unguarded_case()
{
    QMutex mine, yours;
    auto count = [](QMutex* own) {
        for (int i = 0; i < 20000; ++i) {
            QMutexLocker lock(own);
            ++g_counter;
        }
    };
    std::thread a(count, &mine), b(count, &yours);
    a.join();
    b.join();
}

// One thread takes first then second, a later one second then first: never
// at the same time, yet a cycle that can stop both once they meet.
void order_case()
{
    QMutex first, second;
    auto nested = [](QMutex* outer, QMutex* inner) {
        QMutexLocker a(outer);
        QMutexLocker b(inner);
        ++g_counter;
    };
    std::thread(nested, &first, &second).join();
    std::thread(nested, &second, &first).join();
}

void trylock_case()
{
    QMutex mutex;
    auto count = [&] {
        for (int done = 0; done < 20000;) {
            if (mutex.tryLock(1)) {
                ++g_counter;
                ++done;
                mutex.unlock();
            }
        }
    };
    std::thread a(count), b(count);
    a.join();
    b.join();
}

// The consumer reads what the producer wrote before waking it: the
// re-lock inside QWaitCondition::wait is what orders them.
void wait_case()
{
    QMutex mutex;
    QWaitCondition ready;
    bool set = false;
    std::thread producer([&] {
        QMutexLocker lock(&mutex);
        g_handed = 42;
        set = true;
        ready.wakeAll();
    });
    {
        QMutexLocker lock(&mutex);
        while (!set)
            ready.wait(&mutex, 5000);
        std::printf("handed %d\n", g_handed);
    }
    producer.join();
}

// A QThread that has finished before it is waited for: the wait is what
// orders its writes before the reads after it.
void thread_case()
{
    QThread* t = QThread::create([] { g_handed = 5; });
    t->start();
    while (!t->isFinished())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    t->wait();
    std::printf("thread %d\n", g_handed);
    delete t;
}

class Emitter : public QObject
{
    Q_OBJECT
  signals:
    void handed();
};

// A worker writes, then emits a queued signal; writes again, then queues a
// call; the GUI thread reads in the slot and in the call. The receiver is
// a plain QObject, whose event() is reached only inside libQt5Core.
int queued_case(int argc, char** argv)
{
    QApplication app(argc, argv);
    QObject receiver;
    Emitter emitter;
    int seen = 0;
    auto done = [&] {
        if (++seen == 2)
            app.quit();
    };
    QObject::connect(
        &emitter, &Emitter::handed, &receiver,
        [&] {
            std::printf("slot %d\n", g_handed);
            done();
        },
        Qt::QueuedConnection);
    // A busy loop delivers posted events without waiting for a wake-up,
    // which would order the threads by itself.
    QTimer spin;
    spin.start(0);
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        g_handed = 7;
        emit emitter.handed();
        g_queued = 8;
        QMetaObject::invokeMethod(
            &receiver,
            [&] {
                std::printf("call %d\n", g_queued);
                done();
            },
            Qt::QueuedConnection);
    });
    int rc = app.exec();
    worker.join();
    return rc;
}
} // namespace

int main(int argc, char** argv)
{
    const char* which = argc > 1 ? argv[1] : "";
    if (!std::strcmp(which, "mutex"))
        mutex_case(QMutex::NonRecursive);
    else if (!std::strcmp(which, "recursive"))
        mutex_case(QMutex::Recursive);
    else if (!std::strcmp(which, "trylock"))
        trylock_case();
    else if (!std::strcmp(which, "wait"))
        wait_case();
    else if (!std::strcmp(which, "thread"))
        thread_case();
    else if (!std::strcmp(which, "queued"))
        return queued_case(argc, argv);
    else if (!std::strcmp(which, "unguarded"))
        unguarded_case();
    else if (!std::strcmp(which, "order"))
        order_case();
    else {
        std::fprintf(stderr, "usage: %s mutex|recursive|trylock|wait|thread|queued|unguarded|order\n", argv[0]);
        return 2;
    }
    std::printf("counter %d\n", g_counter);
    return 0;
}

#include "tsan_qt_sync_check.moc"
