#include "board/sim/vnc_filter.h"

namespace board::sim
{

namespace
{
// The viewer's messages the panel serves, by their first byte.
enum : uint8_t {
    kSetPixelFormat = 0,
    kSetEncodings = 2,
    kUpdateRequest = 3,
    kKeyEvent = 4,
    kPointerEvent = 5,
    kCutText = 6,
    // A viewer whose window was resized asks for that size; the library
    // answers that the size cannot change.
    kSetDesktopSize = 251,
};

uint32_t be16(const uint8_t* p)
{
    return uint32_t(p[0]) << 8 | p[1];
}

uint32_t be32(const uint8_t* p)
{
    return be16(p) << 16 | be16(p + 2);
}

// The fixed part every message of this type starts with; 0 for a type not
// served.
size_t headLength(uint8_t type)
{
    switch (type) {
    case kSetPixelFormat:
        return 20;
    case kSetEncodings:
        return 4;
    case kUpdateRequest:
        return 10;
    case kKeyEvent:
    case kCutText:
    case kSetDesktopSize:
        return 8;
    case kPointerEvent:
        return 6;
    default:
        return 0;
    }
}

// A pixel format the library can make pixels of: 8, 16 or 32 bits, and in
// true colour each colour's bits inside the pixel.
bool formatSound(const uint8_t* f)
{
    const uint32_t bits = f[0];
    if (bits != 8 && bits != 16 && bits != 32)
        return false;
    if (!f[3])
        return true;
    for (int c = 0; c < 3; ++c) {
        const uint32_t max = be16(f + 4 + 2 * c), shift = f[10 + c];
        if (shift >= bits || (uint64_t(max) << shift) >> bits != 0)
            return false;
    }
    return true;
}
} // namespace

ViewerMessage checkViewerMessage(const uint8_t* head, size_t count, size_t waiting, int width, int height)
{
    ViewerMessage m;
    if (count == 0)
        return m;
    const size_t fixed = headLength(head[0]);
    if (fixed == 0) {
        m.verdict = ViewerMessage::Close;
        return m;
    }
    m.length = fixed;
    if (count < fixed)
        return m;
    switch (head[0]) {
    case kSetPixelFormat:
        if (!formatSound(head + 4)) {
            m.verdict = ViewerMessage::Close;
            return m;
        }
        break;
    case kSetEncodings:
        m.length += 4 * uint64_t(be16(head + 2));
        break;
    case kUpdateRequest: {
        const uint32_t x = be16(head + 2), y = be16(head + 4), w = be16(head + 6), h = be16(head + 8);
        // No pixel of the screen asked for. A rectangle reaching past the
        // screen the library cuts to it.
        if (w == 0 || h == 0 || x >= uint32_t(width) || y >= uint32_t(height)) {
            m.verdict = ViewerMessage::Drop;
            return m;
        }
        break;
    }
    case kCutText:
        // The panel has no clipboard; the length's top bit marks the
        // extended form, whose length is the rest.
        m.length += be32(head + 4) & 0x80000000u ? 0x100000000ull - be32(head + 4) : be32(head + 4);
        m.verdict = ViewerMessage::Drop;
        return m;
    case kSetDesktopSize:
        m.length += 16 * uint64_t(head[6]);
        break;
    default:
        break;
    }
    m.verdict = waiting >= m.length ? ViewerMessage::Pass : ViewerMessage::Incomplete;
    return m;
}

} // namespace board::sim
