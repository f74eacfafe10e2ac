// The PC frame codec: byte stuffing, the check byte, the address rules and the
// reply builder, shared by every link (serial, TCP, UDP and the 4G link), and
// the frame assembler that cuts frames out of a link's byte stream.
//
// Wire: 0xA5 (a sender writes three), the escaped body, 0x5A. Body: u16
// destination, u16 source, header bytes 4..8, group at 9, sub-command or
// status at 10, data from 11, BCC of everything before it as the last byte.
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include "core/global.h"

namespace pc
{
constexpr u8 kStart = 0xA5;
constexpr u8 kEnd = 0x5A;
constexpr u8 kEscA6 = 0xA6;
constexpr u8 kEsc5B = 0x5B;

constexpr u16 kAddrPc = 0xF010;
constexpr u16 kAddrCardsEnd = 0xF000;

// Body offsets.
constexpr int kDest = 0;
constexpr int kSrc = 2;
constexpr int kRoute = 6;
constexpr int kPort = 7;
constexpr int kGroup = 9;
constexpr int kStatus = 10;
constexpr int kData = 11;
constexpr int kHeader = 10;

// A body shorter than this before its BCC carries no command.
constexpr int kMinCommand = 10;

// Work buffer of one link: the largest un-escaped body a link accepts, and
// room behind it for the largest reply (a 65,535-byte read: 11 + 65,535 + BCC).
constexpr int kWorkSize = 0x20000 + 64;
constexpr int kMaxReplyBody = kHeader + 1 + 65535 + 1;
// Wire size of the largest frame the codec can produce from a work buffer.
constexpr int kWireSize = 2 * kWorkSize + 4;
} // namespace pc

class protocol_phy
{
  public:
    // Un-escapes length received bytes into out (capacity outSize) and returns
    // the body bytes written. *endFlag is 1 when a closing 0x5A was met after
    // a start byte, else 0. Every 0xA5 restarts the body; a body that would
    // pass outSize is abandoned until the next 0xA5.
    static int data_transf_meaning(const u8* in, u8* out, int length, u8* endFlag, int outSize);

    // Writes the frame for length body bytes (three 0xA5, escaped body, 0x5A)
    // into out and returns its length; 0 when outSize cannot hold it. Clears
    // *flag when given.
    static int data_re_transf_meaning(u8* out, const u8* in, int length, u8* flag, int outSize);
    // Bytes the frame of a body of length bytes takes at most.
    static constexpr int escaped_capacity(int length) { return 2 * length + 4; }

    // Exchanges destination and source (bytes 0-1 and 2-3) in place.
    static void swap_phy_head(u8* body);

    static u16 dest(const u8* body) { return u16(body[pc::kDest] | (body[pc::kDest + 1] << 8)); }
    static u16 src(const u8* body) { return u16(body[pc::kSrc] | (body[pc::kSrc + 1] << 8)); }
    // The box itself answers to 0xF100 and 0xF101.
    static bool is_box(u16 address) { return u16(address + 0x0F00) < 2; }
    // A frame from the PC tool to a card address goes through the FPGA.
    static bool is_pass_through(const u8* body) { return dest(body) < pc::kAddrCardsEnd && src(body) == pc::kAddrPc; }

    // Cut frame (from its 0xA5 to its 0x5A) to work buffer: un-escapes it and
    // tests the end byte and the BCC. Returns the body length without its
    // BCC, or -1 when the frame must be dropped (no end byte, bad BCC, or
    // fewer than 10 bytes before the BCC).
    // No handler may read bytes of an earlier frame: everything past the body
    // and its BCC is zero afterwards. dirtyEnd (kept by the link, starting at
    // workSize) is where the bytes an earlier frame or reply wrote end; only
    // those are cleared, and it is moved to the end of what is now written.
    static int accept_frame(const u8* frame, int length, u8* work, int workSize, int* dirtyEnd = nullptr);

