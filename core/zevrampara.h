// The shared parameter store: the 4096-byte parameter image, its shadow (the
// image as last applied and saved), the 16 user-mode slots and the device
// area, with the operations every subsystem uses on them.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

#include <QMutex>
#include <QMutexLocker>
#include <QObject>

#include "core/global.h"
#include "core/para_apply.h"

// Image layout (byte offsets, 16-bit values little-endian).
namespace Img
{
constexpr int kSize = 4096;
constexpr int kSourceTiming = 256; // + 6 x source
constexpr int kLanguage = 768;
constexpr int kLanguageFallback = 769;
constexpr int kKeyLock = 772;
constexpr int kWifiOff = 774;
constexpr int kTestPattern = 864;
constexpr int kCurrentMode = 866;
constexpr int kModeToSave = 868;
constexpr int kEdid = 896; // + 6 x source: width, height, rate
constexpr int kSpliceMode = 1376;
constexpr int kLedWidth = 1378;
constexpr int kLedHeight = 1380;
constexpr int kOriginX = 1382;
constexpr int kOriginY = 1384;
constexpr int kOut1Width = 1412;
constexpr int kOut1Height = 1414;
constexpr int kCropTable = 1472; // 40 x 10 bytes
constexpr int kCropCount = 40;
constexpr int kCropSize = 10;
constexpr int kAudioLayer = 2112;
constexpr int kBlackout = 2116;
constexpr int kOsdMenuFlag = 2124;
constexpr int kBrightness = 2176;
constexpr int kContrast = 2178;
constexpr int kQualityEnd = 2192;
constexpr int kLayer = 2272; // + 26 x layer
constexpr int kLayerSize = 26;
constexpr int kLayerCount = 16;
// Field offsets inside a layer record.
constexpr int kLayerEnable = 0;
constexpr int kLayerMirror = 4;
constexpr int kLayerSource = 8;
constexpr int kLayerX = 10;
constexpr int kLayerY = 12;
constexpr int kLayerW = 14;
constexpr int kLayerH = 16;
constexpr int kLayerFlags = 18;
constexpr int kLayerP2p = 19;
constexpr int kLayerAudio = 20;
constexpr int kLayerP2pMode = 22;
// Persisted range of the image and the stored range of a user mode.
constexpr int kPersistStart = 768;
constexpr int kModeStart = 896;
constexpr int kModeBytes = kSize - kModeStart; // 3200
} // namespace Img

constexpr int kSourceCount = 6;
constexpr int kUserModeCount = 16;
constexpr int kUserModeSlotSize = 4098;
constexpr int kUserModeFileSize = 4096;
constexpr int kRegCount = 170;
constexpr int kDeviceStatusSize = 1024;

struct CROP_PARA {
    int id = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The records of the image, laid out byte for byte as stored: packed, 16-bit
// fields little-endian like the board and the PC tool.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the image records are little-endian");
#pragma pack(push, 1)
struct SOURCE_TIMING {
    u16 width;
    u16 height;
    u8 rate;
    u8 zero;
};

// The EDID setting of a source, at image offset 896 + 6 x source.
struct EDID_PARA {
    u16 width;
    u16 height;
    u16 rate; // Hz
};

// The record of an image (window, layer) i, at image offset 2272 + 26 x i;
// records 0 to 5 are the six images.
struct LAYER_PARA {
    u16 enable; // bit 0: the image is on
    u16 reserved2;
    u16 mirror; // 0 upright, 1 left to right, 2 upside down, 3 turned by 180
    u16 reserved6;
    u16 source; // bit 15 clear: a source id; set: a crop-table index
    u16 x;
    u16 y;
    u16 width;
    u16 height;
    u8 flags;     // bit 0 black, bit 1 freeze, bit 2 fade switching
    u8 p2p;       // bit 0 point-to-point on
    u8 volume;    // 0 or 255
    u8 audio;     // 0x80 on
    u16 p2p_mode; // 0 plain, 8 horizontal splice of HD3 and HD4, 9 vertical
    u16 reserved24;
};

// One stored user mode: markers 0xAA 0xAA while a mode is stored, 0xFF 0xFF
// after a delete or when its file is missing; then image bytes 896..4095.
// Its file "/data/modes/custom_mode<slot + 1>" holds the first 4096 bytes.
// Used as bytes where the slot is copied or sent whole.
struct USER_MODE_SLOT {
    u8 marker[2];
    u8 image[Img::kModeBytes];
    u8 spare[kUserModeSlotSize - 2 - Img::kModeBytes];

