#include "link/block_digest.h"

#include <chrono>

#include <pthread.h>

namespace
{
// Longest wait for the digest to catch up: the largest file (5 MiB) hashes
// in a few milliseconds.
constexpr std::chrono::seconds kCatchUp(5);
// A thread with no blocks for this long ends; the next block starts another.
constexpr std::chrono::seconds kIdle(30);
} // namespace

BlockDigest::~BlockDigest()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void BlockDigest::add_later(const u8* data, size_t n)
{
    std::unique_lock<std::mutex> lock(mutex_);
    pending_.push_back({data, n});
    if (!running_) {
        // The thread that ended for want of blocks is gone or about to be.
        if (thread_.joinable())
            thread_.join();
        running_ = true;
        thread_ = std::thread(&BlockDigest::run, this);
    }
    lock.unlock();
    work_.notify_one();
}

void BlockDigest::add_now(const u8* data, size_t n)
{
    if (wait())
        md5_.update(data, unsigned(n));
}

bool BlockDigest::wait()
{
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, kCatchUp, [this] { return idle(); });
}

void BlockDigest::reset()
{
    if (wait())
        md5_.reset();
}

const u8* BlockDigest::digest()
{
    return wait() ? md5_.digest() : nullptr;
}

void BlockDigest::run()
{
    pthread_setname_np(pthread_self(), "filedigest");
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!work_.wait_for(lock, kIdle, [this] { return stop_ || !pending_.empty(); }) || stop_) {
            running_ = false;
            return;
        }
        const Span s = pending_.front();
        pending_.pop_front();
        hashing_ = true;
        lock.unlock();
        md5_.update(s.data, unsigned(s.size));
        lock.lock();
        hashing_ = false;
        if (pending_.empty())
            done_.notify_all();
    }
}
