// Frames of the cloud link: a 27-byte header, then a JSON body.
//
//   0..3    "KQOC"
//   4..15   the 12-byte device identity (g_4G_property bytes 25..36)
//   16..19  u32 LE body length
//   20..21  u16 LE message code (1 command, 2 answer)
//   22..23  u16 LE CRC-16/ARC of the body
//   24..25  zero
//   26      BCC of bytes 0..25
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/global.h"

namespace cloud
{
constexpr int kHeader = 27;
constexpr u16 kCommand = 1;
constexpr u16 kAnswer = 2;
// Longest body accepted.
constexpr u32 kMaxBody = 0x10000;
} // namespace cloud

class protocol_phy_cloud_4g
{
  public:
    // The frame of body with code, identity from g_4G_property.
    static std::vector<u8> build(u16 code, const std::string& body);
    // Header checks (magic, BCC, length within kMaxBody): the body length,
    // or -1.
    static long header_body_length(const u8* header);
    static u16 code(const u8* header) { return u16(header[20] | (header[21] << 8)); }
    // The body's CRC matches the header's.
    static bool body_ok(const u8* header, const u8* body, u32 length);
};

// Cuts frames out of the client's byte stream. A bad header drops one byte
// and searches for the next "KQOC"; a body with a wrong CRC is dropped whole.
class cloud_frame_cutter
{
  public:
    struct frame {
        u16 code = 0;
        std::string body;
    };
    // Feeds bytes; complete good frames are appended to out.
    void feed(const u8* data, size_t length, std::vector<frame>& out);
    void reset() { buffer_.clear(); }
    unsigned dropped() const { return dropped_; }

  private:
    std::vector<u8> buffer_;
    unsigned dropped_ = 0;
};