    operator u8*() { return marker; }
    operator const u8*() const { return marker; }
};
#pragma pack(pop)

static_assert(sizeof(EDID_PARA) == 6, "EDID_PARA is 6 bytes");
static_assert(sizeof(LAYER_PARA) == Img::kLayerSize, "LAYER_PARA is 26 bytes");
static_assert(offsetof(LAYER_PARA, mirror) == Img::kLayerMirror && offsetof(LAYER_PARA, source) == Img::kLayerSource &&
                  offsetof(LAYER_PARA, x) == Img::kLayerX && offsetof(LAYER_PARA, flags) == Img::kLayerFlags &&
                  offsetof(LAYER_PARA, volume) == Img::kLayerAudio &&
                  offsetof(LAYER_PARA, p2p_mode) == Img::kLayerP2pMode,
              "LAYER_PARA fields at their image offsets");
static_assert(sizeof(USER_MODE_SLOT) == kUserModeSlotSize, "USER_MODE_SLOT is 4098 bytes");

// Outside the image: register shadow, device status and font status.
struct ZevDeviceArea {
    u8 reg[kRegCount];            // register r at index r
    u8 status[kDeviceStatusSize]; // status[0] is the device-present byte
    u8 font_status;
};

// Factory defaults laid out as the parameter file: 0xAA 0xAA, then image
// bytes 768..4095.
extern const u8* const default_para_ramlist;

class ZevRamPara : public QObject
{
    Q_OBJECT
  public:
    static ZevRamPara* pInstance();
    static ZevRamPara* p_zevrampara;

    static u8 p_zevrampara_config[Img::kSize];
    static u8 p_zevrampara_shadow[Img::kSize];
    static USER_MODE_SLOT user_mode[kUserModeCount];
    static ZevDeviceArea device;
    // Guards the input timings and other writes of worker threads.
    static QMutex mutex;

    // Little-endian accessors of the image (and any image-shaped buffer).
    static u16 get16(const u8* base, int offset) { return u16(base[offset] | (base[offset + 1] << 8)); }
    static void put16(u8* base, int offset, u16 v)
    {
        base[offset] = u8(v);
        base[offset + 1] = u8(v >> 8);
    }
    static u16 img16(int offset) { return get16(p_zevrampara_config, offset); }
    // One word read under the apply mutex, by a thread that holds no lock
    // and does not write the image; words that go together are read in
    // one locked block instead.
    static u16 locked16(int offset);
    static u16 shadow16(int offset) { return get16(p_zevrampara_shadow, offset); }
    static int layerOffset(int layer) { return Img::kLayer + Img::kLayerSize * layer; }

    // Records of an image-shaped buffer (the image, its shadow or a copy),
    // read and written whole. Layer 0..15, source 0..5.
    static LAYER_PARA layer_para(const u8* image, int layer);
    static void set_layer_para(u8* image, int layer, const LAYER_PARA& record);
    static EDID_PARA edid_para(const u8* image, int source);
    static void set_edid_para(u8* image, int source, const EDID_PARA& record);

    // Emits sig_update_para(code) of the store under
    // Utils::_test_signal_mutex; returns 1. Safe from any thread.
    static int test_signal(int code);
    static int ram_para_save() { return test_signal(1); }

