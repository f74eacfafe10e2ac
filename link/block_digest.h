// The MD5 digest of a file transfer's blocks. A block stored in the staging
// buffer is hashed once its acknowledgement has gone out, while the PC sends
// the next block, on the link's own thread: no hand-over to another thread
// and no wake-up per block stand between a block and its acknowledgement.
// Not locked: its owner guards it (the command lock of the file commands).
#pragma once

#include <cstddef>
#include <vector>

#include "core/global.h"
#include "core/md5.h"

class BlockDigest
{
  public:
    // Adds n bytes that stay where they are until they are hashed: by
    // settle(), at the latest before anything else is added or read.
    void add_later(const u8* data, size_t n);
    // Adds n bytes now, after the ones added before.
    void add_now(const u8* data, size_t n);
    // Hashes the bytes added later: none of them is read afterwards.
    void settle();
    // A new digest: the bytes added are forgotten.
    void reset();
    // The digest of every byte added (16 bytes, valid until the next reset
    // or add).
    const u8* digest();

  private:
    struct Span {
        const u8* data;
        size_t size;
    };
    std::vector<Span> pending_;
    MD5 md5_;
};
