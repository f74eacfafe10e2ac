// What the user-mode sequence tests share: the plain model they check the
// box against, the PC's requests of the path, and the random run itself.
#pragma once

#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <vector>

#include <QRandomGenerator>
#include <QString>
#include <QtGlobal>

#include "core/zevrampara.h"
#include "link/pc_frames.h"

namespace mode_sequence
{
// The image's 3,200 mode bytes (896..4095).
using Mode = Bytes;
// What a slot's file holds: its mode bytes, or no file.
using FileBytes = std::optional<Mode>;

// A slot's file: what it holds once the writes that wait are made (unknown
// after an upload or an empty, until the next rewrite of the modes), and
// everything it may hold now, as a restart finds it.
struct SlotFile {
    std::optional<FileBytes> eventual{FileBytes()};
    std::vector<FileBytes> possible{FileBytes()};

    void expect(const FileBytes& f)
    {
        eventual = f;
        add(f);
    }
    void add(const FileBytes& f)
    {
        if (std::find(possible.begin(), possible.end(), f) == possible.end())
            possible.push_back(f);
    }
    // Found on disk as expected: nothing else can be there now.
    void settled()
    {
        if (eventual)
            possible = {*eventual};
    }
    void found(const FileBytes& f)
    {
        eventual = f;
        possible = {f};
    }
};

// What the answers promised, and the rules the box follows for the mode
// words: each slot's last saved bytes, the screen's, words 866 and 868, the
// recall the PC asked and each slot's file.
struct Model {
    std::array<std::optional<Mode>, kUserModeCount> stored;
    Mode screen;
    u16 mode = 0;
    u16 to_save = 0;
    u16 recall_asked = 0;
    bool refresh_saved = false;
    std::array<SlotFile, kUserModeCount> files;

    static int at(int offset) { return offset - Img::kModeStart; }
    u16 word(int offset) const { return u16(screen[at(offset)] | screen[at(offset) + 1] << 8); }
    void put(int offset, u16 v)
    {
        screen[at(offset)] = u8(v);
        screen[at(offset) + 1] = u8(v >> 8);
    }
    // The brightness by the single-setting command.
    void brightness(u8 v) { put(Img::kBrightness, v); }
    // The black flag of a window, as the BLACK key toggles it.
    u8& black(int window) { return screen[at(ZevRamPara::layerOffset(window) + Img::kLayerFlags)]; }

    // The PC's image write of data at address.
    void image_write(u32 address, const Bytes& data)
    {
        const u16 before = mode;
        const u32 end = address + u32(data.size());
        for (u32 a = address; a < end; ++a) {
            const u8 b = data[a - address];
            if (a == u32(Img::kCurrentMode) || a == u32(Img::kCurrentMode + 1))
                mode = a == u32(Img::kCurrentMode) ? u16((mode & 0xFF00) | b) : u16((mode & 0xFF) | b << 8);
            else if (a == u32(Img::kModeToSave) || a == u32(Img::kModeToSave + 1))
                to_save = a == u32(Img::kModeToSave) ? u16((to_save & 0xFF00) | b) : u16((to_save & 0xFF) | b << 8);
            else if (a >= u32(Img::kModeStart))
                screen[a - Img::kModeStart] = b;
        }
        if (address < u32(Img::kCurrentMode) || end > u32(Img::kModeToSave + 2))
            refresh_saved = false;
        if (!(address < u32(Img::kModeToSave) && end > u32(Img::kCurrentMode)))
            return;
        // Word 868 given a slot with 866 as it was: a save alone.
        const bool save = address < u32(Img::kModeToSave + 2) && end > u32(Img::kModeToSave) && to_save != 0 &&
                          to_save <= kUserModeCount;
        if (save && mode == before)
            return;
        const bool wordsOnly = address >= u32(Img::kCurrentMode) && end <= u32(Img::kModeToSave + 2);
        if (mode == 0 || mode > kUserModeCount)
            recall_asked = 0;
        else if (wordsOnly || mode != before)
            recall_asked = mode;
    }

