// Parameter-RAM commands addressed to the box: the image, the user-mode
// slots, the description tables, the device status, the screen capture, the
// information block and the 4G window; and the single-parameter write.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unistd.h>

#include <QMutexLocker>

#include "board/board.h"
#include "board/file_read.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "link/message_deal.h"
#include "link/message_deal_fpga.h"
#include "link/message_gui.h"
#include "link/message_remote.h"
#include "link/protocol_phy.h"
#include "video/c331_manage.h"

u8 message_deal::capture_buf[message_deal::kCaptureSize];
u32 message_deal::capture_length = 0;

namespace
{
// Request layout of groups 0x60 and 0x61.
constexpr int kAddress = 10;
constexpr int kLength = 14;
constexpr int kWriteData = 18;

u32 le32(const u8* p)
{
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

struct Region {
    u32 start;
    u32 size;
};
constexpr Region kImage{0x000000, 0x1000};
constexpr Region kSlots{0x001000, 0x10000};
constexpr Region kDeviceType{0x600000, 0x28};
constexpr Region kCapability{0x600040, 0x400};
constexpr Region kDescription{0x600440, 0x400};
constexpr Region kStatus{0x600880, 0x400};
constexpr Region kCaptureHeader{0x800000, 0x80};
constexpr Region kCaptureFile{0x800080, 0x200000};
constexpr Region kInfo{0xA0000000, 0x1000};
constexpr Region k4gWindow{0xA1000000, 0x100};
constexpr Region kZeros{0xFD000000, 0x400};
constexpr Region kEcho{0xFE000000, 0x1000000};

bool in(const Region& r, u32 a)
{
    return a >= r.start && a - r.start < r.size;
}

u8 capability(u32 k)
{
    switch (k) {
    case 0:
        return u8(g_lcd_lang_valid.load());
    case 2:
        return 16;
    case 4:
    case 6:
        return 252;
    case 5:
    case 7:
    case 56:
        return 31;
    case 8:
    case 10:
    case 50:
        return 64;
    case 12:
    case 13:
    case 14:
    case 15:
        return u8(g_zev_max_pixel.load() >> (8 * (k - 12)));
    case 28:
        return 6;
    case 30:
        return 40;
    case 34:
    case 40:
        return 8;
    case 36:
        return 28;
    case 42:
    case 44:
    case 47:
    case 51:
    case 59:
    case 60:
        return 1;
    case 46:
        return 128;
    case 52:
        return 240;
    case 54:
        return g_4G_RAM[0] == 0xAA ? 1 : 0;
    case 58:
        return (g_lcd_lang_valid.load() & (1u << 17)) ? 2 : 1;
    default:
        return 0;
    }
}

u8 description(u32 k)
{
    switch (k) {
    case 0:
        return 0x52;
    case 1:
        return 0x8B;
    case 2:
        return 25;
    case 4:
        return 12;
    case 6:
    case 18:
    case 20:
    case 40:
    case 42:
        return 1;
    case 16:
    case 38:
        return 2;
    case 64:
    case 65:
    case 96:
    case 97:
        return 15;
    case 66:
    case 67:
    case 98:
    case 99:
        return 3;
    default:
        return 0;
    }
}

u8 capture_header(u32 k)
{
    static const u8 head[7] = {0xAA, 0xAA, 0x40, 0x01, 0xF0, 0x00, 24};
    if (k < 7)
        return head[k];
    if (k >= 12 && k < 16)
        return u8(message_deal::capture_length >> (8 * (k - 12)));
    return 0;
}

// Appends a length-prefixed Latin-1 text at *k; a text longer than its length
// byte can count is cut at 255 characters.
void put_text(u8* out, int* k, const QString& text)
{
    QByteArray latin = text.toLatin1();
    int n = latin.size() > 255 ? 255 : latin.size();
    out[(*k)++] = u8(n);
    std::memcpy(out + *k, latin.constData(), size_t(n));
    *k += n;
}
} // namespace

void message_deal::start_capture()
{
    const QString path = board::path(QString("/123.png"));
    message_gui* gui = message_gui::installed();
    // The panel writes a new file: a FIFO left at the name would hold it in
    // the open.
    bool cleared;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        cleared = ::unlink(path.toLocal8Bit().constData()) == 0 || errno == ENOENT;
    }
    const bool grabbed = cleared && gui && gui->grab_screen(path);
    QMutexLocker lock(&Utils::_file_deal_mutex);
    capture_buf[0] = 0xAA;
    capture_buf[1] = 0xAA;
    capture_length = 0;
    if (!grabbed)
        return;
    // A file that does not fit is not served cut short.
    QByteArray png;
    if (board::read_whole(path.toLocal8Bit().toStdString(), kCaptureSize - 2, &png) != board::FileRead::whole)
        return;
    std::memcpy(capture_buf + 2, png.constData(), size_t(png.size()));
    capture_length = u32(png.size());
}

