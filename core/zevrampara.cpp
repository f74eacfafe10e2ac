#include "core/zevrampara.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "board/board.h"
#include "board/file_read.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/para_apply.h"

ZevRamPara* ZevRamPara::p_zevrampara = nullptr;
u8 ZevRamPara::p_zevrampara_config[Img::kSize];
u8 ZevRamPara::p_zevrampara_shadow[Img::kSize];
USER_MODE_SLOT ZevRamPara::user_mode[kUserModeCount];
bool ZevRamPara::led_size_written_ = false;
std::atomic<bool> ZevRamPara::image_file_unread{false};
QMutex ZevRamPara::image_file_mutex;
u8 ZevRamPara::image_filed_[Img::kSize - Img::kPersistStart];
bool ZevRamPara::image_filed_known_ = false;
ZevDeviceArea ZevRamPara::device;
QMutex ZevRamPara::mutex(QMutex::Recursive);
const char* ZevRamPara::kDeviceInfoFile = "/data/ram_device_info";
const char* ZevRamPara::kMenuFile = "/data/configs/omenu.json";

namespace
{

u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}

bool validSource(int s)
{
    return s >= 0 && s < kSourceCount;
}

bool led_size_differs()
{
    for (int off : {Img::kSpliceMode, Img::kLedWidth, Img::kLedHeight})
        if (ZevRamPara::img16(off) != ZevRamPara::shadow16(off))
            return true;
    return false;
}

int cropOffset(int k)
{
    return Img::kCropTable + Img::kCropSize * k;
}
u16 cropId(int k)
{
    return ZevRamPara::img16(cropOffset(k));
}
bool cropInUse(int k)
{
    return cropId(k) & 0x8000;
}
int cropSource(int k)
{
    return cropId(k) & 0xFF;
}
int cropNumber(int k)
{
    return (cropId(k) >> 8) & 0x7F;
}

bool cropBit(int source, int number)
{
    int bit = 40 * source + number;
    return g_cut_source_state[bit / 8] & (1u << (bit % 8));
}

// Index of the in-use record of source with crop number, or 40.
int findCrop(int source, int number)
{
    for (int k = 0; k < Img::kCropCount; ++k)
        if (cropInUse(k) && cropSource(k) == source && cropNumber(k) == number)
            return k;
    return Img::kCropCount;
}

int findNthCrop(int source, int n)
{
    int id = ZevRamPara::ZevGetCropID(source, n);
    return id == 0 ? Img::kCropCount : findCrop(source, id - 1);
}

} // namespace

ZevRamPara* ZevRamPara::pInstance()
{
    if (!p_zevrampara) {
        p_zevrampara = new ZevRamPara();
        p_zevrampara->load_all();
    }
    return p_zevrampara;
}

int ZevRamPara::test_signal(int code)
{
    QMutexLocker lock(&Utils::_test_signal_mutex);
    if (p_zevrampara)
        emit p_zevrampara->sig_update_para(code);
    return 1;
}

std::string ZevRamPara::modeFilePath(int slot)
{
    return "/data/modes/custom_mode" + std::to_string(slot + 1);
}

std::string ZevRamPara::modeMenuPath(int slot)
{
    char name[64];
    std::snprintf(name, sizeof name, "/data/modes/MO%02x.json", unsigned(slot + 1));
    return name;
}

namespace
{
// Image bytes [from, to) of the factory defaults into an image-shaped buffer.
void defaults_into(u8* image, int from, int to)
{
    if (from < Img::kPersistStart)
        from = Img::kPersistStart;
    if (to > Img::kSize)
        to = Img::kSize;
    for (int i = from; i < to; ++i)
        image[i] = default_para_ramlist[i - Img::kPersistStart + 2];
}
} // namespace

void ZevRamPara::load_defaults(int from, int to)
{
    defaults_into(img(), from, to);
}

void ZevRamPara::factory_reset_into(u8* image)
{
    defaults_into(image, Img::kPersistStart, Img::kModeStart);
    defaults_into(image, Img::kSpliceMode, Img::kSize);
}

bool ZevRamPara::save_device_info(const u8* snapshot, bool replaceUnread)
{
    QMutexLocker file(&image_file_mutex);
    return write_image_file(snapshot, replaceUnread);
}

