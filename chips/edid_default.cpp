#include "chips/edid_default.h"

#include <cstring>

namespace
{

constexpr int kBlock = 128;
constexpr int kDvi = 1; // the DVI input has no HDMI extension

// Reduced-blanking timing (CVT-RB): fixed horizontal blanking, vertical
// blanking of at least 460 microseconds.
struct Timing {
    u32 clock10k;
    u16 hActive, hBlank, hFront, hSync;
    u16 vActive, vBlank, vFront, vSync;
};

Timing reducedBlanking(u16 w, u16 h, u16 rate)
{
    Timing t{};
    t.hActive = w;
    t.hBlank = 160;
    t.hFront = 48;
    t.hSync = 32;
    t.vActive = h;
    t.vFront = 3;
    t.vSync = 6;
    double linePeriodUs = (1e6 / rate - 460.0) / h;
    u32 vbi = linePeriodUs > 0 ? u32(460.0 / linePeriodUs) + 1 : 0;
    u32 minVbi = t.vFront + t.vSync + 6;
    t.vBlank = u16(vbi < minVbi ? minVbi : vbi);
    double clockHz = double(w + t.hBlank) * double(h + t.vBlank) * rate;
    // Rounded down to the 250 kHz step of the standard.
    t.clock10k = u32(clockHz / 250000.0) * 25;
    return t;
}

void detailedTiming(const Timing& t, u8* d)
{
    d[0] = u8(t.clock10k);
    d[1] = u8(t.clock10k >> 8);
    d[2] = u8(t.hActive);
    d[3] = u8(t.hBlank);
    d[4] = u8(((t.hActive >> 8) & 0xF) << 4 | ((t.hBlank >> 8) & 0xF));
    d[5] = u8(t.vActive);
    d[6] = u8(t.vBlank);
    d[7] = u8(((t.vActive >> 8) & 0xF) << 4 | ((t.vBlank >> 8) & 0xF));
    d[8] = u8(t.hFront);
    d[9] = u8(t.hSync);
    d[10] = u8((t.vFront & 0xF) << 4 | (t.vSync & 0xF));
    d[11] =
        u8(((t.hFront >> 8) & 3) << 6 | ((t.hSync >> 8) & 3) << 4 | ((t.vFront >> 4) & 3) << 2 | ((t.vSync >> 4) & 3));
    // 12..16: image size and borders unknown; 17: digital separate sync,
    // +hsync -vsync.
    d[17] = 0x1A;
}

void textDescriptor(u8 tag, const char* text, u8* d)
{
    d[3] = tag;
    size_t n = std::strlen(text);
    for (size_t i = 0; i < 13; ++i)
        d[5 + i] = i < n ? u8(text[i]) : (i == n ? 0x0A : 0x20);
}

void checksum(u8* block)
{
    u8 sum = 0;
    for (int i = 0; i < kBlock - 1; ++i)
        sum = u8(sum + block[i]);
    block[kBlock - 1] = u8(0x100 - sum);
}

} // namespace

bool edid_block_valid(const u8* block)
{
    u8 sum = 0;
    for (int i = 0; i < kBlock; ++i)
        sum = u8(sum + block[i]);
    return sum == 0;
}

u16 build_default_edid(int source, u16 width, u16 height, u16 rate, u8* out)
{
    std::memset(out, 0, kEdidSize);
    Timing t{};
    bool usable = width && height && rate && width < 4096 && height < 4096;
    if (usable) {
        t = reducedBlanking(width, height, rate);
        usable = t.clock10k > 0 && t.clock10k <= 0xFFFF;
    }
    if (!usable)
        t = reducedBlanking(1920, 1080, 60);
    bool hdmi = source != kDvi;

    u8* b = out;
    static const u8 header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::memcpy(b, header, 8);
    b[8] = 0x68; // manufacturer "ZEV"
    b[9] = 0xB6;
    b[10] = u8(source);
    b[11] = 0x64;
    b[16] = 1;  // week
    b[17] = 34; // year 2024
    b[18] = 1;  // EDID 1.3
    b[19] = 3;
    b[20] = 0x80; // digital input
    b[23] = 0x78; // gamma 2.2
    b[24] = 0x0A; // RGB, preferred timing is the first detailed timing
    static const u8 srgb[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
    std::memcpy(b + 25, srgb, 10);
    for (int i = 38; i < 54; ++i)
        b[i] = 0x01; // no standard timings
    detailedTiming(t, b + 54);
    // Range limits: 23..85 Hz vertical, 15..160 kHz horizontal, 660 MHz.
    u8* r = b + 72;
    r[3] = 0xFD;
    r[5] = 23;
    r[6] = 85;
    r[7] = 15;
    r[8] = 160;
    r[9] = 66;
    r[10] = 0x00;
    r[11] = 0x0A;
    for (int i = 12; i < 18; ++i)
        r[i] = 0x20;
    static const char* const names[6] = {"ZEV EXT", "ZEV DVI", "ZEV HDMI1", "ZEV HDMI2", "ZEV HDMI3", "ZEV HDMI4"};
    textDescriptor(0xFC, names[source >= 0 && source < 6 ? source : 0], b + 90);
    b[108 + 3] = 0x10; // unused descriptor
    b[126] = hdmi ? 1 : 0;
    checksum(b);

    if (hdmi) {
        u8* e = out + kBlock;
        e[0] = 0x02;
        e[1] = 0x03;
        // HDMI vendor block: OUI 00-0C-03, physical address 1.0.0.0.
        static const u8 vsdb[6] = {0x65, 0x03, 0x0C, 0x00, 0x10, 0x00};
        std::memcpy(e + 4, vsdb, sizeof vsdb);
        e[2] = u8(4 + sizeof vsdb);
        checksum(e);
    }
    return u16(t.clock10k);
}
