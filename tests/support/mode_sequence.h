// What the user-mode sequence tests share: the plain model they check the
// box against, the PC's requests of the path, and the random run itself.
#pragma once

#include <array>
#include <optional>
#include <random>

#include <QRandomGenerator>
#include <QString>
#include <QtGlobal>

#include "core/zevrampara.h"
#include "link/pc_frames.h"

namespace mode_sequence
{
// The image's 3,200 mode bytes (896..4095).
using Mode = Bytes;

// What the answers promised: each slot's last saved bytes and the screen's.
struct Model {
    std::array<std::optional<Mode>, kUserModeCount> stored;
    Mode screen;

    void brightness(u8 v)
    {
        screen[Img::kBrightness - Img::kModeStart] = v;
        screen[Img::kBrightness + 1 - Img::kModeStart] = 0;
    }
    void save(int s) { stored[s] = screen; }
    // A recall of an empty slot leaves the screen as it is.
    void recall(int s)
    {
        if (stored[s])
            screen = *stored[s];
    }
    // The black flag of a window, as the BLACK key toggles it.
    u8& black(int window) { return screen[ZevRamPara::layerOffset(window) + Img::kLayerFlags - Img::kModeStart]; }
};

enum Step { Change, SingleChange, Save, Recall, SingleRecall, PanelSave, PanelRecall, Black, Fill, Room };

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
        return {step, slot, QString("seed %1, step %2 (%3, slot %4)").arg(seed).arg(i).arg(int(step)).arg(slot + 1)};
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

// Register 11 bit 1: the apply.
inline const Bytes kApply = request(kBox, 0xA0, {11, 0x02, 0, 0x02});

inline Bytes write_image(u32 offset, const Bytes& data)
{
    return request(kBox, 0x60, ram_rest(offset, u16(data.size()), data));
}
inline Bytes single(u8 id, u16 value)
{
    return request(kBox, 0xB0, {0x31, 0, id, u8(value), u8(value >> 8)});
}
// Slot s (0-based) to save at the next apply, no mode shown; slot s to
// recall at the next apply; slot s recalled at once by the single setting.
inline Bytes save_request(int s)
{
    return write_image(Img::kCurrentMode, {0, 0, u8(s + 1), 0});
}
inline Bytes recall_request(int s)
{
    return write_image(Img::kCurrentMode, {u8(s + 1), 0});
}
inline Bytes single_recall(int s)
{
    return single(54, u16(s < 8 ? s : s + 8));
}

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
} // namespace mode_sequence