bool ZevRamPara::write_image_file(const u8* snapshot, bool replaceUnread)
{
    if (image_file_unread && !replaceUnread)
        return false;
    u8 buf[2 + Img::kSize - Img::kPersistStart];
    buf[0] = 0xAA;
    buf[1] = 0xAA;
    std::memcpy(buf + 2, snapshot + Img::kPersistStart, Img::kSize - Img::kPersistStart);
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        if (!board::write_whole(board::path(kDeviceInfoFile), buf, sizeof buf))
            return false;
    }
    std::memcpy(image_filed_, buf + 2, sizeof image_filed_);
    image_filed_known_ = true;
    // The file is the box's own again: later changes are stored.
    if (image_file_unread.exchange(false))
        zevlog::stored_file(lcCore(), kDeviceInfoFile, "replaced by the factory image at the factory reset");
    return true;
}

ZevRamPara::Stored ZevRamPara::store_image()
{
    QMutexLocker file(&image_file_mutex);
    if (!image_filed_known_ || image_file_unread)
        return Stored::nothing;
    u8 snapshot[Img::kSize];
    {
        // The file never holds half of a write; the FPGA worker writes the
        // brightness under the same lock.
        ImageReadLock lock;
        std::memcpy(snapshot, img(), sizeof snapshot);
    }
    if (std::memcmp(snapshot + Img::kPersistStart, image_filed_, sizeof image_filed_) == 0)
        return Stored::nothing;
    return write_image_file(snapshot, false) ? Stored::written : Stored::failed;
}

void ZevRamPara::load_all()
{
    std::memset(p_zevrampara_config, 0, sizeof p_zevrampara_config);
    std::memset(&device, 0, sizeof device);
    board::FileRead read;
    {
        // A loader that writes the factory table whole leaves the file
        // longer than the box writes it: its first bytes are the image.
        constexpr int kFileSize = 2 + Img::kSize - Img::kPersistStart;
        QMutexLocker lock(&Utils::_file_deal_mutex);
        QByteArray b;
        read = board::read_head(board::path(kDeviceInfoFile), kFileSize, &b);
        if (read == board::FileRead::whole && b.size() == kFileSize && u8(b[0]) == 0xAA && u8(b[1]) == 0xAA)
            std::memcpy(p_zevrampara_config + Img::kPersistStart, b.constData() + 2, size_t(kFileSize - 2));
        else if (read == board::FileRead::whole)
            read = board::FileRead::damaged;
    }
    image_file_unread = read == board::FileRead::unreadable;
    if (read != board::FileRead::whole)
        load_defaults(Img::kPersistStart, Img::kSize);
    const bool saved = read == board::FileRead::whole || image_file_unread || save_device_info(p_zevrampara_config);
    if (image_file_unread)
        zevlog::stored_file(lcCore(), kDeviceInfoFile,
                            "cannot be read: factory image for this start, the file is kept as it is");
    else if (read == board::FileRead::damaged)
        zevlog::stored_file(lcCore(), kDeviceInfoFile,
                            saved ? "is damaged: replaced by the factory image"
                                  : "is damaged: factory image for this start, the file cannot be replaced");
    else if (!saved)
        zevlog::stored_file(lcCore(), kDeviceInfoFile, "cannot be created: factory image for this start");
    p_zevrampara_config[Img::kTestPattern] = 0;
    // A save request not yet written when the image was stored was never
    // acknowledged: it does not outlive a restart, where it would block a
    // new request for the same slot.
    put16(p_zevrampara_config, Img::kModeToSave, 0);
    {
        C331Lock lock;
        saves_asked_ = 0;
        files_wanted_ = 0;
        recall_asked_ = 0;
        refresh_save_ = false;
    }
    for (int s = 0; s < kUserModeCount; ++s)
        mode_file_deal(s, 0);
    std::memcpy(p_zevrampara_shadow, p_zevrampara_config, sizeof p_zevrampara_shadow);
    {
        // What start-up leaves in the image beside the file (no test
        // pattern, no save asked) is stored with the next change, not on
        // its own.
        QMutexLocker file(&image_file_mutex);
        std::memcpy(image_filed_, p_zevrampara_config + Img::kPersistStart, sizeof image_filed_);
        image_filed_known_ = !image_file_unread;
    }
    g_language = p_zevrampara_config[Img::kLanguage];
    ZevCropSourceInit();
}

