// Factory defaults of the persisted image range.
#include <cstring>

#include "core/zevrampara.h"

namespace
{

struct DefaultTable {
    u8 bytes[Img::kSize];

    void put8(int imageOffset, u8 v) { bytes[imageOffset - Img::kPersistStart + 2] = v; }
    void put16(int imageOffset, u16 v)
    {
        put8(imageOffset, u8(v));
        put8(imageOffset + 1, u8(v >> 8));
    }

    DefaultTable()
    {
        std::memset(bytes, 0, sizeof bytes);
        bytes[0] = 0xAA;
        bytes[1] = 0xAA;
        put8(Img::kLanguage, 1); // English
        // Each input offers 1920 x 1080 at 60 Hz.
        for (int s = 0; s < kSourceCount; ++s) {
            put16(Img::kEdid + 6 * s, 1920);
            put16(Img::kEdid + 6 * s + 2, 1080);
            put16(Img::kEdid + 6 * s + 4, 60);
        }
        put16(Img::kLedWidth, 1920);
        put16(Img::kLedHeight, 1080);
        put16(Img::kOut1Width, 1920);
        put16(Img::kOut1Height, 1080);
        // Picture quality: brightness, contrast, sharpness, saturation,
        // colour-temperature type, red, green and blue gains.
        const u16 quality[] = {100, 50, 10, 50, 2, 64, 64, 64};
        for (int i = 0; i < 8; ++i)
            put16(Img::kBrightness + 2 * i, quality[i]);
        // Window 1 shows HDMI1 over the whole screen; the others are off but
        // keep a sensible source each.
        const u8 sources[6] = {2, 3, 4, 5, 1, 0};
        for (int w = 0; w < 6; ++w) {
            int base = Img::kLayer + Img::kLayerSize * w;
            put16(base + Img::kLayerEnable, w == 0 ? 1 : 0);
            put16(base + Img::kLayerSource, sources[w]);
            put16(base + Img::kLayerW, 1920);
            put16(base + Img::kLayerH, 1080);
            put8(base + Img::kLayerAudio, 255);
        }
    }
};

const DefaultTable& table()
{
    static const DefaultTable t;
    return t;
}

} // namespace

const u8* const default_para_ramlist = table().bytes;
