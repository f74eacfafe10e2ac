// Checked access to the fields of a received frame body. Every number and
// every run of bytes a handler takes from a frame goes through here, so a
// length or an offset read from the frame is never used before it is known
// to lie inside the body. A read past the body yields 0 (or null) and marks
// the reader failed; a handler reads its fields, then tests ok() once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/global.h"

class frame_reader
{
  public:
    // body: the un-escaped frame; length: its bytes without the BCC.
    frame_reader(const u8* body, int length) : body_(body), length_(length > 0 && body ? size_t(length) : 0) {}

    // True while every read so far lay inside the body.
    bool ok() const { return ok_; }
    size_t length() const { return length_; }

    // count bytes from offset lie inside the body (no overflow on huge counts).
    bool has(size_t offset, size_t count) const { return offset <= length_ && count <= length_ - offset; }

    u8 u8_at(size_t offset) { return has(offset, 1) ? body_[offset] : fail8(); }
    u16 u16_at(size_t offset)
    {
        if (!has(offset, 2))
            return fail8();
        return u16(body_[offset] | body_[offset + 1] << 8);
    }
    u32 u32_at(size_t offset)
    {
        if (!has(offset, 4))
            return fail8();
        const u8* p = body_ + offset;
        return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
    }
    // The count bytes from offset, or null (and failed) when they are not all
    // inside the body.
    const u8* bytes(size_t offset, size_t count)
    {
        if (has(offset, count))
            return body_ + offset;
        ok_ = false;
        return nullptr;
    }

  private:
    u8 fail8()
    {
        ok_ = false;
        return 0;
    }

    const u8* body_;
    size_t length_;
    bool ok_ = true;
};

// Little-endian stores into a reply; the caller has checked the room.
inline void put_le16(u8* p, u16 v)
{
    p[0] = u8(v);
    p[1] = u8(v >> 8);
}
inline void put_le32(u8* p, u32 v)
{
    p[0] = u8(v);
    p[1] = u8(v >> 8);
    p[2] = u8(v >> 16);
    p[3] = u8(v >> 24);
}