int ZevRamPara::ZevLanguageChanged()
{
    // The PC writes the language word, the pages call this.
    C331Lock lock;
    if (img16(Img::kLanguage) == shadow16(Img::kLanguage))
        return 0;
    u8 lang = img()[Img::kLanguage];
    u32 valid = g_lcd_lang_valid;
    if (lang > 4 || !(valid & (1u << lang))) {
        for (u8 i = 0; i <= 4; ++i)
            if (valid & (1u << i)) {
                img()[Img::kLanguage] = i;
                img()[Img::kLanguageFallback] = 0;
                break;
            }
    }
    g_language = img()[Img::kLanguage];
    return 1;
}

u8 ZevRamPara::ZevGetImageSource(const u8* image, u8 layer, short* isCrop, char* cropIndex, u8 form)
{
    // A stored mode begins at image offset 896.
    const int shift = form == 0 ? 0 : Img::kModeStart;
    *isCrop = 0;
    if (layer >= Img::kLayerCount)
        return 0xFF;
    u16 w = get16(image, layerOffset(layer) + Img::kLayerSource - shift);
    if (!(w & 0x8000))
        return u8(w);
    *isCrop = 1;
    u8 k = u8(w);
    *cropIndex = char(k);
    if (k >= Img::kCropCount)
        return 0xFF;
    return image[cropOffset(k) - shift];
}

void ZevRamPara::ZevSetImageSource(int ordinal, char source, char window)
{
    int src = u8(source);
    int win = u8(window);
    if (!validSource(src) || win >= Img::kLayerCount)
        return;
    c331_apply(1, [&] {
        // The crop is found in the table this write goes with.
        u16 word = u16(src);
        if (ordinal > 0) {
            int k = findNthCrop(src, ordinal);
            word = k < Img::kCropCount ? u16(0x8000 | k) : 0;
        }
        put16(img(), layerOffset(win) + Img::kLayerSource, word);
        if (img16(Img::kCurrentMode) == shadow16(Img::kCurrentMode))
            put16(img(), Img::kCurrentMode, 0);
    });
}

int ZevRamPara::ZevGetSourceNum(int source, int n)
{
    if (n < 1)
        return 0;
    if (n > Img::kCropCount)
        n = Img::kCropCount;
    int count = 0;
    for (int k = 0; k < n; ++k)
        if (cropInUse(k) && cropSource(k) == source)
            ++count;
    return count;
}

void ZevRamPara::ZevCropSourceInit()
{
    std::memset(g_cut_source_state, 0, sizeof g_cut_source_state);
    for (int k = 0; k < Img::kCropCount; ++k) {
        if (!cropInUse(k))
            continue;
        int s = cropSource(k), n = cropNumber(k);
        if (validSource(s) && n < Img::kCropCount) {
            int bit = 40 * s + n;
            g_cut_source_state[bit / 8] |= u8(1u << (bit % 8));
        }
    }
}

int ZevRamPara::ZevGetCropID(int source, int n)
{
    if (!validSource(source) || n <= 0)
        return 0;
    int seen = 0;
    for (int num = 0; num < Img::kCropCount; ++num)
        if (cropBit(source, num) && ++seen == n)
            return num + 1;
    return 0;
}

int ZevRamPara::ZevAddCropID(int source)
{
    if (!validSource(source))
        return 0;
    for (int num = 0; num < Img::kCropCount; ++num)
        if (!cropBit(source, num))
            return num + 1;
    return 0;
}

void ZevRamPara::ZevGetCropPara(int source, int n, CROP_PARA* crop, int* index)
{
    int k = findNthCrop(source, n);
    *index = k;
    if (k >= Img::kCropCount)
        return;
    int o = cropOffset(k);
    crop->id = img16(o);
    crop->x = img16(o + 2);
    crop->y = img16(o + 4);
    crop->width = img16(o + 6);
    crop->height = img16(o + 8);
}

void ZevRamPara::ZevSetCropPara(char source, char n, CROP_PARA* crop)
{
    c331_apply_if(1, [&] {
        int k = findNthCrop(u8(source), u8(n));
        if (k >= Img::kCropCount)
            return false;
        int o = cropOffset(k);
        put16(img(), o + 2, u16(crop->x));
        put16(img(), o + 4, u16(crop->y));
        put16(img(), o + 6, u16(crop->width));
        put16(img(), o + 8, u16(crop->height));
        return true;
    });
}