    // Loads the image from the first 3,330 bytes of "/data/ram_device_info"
    // (factory defaults when it is missing, shorter or wrongly marked, and
    // the file is then written again) and the 16 modes. A file that cannot
    // be read is kept as it is: the box runs on the factory defaults and
    // saves no image until the next start. Each file it cannot use whole is
    // named in a warning.
    void load_all();
    // Writes marker and image bytes 768..4095 of snapshot atomically.
    // Returns true when the file is complete on disk; false, writing
    // nothing, while the stored file could not be read at start, unless the
    // write replaces it (a factory reset: the user asked to discard it).
    static bool save_device_info(const u8* snapshot, bool replaceUnread = false);
    // The image's file, owned by image_file_mutex: whoever writes it holds
    // the mutex from the snapshot it writes to the write's end, so the file
    // takes the image's states in the order they were taken and never goes
    // back to an older one. It comes after modes_file_mutex and before the
    // apply mutex.
    static QMutex image_file_mutex;
    // What a store of a file did: nothing to store, written, or failed (it
    // waits).
    enum class Stored { nothing, written, failed };
    // Writes image bytes 768..4095 as they stand when they differ from what
    // the file was last given; nothing while the file could not be read at
    // start, or before the image is loaded.
    static Stored store_image();
    // The stored image file could not be read at start (a read error, no
    // permission): it is not written before the next start, or before a
    // factory reset writes the factory image in its place.
    static std::atomic<bool> image_file_unread;
    // Whether a change of image bytes 768..4095 can be stored: false while
    // the stored file could not be read. A change nothing can store is
    // refused to the PC and told "not saved" on the panel.
    static bool image_storable() { return !image_file_unread; }
    // The image a factory reset leaves, made in an image-shaped buffer:
    // bytes 768..4095 take their factory defaults, the EDID range
    // (896..1375) is kept.
    static void factory_reset_into(u8* image);
    // Restores image bytes [from, to) from the factory defaults.
    static void load_defaults(int from, int to);

