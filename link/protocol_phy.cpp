#include "link/protocol_phy.h"

#include <algorithm>
#include <cstring>

#include "core/utils.h"

namespace
{
enum : u8 { Outside = 0, Inside = 1, EscA6 = 2, Esc5B = 4 };
}

int protocol_phy::data_transf_meaning(const u8* in, u8* out, int length, u8* endFlag, int outSize)
{
    u8 state = Outside;
    int n = 0;
    *endFlag = 0;
    for (int i = 0; i < length; ++i) {
        u8 b = in[i];
        if (b == pc::kStart) {
            state = Inside;
            n = 0;
            *endFlag = 0;
            continue;
        }
        if (state == Outside)
            continue;
        if (b == pc::kEnd) {
            *endFlag = 1;
            break;
        }
        if (b == pc::kEscA6) {
            state = EscA6;
            continue;
        }
        if (b == pc::kEsc5B) {
            state = Esc5B;
            continue;
        }
        u8 v = b;
        if (b == 0x01)
            v = state == EscA6 ? 0xA6 : state == Esc5B ? 0x5B : 0x01;
        else if (b == 0x02)
            v = state == EscA6 ? 0xA5 : state == Esc5B ? 0x5A : 0x02;
        if (n >= outSize) {
            // Longer than the caller can take: wait for the next start byte.
            state = Outside;
            n = 0;
            continue;
        }
        out[n++] = v;
        state = Inside;
    }
    return n;
}

namespace
{
// Escape of each byte value: 0 for a plain byte, else the two bytes sent.
struct EscapeTable {
    u8 first[256] = {};
    u8 second[256] = {};
    EscapeTable()
    {
        first[0xA5] = 0xA6;
        second[0xA5] = 0x02;
        first[0xA6] = 0xA6;
        second[0xA6] = 0x01;
        first[0x5A] = 0x5B;
        second[0x5A] = 0x02;
        first[0x5B] = 0x5B;
        second[0x5B] = 0x01;
    }
};
const EscapeTable kEscape;
} // namespace

int protocol_phy::data_re_transf_meaning(u8* out, const u8* in, int length, u8* flag, int outSize)
{
    if (flag)
        *flag = 0;
    if (length < 0)
        return 0;
    int need = 4 + length;
    for (int i = 0; i < length; ++i)
        need += kEscape.first[in[i]] != 0;
    if (need > outSize)
        return 0;
    int k = 0;
    out[k++] = pc::kStart;
    out[k++] = pc::kStart;
    out[k++] = pc::kStart;
    for (int i = 0; i < length; ++i) {
        const u8 b = in[i];
        const u8 e = kEscape.first[b];
        if (e) {
            out[k++] = e;
            out[k++] = kEscape.second[b];
        } else {
            out[k++] = b;
        }
    }
    out[k++] = pc::kEnd;
    return k;
}

void protocol_phy::swap_phy_head(u8* body)
{
    u8 d0 = body[0], d1 = body[1];
    body[0] = body[2];
    body[1] = body[3];
    body[2] = d0;
    body[3] = d1;
}

int protocol_phy::accept_frame(const u8* frame, int length, u8* work, int workSize, int* dirtyEnd)
{
    u8 end = 0;
    int len = data_transf_meaning(frame, work, length, &end, workSize);
    // The decoder writes no further than the input is long.
    int touched = std::min(std::max(length, 0), workSize);
    int dirty = dirtyEnd ? std::min(std::max(*dirtyEnd, touched), workSize) : workSize;
    if (!end || len < pc::kMinCommand + 1 || work[len - 1] != Utils::BCC(work, unsigned(len - 1))) {
        if (dirtyEnd)
            *dirtyEnd = dirty;
        return -1;
    }
    // The BCC stays for a pass-through hand-over; everything after it is clean.
    if (dirty > len)
        std::memset(work + len, 0, size_t(dirty - len));
    if (dirtyEnd)
        *dirtyEnd = len;
    return len - 1;
}

int protocol_phy::build_reply(u8* work, int workSize, int n, u8* out, int outSize, int* dirtyEnd)
{
    if (dirtyEnd && n > 0)
        *dirtyEnd = std::min(std::max(*dirtyEnd, pc::kHeader + n + 1), workSize);
    if (n < 0 || pc::kHeader + n + 1 > workSize)
        return 0;
    swap_phy_head(work);
    work[pc::kHeader + n] = Utils::BCC(work, unsigned(pc::kHeader + n));
    return data_re_transf_meaning(out, work, pc::kHeader + n + 1, nullptr, outSize);
}

int protocol_phy::build_refusal(u8* work, int workSize, u8* out, int outSize, int* dirtyEnd)
{
    // build_reply swapped the addresses already.
    swap_phy_head(work);
    work[pc::kStatus] = 1;
    return build_reply(work, workSize, 1, out, outSize, dirtyEnd);
}