    void save(int s)
    {
        stored[s] = screen;
        mode = u16(s + 1);
        to_save = 0;
        refresh_saved = false;
        files[s].expect(screen);
    }
    // A recall of an empty slot leaves everything as it is.
    void recall(int s)
    {
        if (!stored[s])
            return;
        screen = *stored[s];
        mode = u16(s + 1);
        to_save = 0;
        refresh_saved = false;
    }
    // Register 11 bit 1: the save first, of the screen as it stands, then
    // the recall, then the window flags and the audio window the apply
    // sets.
    void apply()
    {
        const int asked = recall_asked - 1;
        recall_asked = 0;
        const bool early = refresh_saved;
        refresh_saved = false;
        if (asked < 0 && !early)
            mode = 0;
        if (to_save != 0 && to_save <= kUserModeCount)
            save(to_save - 1);
        if (asked >= 0)
            recall(asked);
        u16 audio = word(Img::kAudioLayer);
        if (audio > 5 || word(ZevRamPara::layerOffset(audio) + Img::kLayerEnable) == 0)
            audio = 0;
        put(Img::kAudioLayer, audio);
        const u8 sw = u8(word(2118) & 0x03);
        for (int w = 0; w < kSourceCount; ++w) {
            u8& flags = screen[at(ZevRamPara::layerOffset(w) + Img::kLayerFlags)];
            flags = u8((flags & 0xF3) | (sw << 2));
        }
    }
    // A page refresh takes word 868 before its register 11.
    void refresh()
    {
        if (to_save == 0 || to_save > kUserModeCount)
            return;
        save(to_save - 1);
        refresh_saved = true;
    }
    // The PC's upload into slot s: a whole mode, or markers 0xFF that empty
    // it. Its file follows at the next rewrite of the modes; a save or a
    // rewrite of it whose file may still wait takes the upload with it, and
    // an empty then removes the file.
    void upload(int s, const FileBytes& mode_bytes)
    {
        stored[s] = mode_bytes;
        const bool mayWait = files[s].possible.size() > 1;
        files[s].eventual.reset();
        if (mode_bytes || mayWait)
            files[s].add(mode_bytes);
    }
    // Register 11 bit 2: every slot's file as the slot stands.
    void rewrite()
    {
        for (int s = 0; s < kUserModeCount; ++s)
            files[s].expect(stored[s]);
    }
    // Register 16 bit 0: the factory image (the EDID range kept), every
    // slot empty and no mode file left.
    void factory_reset()
    {
        u8 image[Img::kSize] = {};
        std::copy(screen.begin(), screen.end(), image + Img::kModeStart);
        ZevRamPara::factory_reset_into(image);
        screen.assign(image + Img::kModeStart, image + Img::kSize);
        mode = ZevRamPara::get16(image, Img::kCurrentMode);
        to_save = ZevRamPara::get16(image, Img::kModeToSave);
        recall_asked = 0;
        refresh_saved = false;
        for (int s = 0; s < kUserModeCount; ++s) {
            stored[s].reset();
            files[s].found(FileBytes());
        }
    }
    // A restart: the mode words as the stored image has them, the slots as
    // their files.
    void restarted(u16 storedMode)
    {
        mode = storedMode;
        to_save = 0;
        recall_asked = 0;
        refresh_saved = false;
    }
};

enum Step {
    Change,
    SingleChange,
    Save,
    SaveAlone,
    SaveAsRead,
    Recall,
    SingleRecall,
    WholeImage,
    TwoClients,
    Upload,
    Empty,
    Rewrite,
    Reset,
    PanelSave,
    PanelRecall,
    Black,
    Fill,
    Room,
    CleanRestart,
    KillRestart,
    // A PC request, then at once, with no gap, the PC's reboot (register 14
    // bit 1) or SIGTERM: everything answered 0 is stored.
    RebootAfterRequest,
    TermAfterRequest
};

inline const char* step_name(Step step)
{
    static const char* const names[] = {"change", "single change", "save",          "save by 868 alone", "save as read",
                                        "recall", "single recall", "whole image",   "two clients",       "upload",
                                        "empty",  "rewrite",       "factory reset", "panel save",        "panel recall",
                                        "BLACK",  "fill",          "room",          "restart",           "kill -9",
                                        "reboot", "SIGTERM"};
    return names[step];
}

// The run: ZEV_SEQUENCE_STEPS makes it longer, ZEV_SEQUENCE_SEED replays the
// one a failure names.
class Run
{
  public:
    explicit Run(int defaultSteps)
        : steps(number("ZEV_SEQUENCE_STEPS", defaultSteps)),
          seed(u32(number("ZEV_SEQUENCE_SEED", int(QRandomGenerator::global()->bounded(1 << 30))))), rng_(seed)
    {
    }
    const int steps;
    const u32 seed;
    // 0 to n - 1.
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    // Step i: drawn from a table that weighs the steps, on a random slot,
    // with where a failure names it.
    struct Next {
        Step step;
        int slot;
        QString where;
    };
    template <size_t N> Next next(int i, const Step (&table)[N])
    {
        const Step step = table[pick(int(N))];
        const int slot = pick(kUserModeCount);
        return {step, slot, label(i, step, slot)};
    }
    QString label(int i, Step step, int slot) const
    {
        return QString("seed %1, step %2 (%3, slot %4)").arg(seed).arg(i).arg(step_name(step)).arg(slot + 1);
    }