    static int ZevLanguageChanged();
    static u8 ZevGetImageSource(const u8* image, u8 layer, short* isCrop, char* cropIndex, u8 form);
    static void ZevSetImageSource(int ordinal, char source, char window);
    // The crop table's readers: the caller holds the apply mutex. Its
    // writers below take it themselves.
    static int ZevGetSourceNum(int source, int n);
    static void ZevCropSourceInit();
    static int ZevGetCropID(int source, int n);
    static int ZevAddCropID(int source);
    static void ZevGetCropPara(int source, int n, CROP_PARA* crop, int* index);
    static void ZevSetCropPara(char source, char n, CROP_PARA* crop);
    static void ZevAddNewCrop(int source, CROP_PARA* crop);
    static void ZevDeleteCrop(char source, char n);
    static void ZevSetEDIDPara(int source, short width, short height, short rate);
    // Caller holds the apply mutex.
    static int ZevUserModeSaved(int slot);
    static int ZevGetCurrentModeIndex();
    static int ZevUserModeIndex(char cur, char dir);
    // A PC write of image bytes; the caller holds the apply mutex. Of the
    // two mode words: a slot number written into word 868 asks for that
    // slot's save; a slot number written into word 866 asks for its recall
    // at the next register 11, whatever the word held, unless the same write
    // also asks a save and leaves 866 as it was (the PC's save, written as
    // the words were read: the screen keeps what the PC changed). A larger
    // write that carries word 866 unchanged (a whole image read and written
    // back) asks for no recall; one that writes 0 into it takes a recall
    // back.
    static int ZevRamParaDeal(const u8* data, int length, u32 address);
    // Whether the LED width, height or splice mode differ from the shadow,
    // or a PC write left them different since the last call (a page refresh
    // between the write and its apply copies them into the shadow). The
    // note is taken: under the apply mutex, by the one that sets the LED up.
    static bool take_led_size_change();
    // A PC write of slot bytes; the caller holds the apply mutex.
    static int ZevModeUserRamParaDeal(const u8* data, int length, u32 address);
    static void ZevSetImageBlack();
    static void ZevSetImageFreeze();
    // The slots' files, owned by modes_file_mutex: whoever acts on a slot's
    // file holds it from the decision, taken under the apply mutex with the
    // slot's change counter, to the check after the act, and decides again
    // when the slot changed meanwhile (a PC save, upload or empty, which
    // take only the apply mutex). A factory reset holds it too, so no write
    // is in flight while it removes the files. It comes before the apply
    // mutex and Utils::_file_deal_mutex, and is taken under neither (a page
    // reads its files under the apply mutex).
    static QMutex modes_file_mutex;
    // Op 1 deletes the slot's files first; then the slot is loaded from its
    // file: 1 when the file holds the mode (4,096 bytes, or cut short with
    // its markers and all 3,200 mode bytes), else the slot shows empty.
    // -1 when op 1 could not delete them: the slot shows empty and counts
    // as emptied. A slot saved or uploaded meanwhile keeps what that made it.
    static int mode_file_deal(int slot, int op);
    // Writes the slot's file (markers 0xAA 0xAA set first; op 1 copies the
    // image's mode bytes into the slot first); op 0 also copies the OSD menu
    // beside it. 1 when written.
    static int mode_file_write(int slot, int op);
    // What a slot's file was asked at the rewrite of the modes, and whether
    // it was done.
    struct ModeFile {
        enum Ask { nothing, write, remove } ask;
        bool done;
    };
    // The rewrite of the modes for one slot, as the slot stands: a saved
    // slot (a marker 0xAA, none 0xFF) is marked 0xAA 0xAA and its file
    // written; a slot emptied by the PC, the user's delete or a factory
    // reset loses its files; a slot that merely shows empty (a file that
    // could not be read) keeps its file. A file that already holds the
    // slot as it stands is left alone. Not done: what failed waits, and is
    // tried again as the slot then stands. Its caller runs the sync and
    // settle once after the writes of its pass.
    static ModeFile store_mode_file(int slot);
    // Marks the slot emptied as a factory reset or the user's delete does,
    // and drops a save of it whose file waits; the caller holds the apply
    // mutex.
    static void empty_mode_slot(int slot);
    // The factory reset, whole or not at all: the factory image (the EDID
    // range kept) first replaces the image's file, also one that could not
    // be read; then, still holding the image's file so that no older image
    // is written after it, under the apply mutex: reset (the image's part
    // of it), every slot emptied and a recall the PC asked dropped, the
    // apply asked; then "rm  -rf  /data/modes/*". refused, nothing reset,
    // when the image's file cannot be written; files_left when the removal
    // failed: the slots stay emptied, their files wait for the rewrite of
    // the modes.
    enum class Reset { refused, done, files_left };
    static Reset factory_reset_modes(const std::function<void()>& reset);
    // The rewrite of the modes (register 11 bit 2) asked: every slot's file
    // is to follow its slot. Asked again while it waits, it joins the one
    // that waits. The caller holds the apply mutex.
    static void ask_modes_rewrite();
    // Bit s: slot s's file is to follow the slot (a rewrite of the modes, a
    // delete) and has not yet.
    static u32 files_wanted() { return files_wanted_.load(); }

