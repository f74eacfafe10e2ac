#include "link/protocol_phy.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/utils.h"

namespace
{
enum : u8 { Outside = 0, Inside = 1, EscA6 = 2, Esc5B = 4 };

// Sixteen bytes at a time: plain runs between the four special bytes are
// copied whole. Generic vectors of the compiler (NEON on the board, SSE
// here), no instructions of one machine.
typedef u8 Bytes16 __attribute__((vector_size(16)));

// Marks of the special bytes (0xA5, 0xA6, 0x5A, 0x5B) among the sixteen at
// p, as two words of byte marks in memory order; false when there is none.
inline bool special16(const u8* p, uint64_t* lo, uint64_t* hi)
{
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    // 0x5A and 0x5B differ in bit 0 only.
    const auto m = (v == 0xA5) | (v == 0xA6) | ((v & 0xFE) == 0x5A);
    std::memcpy(lo, &m, 8);
    std::memcpy(hi, reinterpret_cast<const char*>(&m) + 8, 8);
    return (*lo | *hi) != 0;
}
// Bytes before the first special one.
inline int plain_bytes(uint64_t lo, uint64_t hi)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return lo ? __builtin_clzll(lo) >> 3 : 8 + (__builtin_clzll(hi) >> 3);
#else
    return lo ? __builtin_ctzll(lo) >> 3 : 8 + (__builtin_ctzll(hi) >> 3);
#endif
}

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

int protocol_phy::data_transf_meaning(const u8* in, u8* out, int length, u8* endFlag, int outSize)
{
    u8 state = Outside;
    int n = 0;
    *endFlag = 0;
    int i = 0;
    while (i < length) {
        if (state == Outside) {
            // Nothing counts before a start byte.
            const void* start = std::memchr(in + i, pc::kStart, size_t(length - i));
            if (!start)
                break;
            i = int(static_cast<const u8*>(start) - in);
        } else if (state == Inside) {
            while (i + 16 <= length && n + 16 <= outSize) {
                uint64_t lo, hi;
                const bool special = special16(in + i, &lo, &hi);
                // All are stored; only the plain ones count.
                std::memcpy(out + n, in + i, 16);
                if (!special) {
                    i += 16;
                    n += 16;
                    continue;
                }
                const int plain = plain_bytes(lo, hi);
                i += plain;
                n += plain;
                // Escape pairs are taken here; anything else goes through
                // the byte rule below.
                const int before = i;
                while (i + 1 < length && n < outSize) {
                    const u8 e = in[i], x = in[i + 1];
                    if ((e != pc::kEscA6 && e != pc::kEsc5B) || (x != 0x01 && x != 0x02))
                        break;
                    out[n++] = e == pc::kEscA6 ? (x == 0x01 ? 0xA6 : 0xA5) : (x == 0x01 ? 0x5B : 0x5A);
                    i += 2;
                }
                if (i != before)
                    continue;
                break;
            }
            if (i >= length)
                break;
        }
        const u8 b = in[i++];
        if (b == pc::kStart) {
            state = Inside;
            n = 0;
            *endFlag = 0;
            continue;
        }
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

int protocol_phy::data_re_transf_meaning(u8* out, const u8* in, int length, u8* flag, int outSize)
{
    if (flag)
        *flag = 0;
    if (length < 0 || outSize < 4 + length)
        return 0;
    int k = 0;
    out[k++] = pc::kStart;
    out[k++] = pc::kStart;
    out[k++] = pc::kStart;
    // Room left for the end byte; one pass, stopping when the frame would
    // not fit.
    const int room = outSize - 1;
    int i = 0;
    while (i < length) {
        // Sixteen bytes at a time while even sixteen special ones would fit.
        while (i + 16 <= length && k + 32 <= room) {
            uint64_t lo, hi;
            const bool special = special16(in + i, &lo, &hi);
            // All are stored; only the plain ones count.
            std::memcpy(out + k, in + i, 16);
            if (!special) {
                i += 16;
                k += 16;
                continue;
            }
            const int plain = plain_bytes(lo, hi);
            i += plain;
            k += plain;
            break;
        }
        if (i >= length)
            break;
        // Byte by byte through a run of special bytes.
        do {
            const u8 b = in[i++];
            const u8 e = kEscape.first[b];
            if (k + (e ? 2 : 1) > room)
                return 0;
            if (e) {
                out[k++] = e;
                out[k++] = kEscape.second[b];
            } else {
                out[k++] = b;
            }
        } while (i < length && kEscape.first[in[i]]);
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
