// A thread's pause that another thread ends: a wake that comes before the
// pause is kept, so it is never lost between a check and the wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class WakeFlag
{
  public:
    void wake()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            woken_ = true;
        }
        cv_.notify_one();
    }

    // True when woken, false once the time has passed; either way the wake
    // is taken.
    template <typename Rep, typename Period> bool wait_for(std::chrono::duration<Rep, Period> bound)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return take(cv_.wait_for(lock, bound, [this] { return woken_; }));
    }
    template <typename Clock, typename Duration> bool wait_until(std::chrono::time_point<Clock, Duration> until)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return take(cv_.wait_until(lock, until, [this] { return woken_; }));
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return woken_; });
        woken_ = false;
    }

  private:
    bool take(bool woken)
    {
        woken_ = false;
        return woken;
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    bool woken_ = false;
};