    // The user modes: one save and one recall, which the panel, the PC's
    // register 11 and its single-setting command all use. Under the apply
    // mutex unless said otherwise.
    //
    // Saves the image's mode bytes (896..4095) into slot at once: from then
    // on the slot holds the mode, for the PC's reads, every recall and a
    // partial upload alike, and word 866 names it. Only its file waits:
    // store_saved_mode writes it, and what fails is tried again.
    static void save_mode(int slot);
    // Recalls slot: its stored bytes into the image, word 866 = slot + 1,
    // word 868 cleared (a save asked and not yet taken is dropped). False,
    // the image untouched, when the slot holds no mode.
    static bool recall_mode(int slot);
    // The recall the PC asked by writing a slot number into word 866, taken
    // by register 11 bit 1: the slot, or -1 when none is asked.
    static int take_recall_asked();
    // Word 868 names a slot to save: the slot is saved and the word
    // cleared. False, the word left as it is, when it names no slot. A page
    // refresh (byRefresh) that takes it before the register 11 that goes
    // with it leaves a note: that register 11 keeps word 866 naming the
    // save, as it does when it takes the word itself. A PC write of the
    // image beyond the mode words, or a later save or recall, drops the
    // note.
    static bool take_mode_save_word(bool byRefresh = false);
    // Whether a page refresh took word 868 since: the note is taken.
    static bool take_refresh_save();
    // Bit s: slot s was saved and its file is not yet written.
    static u32 mode_saves_asked() { return saves_asked_.load(); }
    // Writes the file of slot's save, with the OSD menu beside it, outside
    // the apply mutex: 1 written, 0 not written (the save stays asked), -1
    // no save asked (none, or the slot was emptied since). The save is done
    // once the file holds the slot as it stands: a later save or upload of
    // the slot during the write is written again. Its caller runs the sync
    // and settle once after the writes of its pass.
    static int store_saved_mode(int slot);

    static std::string modeFilePath(int slot);
    static std::string modeMenuPath(int slot);
    static const char* kDeviceInfoFile;
    static const char* kMenuFile;

  signals:
    void sig_update_para(int code);

  private:
    ZevRamPara() = default;
    // Under the apply mutex.
    static bool led_size_written_;
    static bool mode_emptied_[kUserModeCount];
    // Written under the apply mutex, read anywhere.
    static std::atomic<u32> saves_asked_;
    static std::atomic<u32> files_wanted_;
    // Counts every change of a slot (a save, an upload, an emptying), so a
    // file write knows whether it stored the slot as it now stands.
    static u32 slot_changes_[kUserModeCount];
    // The slot's change count its file holds, while filed_[s]: a file
    // already holding the slot is not written again.
    static u32 filed_change_[kUserModeCount];
    static bool filed_[kUserModeCount];
    // The slot's file holds it as it now stands; under the apply mutex.
    static bool slot_filed(int slot) { return filed_[slot] && filed_change_[slot] == slot_changes_[slot]; }
    static void note_filed(int slot, u32 change);
    // Image bytes 768..4095 as its file was last given them, once known;
    // under image_file_mutex.
    static u8 image_filed_[Img::kSize - Img::kPersistStart];
    static bool image_filed_known_;
    // save_device_info with image_file_mutex held.
    static bool write_image_file(const u8* snapshot, bool replaceUnread);
    // Slot + 1 of the recall the PC asked, 0 for none.
    static u16 recall_asked_;
    // A page refresh took word 868 before its register 11.
    static bool refresh_save_;
    // Notes the PC's write of image bytes [address, address + length) that
    // touched a mode word; word 866 held before866 beforehand.
    static void note_mode_word_write(u32 address, int length, u16 before866);
    // Writes a slot's file from copy (markers, mode bytes, the rest); with
    // the OSD menu beside it when menu is set. Deletes a slot's file, and
    // its OSD-menu file when menu is set; true when both are gone. The
    // caller holds modes_file_mutex.
    static bool write_mode_copy(int slot, const u8* copy, bool menu);
    static bool delete_mode_files(int slot, bool menu);
};

// Held by a reader of the image on a thread that does not write it (the
// pages, a PC reply, a save): no writer changes the image meanwhile, the
// input timings included. Taken in the video processor's order; whoever holds
// it takes no lock of its own and asks for no apply.
class ImageReadLock
{
  public:
    ImageReadLock();
    ImageReadLock(const ImageReadLock&) = delete;
    ImageReadLock& operator=(const ImageReadLock&) = delete;

  private:
    C331Lock apply_;
    QMutexLocker timings_;
};
