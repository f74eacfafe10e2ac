// The messages a VNC viewer sends once connected, looked at before the VNC
// library reads them. Each is known by its type and its length, so a message
// the panel has no use for, a request of no pixels, or one the library
// would mishandle never reaches the library, and the library is only ever
// handed a message that has arrived whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace board::sim
{

struct ViewerMessage {
    enum Verdict {
        // Not all of it is in: wait until length bytes are.
        Incomplete,
        // Whole and sound: the library reads it.
        Pass,
        // Read and thrown away, length bytes, whether or not all are in.
        Drop,
        // Malformed, or of a kind the panel does not serve: the viewer is
        // closed.
        Close,
    };
    Verdict verdict = Incomplete;
    // The bytes of the whole message, as far as they are known.
    uint64_t length = 1;
};

// The most bytes of a message's start the check looks at.
constexpr size_t kViewerHeadBytes = 20;

// The message that starts with the count bytes at head (all that are in,
// up to kViewerHeadBytes) of the waiting bytes in all, on a screen of width x
// height pixels.
ViewerMessage checkViewerMessage(const uint8_t* head, size_t count, size_t waiting, int width, int height);

} // namespace board::sim