  private:
    static int number(const char* name, int otherwise)
    {
        bool ok = false;
        const int v = qEnvironmentVariableIntValue(name, &ok);
        return ok ? v : otherwise;
    }
    std::mt19937 rng_;
};

// Register 11 bit 1: the apply; bit 2: the rewrite of the modes.
inline const Bytes kApply = request(kBox, 0xA0, {11, 0x02, 0, 0x02});
inline const Bytes kRewrite = request(kBox, 0xA0, {11, 0x04, 0, 0x04});
inline const Bytes kFactoryReset = request(kBox, 0xA0, {16, 0x01, 0, 0x01});

inline Bytes write_image(u32 offset, const Bytes& data)
{
    return request(kBox, 0x60, ram_rest(offset, u16(data.size()), data));
}
inline Bytes read_image(u32 offset, int length)
{
    return request(kBox, 0x61, ram_rest(offset, u16(length)));
}
inline Bytes single(u8 id, u16 value)
{
    return request(kBox, 0xB0, {0x31, 0, id, u8(value), u8(value >> 8)});
}
inline Bytes single_recall(int s)
{
    return single(54, u16(s < 8 ? s : s + 8));
}
// Slot s's upload: markers 0xAA 0xAA and the mode, or markers 0xFF 0xFF.
inline Bytes upload(int s, const FileBytes& mode)
{
    Bytes data = mode ? Bytes{0xAA, 0xAA} : Bytes{0xFF, 0xFF};
    if (mode)
        data.insert(data.end(), mode->begin(), mode->end());
    return write_image(u32(s + 1) << 12, data);
}

// The PC's ways of writing the mode words for a save or a recall of slot s,
// each a list of image writes (offset, bytes) before its register 11.
struct ModeWrite {
    u32 offset;
    Bytes data;
};
// Word 866 emptied and 868 = s + 1 in one block.
inline ModeWrite save_block(int s)
{
    return {u32(Img::kCurrentMode), {0, 0, u8(s + 1), 0}};
}
inline ModeWrite save_alone(int s)
{
    return {u32(Img::kModeToSave), {u8(s + 1), 0}};
}
// The two words as the PC read them, with 868 = s + 1.
inline ModeWrite save_as_read(const Bytes& read, int s)
{
    return {u32(Img::kCurrentMode), {read.at(0), read.at(1), u8(s + 1), 0}};
}
inline ModeWrite recall_words(int s)
{
    return {u32(Img::kCurrentMode), {u8(s + 1), 0}};
}

// The PC's steps of both runs, on the box and in the model; what differs is
// how a request reaches the box. Failures name where.
class PcSteps
{
  public:
    virtual ~PcSteps() = default;
    Model m;
    QString where;
    // Runs a step of the PC's; false when the step is not one.
    bool pc_step(Run& run, Step step, int s);
    // The PC's read of length bytes at at; empty when it fails.
    Bytes read(int c, u32 at, int length);
    Bytes words() { return read(0, Img::kCurrentMode, 4); }
    bool ok(int c, const Bytes& req);
    // A request of the PC's right before a stop: any of its steps, a rewrite
    // of the modes or a factory reset, on the box and in the model; where
    // names it.
    void request_before_stop(Run& run, int s);
    // What a start after that stop finds (the screen and the mode words as
    // the PC reads them, every slot) against everything answered 0: the
    // screen and word 866 as they were, every slot's file as its slot was
    // answered; an upload or empty with no rewrite after it is in its slot
    // only, so such a slot is what its file may hold. Empty when nothing is
    // lost; the model then follows the start.
    QStringList lost_at_start(const Mode& screen, const Bytes& words,
                              const std::array<FileBytes, kUserModeCount>& found);

  protected:
    // Client c's request: the reply from its status on, empty when none
    // came.
    virtual Bytes ask_box(int c, const Bytes& req) = 0;

  private:
    void write(int c, const ModeWrite& w);
    void apply(int c);
    // The mode words as the model has them, as client c reads them.
    bool words_read(int c, Bytes* seen);
    void two_clients(Run& run, int s);
    void whole_image(u8 value);
};

// The first image offset where two modes differ, or -1.
inline int first_difference(const Mode& a, const Mode& b)
{
    if (a.size() != b.size())
        return 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return int(i) + Img::kModeStart;
    return -1;
}
// A slot as the PC reads it or a file holds it: its mode bytes while both
// markers are 0xAA, else none.
inline FileBytes held(const Bytes& markedSlot)
{
    if (markedSlot.size() < size_t(2 + Img::kModeBytes) || markedSlot[0] != 0xAA || markedSlot[1] != 0xAA)
        return FileBytes();
    return Mode(markedSlot.begin() + 2, markedSlot.begin() + 2 + Img::kModeBytes);
}
} // namespace mode_sequence