void message_deal::info_block(u8* out)
{
    std::memset(out, 0, kInfo.size);
    // The cloud property block is loaded and FPGA 0 is up.
    message_remote* remote = message_remote::installed();
    if (remote && remote->load_property() == 0 && fpga_manage::p_fpga_manage && fpga_link::up(0) &&
        fpga_manage::p_fpga_manage->start[0].vbo_state.load() == 7)
        out[0x00] = 0xAA;
    out[0x01] = 1;
    out[0x03] = 1;
    const u8 consts1[] = {0x52, 0x8B, 15, 11, 16};
    std::memcpy(out + 0x04, consts1, sizeof consts1);
    const Utils::CloudSettings cloud = Utils::cloud_settings();
    out[0x09] = cloud.on;
    out[0x10] = g_update_status;
    const u8 consts2[] = {8, 0x52, 0x8B, 2, 0x26, 3, 0x30, 1, 11};
    std::memcpy(out + 0x11, consts2, sizeof consts2);
    const u32 t = G_timeTicks.load() / 20;
    for (int i = 0; i < 4; ++i)
        out[0x1C + i] = u8(t >> (8 * i));
    out[0x29] = 15;
    out[0x2A] = 11;
    out[0x2B] = 11;
    out[0x2C] = fpga_link::mirror(0, 31);
    out[0x2D] = fpga_link::mirror(0, 30);
    out[0x2E] = fpga_link::mirror(0, 29);
    out[0x2F] = fpga_link::mirror(0, 28);
    out[0x42] = 12;
    const Utils::CloudProperty property = Utils::cloud_property();
    std::memcpy(out + 0x43, property.data() + 25, 12);
    std::memcpy(out + 0x65, property.data() + 37, 4);
    out[0x69] = property[42];
    out[0x6A] = property[41];
    const u16 cards = fpga_link::card_count();
    out[0x7C] = out[0x7E] = u8(cards);
    out[0x7D] = out[0x7F] = u8(cards >> 8);
    u16 w, h;
    {
        C331Lock lock;
        w = ZevRamPara::img16(Img::kLedWidth);
        h = ZevRamPara::img16(Img::kLedHeight);
    }
    out[0x80] = u8(w >> 8);
    out[0x81] = u8(w);
    out[0x82] = u8(h >> 8);
    out[0x83] = u8(h);
    int k = 0x84;
    put_text(out, &k, cloud.server);
    out[k++] = u8(cloud.port);
    out[k++] = u8(cloud.port >> 8);
    put_text(out, &k, cloud.user);
    put_text(out, &k, cloud.controller);
}

int message_deal::write_ram(u8* body, int length)
{
    const u32 address = le32(body + kAddress);
    const int len = body[kLength] | body[kLength + 1] << 8;
    const u8* data = body + kWriteData;
    body[pc::kStatus] = 1;
    // The frame must carry every byte it asks to write.
    if (length < kWriteData + len)
        return 1;
    if (!protocol_phy::is_box(protocol_phy::dest(body)))
        return write_fpga_ram_cmd(body, length, address, len, ram_fpga(body));
    if (in(kImage, address)) {
        // A change of the stored part that nothing can store is refused
        // whole: the box would lose it at the next start.
        if (address + u32(len) > u32(Img::kPersistStart) && !ZevRamPara::image_storable())
            return 1;
        // Under the apply mutex: a write of the current mode asks for its
        // recall while no register 11 takes the request. The input timings
        // belong to the source thread too: a write over them (a whole image
        // read and written back) takes their lock, in the order readers of
        // the image take it.
        constexpr u32 kTimingsEnd = Img::kSourceTiming + 6 * kSourceCount;
        const bool timings = address < kTimingsEnd && address + u32(len) > u32(Img::kSourceTiming);
        C331Lock lock;
        QMutexLocker timingsLock(timings ? &Utils::_source_hdminfo_mutex : nullptr);
        body[pc::kStatus] = u8(ZevRamPara::ZevRamParaDeal(data, len, address));
    } else if (in(kSlots, address)) {
        C331Lock lock;
        body[pc::kStatus] = u8(ZevRamPara::ZevModeUserRamParaDeal(data, len, address));
    } else if (in(k4gWindow, address) &&
               uint64_t(address) + uint64_t(len) <= uint64_t(k4gWindow.start) + k4gWindow.size) {
        std::memcpy(g_4G_RAM, data, size_t(len));
        body[pc::kStatus] = 0;
    }
    return 1;
}

