// Staging memory of file transfers: taken when a transfer starts, given back
// when it ends. The pages are zero-filled by the system and become resident
// only as data is written into them, so nothing is cleared in advance and
// nothing stays behind a transfer.
#pragma once

#include <cstddef>

#include "core/global.h"

class StagingBuffer
{
  public:
    StagingBuffer() = default;
    ~StagingBuffer();
    StagingBuffer(const StagingBuffer&) = delete;
    StagingBuffer& operator=(const StagingBuffer&) = delete;

    // size zero-filled bytes, in place of what was held; false when the
    // system has no memory for them (nothing is held then).
    bool take(size_t size);
    // Makes the pages of [offset, offset + length) resident now, in one go,
    // rather than one page fault at a time as the data come in. Where the
    // system cannot, they come page by page as before.
    void prepare(size_t offset, size_t length);
    // Gives the memory back; data() is null and size() 0 afterwards.
    void release();

    u8* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    u8* data_ = nullptr;
    size_t size_ = 0;
};

// The staging buffer of the PC's file write transfers (group 0xC0), of at
// most kFileBufSize bytes: one transfer holds it from its start to its end.
extern StagingBuffer fileBuf_tarvo;