void ZevRamPara::ZevAddNewCrop(int source, CROP_PARA* crop)
{
    c331_apply_if(1, [&] {
        int number = ZevAddCropID(source) - 1;
        if (number < 0)
            return false;
        int k = 0;
        while (k < Img::kCropCount && cropInUse(k))
            ++k;
        if (k >= Img::kCropCount)
            return false;
        int o = cropOffset(k);
        put16(img(), o, u16(0x8000 + 256 * number + source));
        put16(img(), o + 2, u16(crop->x));
        put16(img(), o + 4, u16(crop->y));
        put16(img(), o + 6, u16(crop->width));
        put16(img(), o + 8, u16(crop->height));
        return true;
    });
}

void ZevRamPara::ZevDeleteCrop(char source, char n)
{
    c331_apply_if(1, [&] {
        int k = findNthCrop(u8(source), u8(n));
        if (k >= Img::kCropCount)
            return false;
        put16(img(), cropOffset(k), 0);
        return true;
    });
}

void ZevRamPara::ZevSetEDIDPara(int source, short width, short height, short rate)
{
    if (!validSource(source))
        return;
    const EDID_PARA record = {u16(width), u16(height), u16(rate)};
    c331_apply(1, [&] { set_edid_para(img(), source, record); });
}

LAYER_PARA ZevRamPara::layer_para(const u8* image, int layer)
{
    LAYER_PARA record;
    std::memcpy(&record, image + layerOffset(layer), sizeof record);
    return record;
}

void ZevRamPara::set_layer_para(u8* image, int layer, const LAYER_PARA& record)
{
    std::memcpy(image + layerOffset(layer), &record, sizeof record);
}

EDID_PARA ZevRamPara::edid_para(const u8* image, int source)
{
    EDID_PARA record;
    std::memcpy(&record, image + Img::kEdid + int(sizeof record) * source, sizeof record);
    return record;
}

void ZevRamPara::set_edid_para(u8* image, int source, const EDID_PARA& record)
{
    std::memcpy(image + Img::kEdid + int(sizeof record) * source, &record, sizeof record);
}

int ZevRamPara::ZevRamParaDeal(const u8* data, int length, u32 address)
{
    if (length < 0 || uint64_t(address) + uint64_t(length) > Img::kSize)
        return 1;
    const u16 mode = img16(Img::kCurrentMode);
    std::memcpy(img() + address, data, size_t(length));
    if (address < Img::kCurrentMode + 2 && address + u32(length) > Img::kCurrentMode)
        note_mode_word_write(address, length, mode);
    // A change of the image after a save the refresh took early: the
    // screen no longer shows that save.
    if (length > 0 && (address < u32(Img::kCurrentMode) || address + u32(length) > u32(Img::kModeToSave + 2)))
        refresh_save_ = false;
    if (address < Img::kLedHeight + 2 && address + u32(length) > Img::kSpliceMode && led_size_differs())
        led_size_written_ = true;
    // The PC asks for the apply later, if at all; the image changed now.
    image_written();
    return 0;
}

u16 ZevRamPara::locked16(int offset)
{
    C331Lock lock;
    return img16(offset);
}

ImageReadLock::ImageReadLock() : timings_(&Utils::_source_hdminfo_mutex) {}

bool ZevRamPara::take_led_size_change()
{
    const bool noted = led_size_written_;
    led_size_written_ = false;
    return noted || led_size_differs();
}

void ZevRamPara::ZevSetImageBlack()
{
    u8 layer = g_image_current;
    if (layer >= kSourceCount)
        return;
    c331_apply(1, [&] { img()[layerOffset(layer) + Img::kLayerFlags] ^= 0x01; });
}

void ZevRamPara::ZevSetImageFreeze()
{
    u8 layer = g_image_current;
    if (layer >= kSourceCount)
        return;
    bool frozen = false;
    c331_apply(1, [&] {
        int o = layerOffset(layer);
        if (img16(o + Img::kLayerEnable) & 1)
            img()[o + Img::kLayerFlags] ^= 0x02;
        frozen = img()[o + Img::kLayerFlags] & 0x02;
    });
    if (debugOn())
        zevlog::debug(lcCore(), "\n set freeze : %s \n", frozen ? "freeze " : "normal");
}