int message_deal::read_ram(u8* body, int /*length*/)
{
    const u32 start = le32(body + kAddress);
    const u32 len = u32(body[kLength] | body[kLength + 1] << 8);
    if (!protocol_phy::is_box(protocol_phy::dest(body)))
        return read_fpga_ram_cmd(body, start, int(len), ram_fpga(body));
    u8* out = body + pc::kData;
    body[pc::kStatus] = 0;

    static const Region regions[] = {kImage, kSlots,         kDeviceType,  kCapability, kDescription, kStatus,
                                     kInfo,  kCaptureHeader, kCaptureFile, k4gWindow,   kZeros,       kEcho};
    const Region* r = nullptr;
    for (const Region& cand : regions) {
        if (in(cand, start)) {
            r = &cand;
            break;
        }
    }
    // The echo window answers with the request's own bytes; outside every
    // window there is nothing to read.
    if (r && r->start == kEcho.start)
        return int(len) + 1;
    if (!r) {
        std::memset(out, 0, len);
        return int(len) + 1;
    }
    const u32 first = start - r->start;
    // Bytes past the end of the start's region read 0.
    auto span = [&](u32 size) { return first >= size ? 0u : (size - first < len ? size - first : len); };
    std::memset(out, 0, len);
    if (r->start == kImage.start) {
        // A reply never holds half of a write.
        ImageReadLock lock;
        std::memcpy(out, ZevRamPara::p_zevrampara_config + first, span(Img::kSize));
    } else if (r->start == kSlots.start) {
        // The start address picks the slot; the read runs on through the
        // slots' storage.
        const u32 mode = (start >> 12) & 0xFF;
        const u32 flat = (mode - 1) * kUserModeSlotSize + (start & 0xFFF);
        const u32 total = kUserModeCount * kUserModeSlotSize;
        C331Lock lock;
        if (mode >= 1 && mode <= kUserModeCount && flat < total)
            std::memcpy(out, &ZevRamPara::user_mode[0][0] + flat, total - flat < len ? total - flat : len);
    } else if (r->start == kDeviceType.start) {
        static const u8 type[6] = {6, 3, 9, 9, 8, 8};
        std::memcpy(out, type + (first < 6 ? first : 6), span(6));
    } else if (r->start == kCapability.start) {
        for (u32 i = 0; i < span(r->size); ++i)
            out[i] = capability(first + i);
    } else if (r->start == kDescription.start) {
        for (u32 i = 0; i < span(r->size); ++i)
            out[i] = description(first + i);
    } else if (r->start == kStatus.start) {
        std::memcpy(out, ZevRamPara::device.status + first, span(kDeviceStatusSize));
    } else if (r->start == kInfo.start) {
        static u8 info[kInfo.size];
        info_block(info);
        std::memcpy(out, info + first, span(kInfo.size));
    } else if (r->start == kCaptureHeader.start) {
        if (first <= 1)
            start_capture();
        for (u32 i = 0; i < span(r->size); ++i)
            out[i] = capture_header(first + i);
    } else if (r->start == kCaptureFile.start) {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        capture_buf[0] = 0xAA;
        capture_buf[1] = 0xAA;
        std::memcpy(out, capture_buf + first, span(kCaptureSize));
    } else if (r->start == k4gWindow.start) {
        std::memcpy(out, g_4G_RAM, len < sizeof g_4G_RAM ? len : sizeof g_4G_RAM);
    }
    return int(len) + 1;
}

int message_deal::vedio_write_single_para(u8* body, int length)
{
    if (length < 14 || body[pc::kStatus] != 0x31) {
        body[pc::kStatus] = 1;
        return 1;
    }
    body[pc::kData] = 0x31;
    // Every item is a stored setting: none is taken that would be lost at
    // the next start.
    if (!ZevRamPara::image_storable()) {
        body[pc::kStatus] = 1;
        return 2;
    }
    u8* im = ZevRamPara::p_zevrampara_config;
    bool changed = false;
    {
        C331Lock lock;
        // Only whole three-byte items: id, u16 value.
        for (int off = 12; off + 3 <= length; off += 3) {
            const u8 id = body[off];
            const u16 value = u16(body[off + 1] | body[off + 2] << 8);
            bool took = true;
            switch (id) {
            case 6:
                took = value <= 100;
                if (took)
                    ZevRamPara::put16(im, Img::kBrightness, value);
                break;
            case 21:
            case 29:
            case 37:
            case 45:
            case 50:
            case 51: {
                static const u8 ids[] = {21, 29, 37, 45, 50, 51};
                int w = int(std::find(std::begin(ids), std::end(ids), id) - std::begin(ids));
                took = value <= 5;
                if (took)
                    ZevRamPara::put16(im, ZevRamPara::layerOffset(w) + Img::kLayerSource, value);
                break;
            }
            case 54: {
                int slot = value <= 7 ? value : (value >= 16 && value <= 23) ? value - 8 : -1;
                took = slot >= 0 && ZevRamPara::recall_mode(slot);
                break;
            }
            case 93: {
                const u16 w = ZevRamPara::img16(Img::kAudioLayer);
                took = w <= 5;
                if (took) {
                    const int rec = ZevRamPara::layerOffset(w);
                    im[rec + Img::kLayerAudio] = value ? 100 : 0;
                    im[rec + Img::kLayerAudio + 1] = value ? 0x80 : 0;
                }
                break;
            }
            case 60:
                took = value <= 1;
                if (took)
                    ZevRamPara::put16(im, Img::kBlackout, u16(value ^ 1));
                break;
            case 10:
                took = value <= 3;
                if (took)
                    ZevRamPara::put16(im, 2184, value);
                break;
            case 11:
            case 12:
            case 13:
                took = value <= 100;
                if (took)
                    ZevRamPara::put16(im, 2186 + 2 * (id - 11), value);
                break;
            default:
                took = false;
            }
            changed = changed || took;
        }
        if (changed)
            c331_manage::para_update_flag = 1;
    }
    body[pc::kStatus] = 0;
    return 2;
}
