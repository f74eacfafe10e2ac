// The MD5 digest of a file transfer's blocks, worked out beside the link that
// receives them: a block stored in the staging buffer is hashed on a thread
// of its own while its acknowledgement and the next block travel, instead of
// holding up the acknowledgement. The thread exists only while there are
// blocks to hash and a while after.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

#include "core/global.h"
#include "core/md5.h"

class BlockDigest
{
  public:
    BlockDigest() = default;
    ~BlockDigest();
    BlockDigest(const BlockDigest&) = delete;
    BlockDigest& operator=(const BlockDigest&) = delete;

    // Adds n bytes that stay where they are until the digest has them (the
    // next wait() returns true): they are read on the digest's thread.
    void add_later(const u8* data, size_t n);
    // Adds n bytes now, after the ones added before.
    void add_now(const u8* data, size_t n);
    // Waits until every byte added is in the digest; false when that took
    // longer than a transfer can (the bytes may then still be read).
    bool wait();
    // A new digest: waits for the bytes added, then forgets them.
    void reset();
    // The digest of every byte added (16 bytes, valid until the next reset
    // or add); null when they could not all be hashed in time.
    const u8* digest();

  private:
    void run();
    bool idle() const { return pending_.empty() && !hashing_; }

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    struct Span {
        const u8* data;
        size_t size;
    };
    std::deque<Span> pending_;
    bool hashing_ = false;
    bool running_ = false;
    bool stop_ = false;
    std::thread thread_;
    // Written by the digest's thread while it hashes, else under the lock.
    MD5 md5_;
};