    // Turns a handled request in work into its wire reply: n is the handler's
    // reply length from offset 10. Swaps the addresses, appends the BCC of
    // bytes 0..n+9 and escapes the n + 11 bytes into out. Returns the wire
    // length, 0 when the buffers cannot hold it. dirtyEnd as above: the
    // reply's bytes count as written.
    static int build_reply(u8* work, int workSize, int n, u8* out, int outSize, int* dirtyEnd = nullptr);
    // A reply that does not fit the link (limit wire bytes): the request's
    // header with status 1 and no data instead, built as above.
    static int build_refusal(u8* work, int workSize, u8* out, int outSize, int* dirtyEnd = nullptr);
};

// Cuts PC frames from a byte stream: every 0xA5 starts a frame (dropping what
// was gathered), bytes are kept while a frame is open, and a 0x5A completes
// it. A frame that grows past the limit is dropped and the stream is skipped
// up to the next 0xA5. Links keep one per byte source (serial port, TCP
// connection, UDP sender); it holds no other state and does no I/O.
class frame_assembler
{
  public:
    explicit frame_assembler(size_t limit) : limit_(limit) { frame_.reserve(limit < 4096 ? limit : 4096); }

    // Feeds bytes; calls onFrame(const u8* frame, int length) once per
    // completed frame, with the frame from its 0xA5 to its 0x5A. A frame
    // that lies whole in data is handed over where it lies; only a frame cut
    // by the end of data is gathered, to be completed by the next feed.
    template <typename F> void feed(const u8* data, size_t length, F&& onFrame)
    {
        const u8* p = data;
        const u8* const end = data + length;
        // Start of the open frame's bytes in data not yet gathered.
        const u8* from = collecting_ ? data : nullptr;
        while (p < end) {
            if (!collecting_) {
                p = static_cast<const u8*>(std::memchr(p, pc::kStart, size_t(end - p)));
                if (!p)
                    return;
                open_at(from, p++);
                continue;
            }
            // Runs between start and end bytes are taken whole.
            const u8* mark = next_mark(p, end);
            const size_t held = frame_.size() + size_t(mark - from);
            if (held > limit_ || (mark < end && *mark == pc::kEnd && held >= limit_)) {
                drop(from);
                p = mark < end && *mark == pc::kEnd ? mark + 1 : mark;
                continue;
            }
            p = mark;
            if (p == end)
                break;
            if (*p == pc::kStart) {
                open_at(from, p++);
                continue;
            }
            ++p;
            collecting_ = false;
            if (frame_.empty()) {
                onFrame(from, int(p - from));
            } else {
                frame_.insert(frame_.end(), from, p);
                onFrame(static_cast<const u8*>(frame_.data()), int(frame_.size()));
                frame_.clear();
            }
            from = nullptr;
        }
        if (collecting_)
            frame_.insert(frame_.end(), from, end);
    }

    void reset()
    {
        frame_.clear();
        collecting_ = false;
    }
    bool collecting() const { return collecting_; }
    size_t pending() const { return frame_.size(); }
    // Frames dropped for passing the limit.
    unsigned overlong() const { return overlong_; }

  private:
    // The first start or end byte in [p, end), or end.
    static const u8* next_mark(const u8* p, const u8* end)
    {
        const void* close = std::memchr(p, pc::kEnd, size_t(end - p));
        const u8* stop = close ? static_cast<const u8*>(close) : end;
        const void* open = std::memchr(p, pc::kStart, size_t(stop - p));
        return open ? static_cast<const u8*>(open) : stop;
    }
    // A start byte at p: what was gathered is dropped, the frame begins.
    void open_at(const u8*& from, const u8* p)
    {
        frame_.clear();
        collecting_ = true;
        from = p;
    }
    void drop(const u8*& from)
    {
        frame_.clear();
        collecting_ = false;
        from = nullptr;
        ++overlong_;
    }

    size_t limit_;
    std::vector<u8> frame_;
    bool collecting_ = false;
    unsigned overlong_ = 0;
};
