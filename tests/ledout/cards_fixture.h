// The simulated FPGA and its receiving cards, as the card tests drive them.
#pragma once

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <QtTest>

#include "board/sim/sim_cards.h"
#include "board/sim/sim_fpga.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_manage_jobs.h"
#include "support/sim_fixture.h"

using Bytes = std::vector<u8>;

inline Bytes withBcc(Bytes b)
{
    b.push_back(Utils::BCC(b.data(), unsigned(b.size())));
    return b;
}

inline board::sim::SimFpga* fpga()
{
    return board::sim::simFpga();
}
inline board::sim::SimCards* cards()
{
    return board::sim::simCards();
}
// The controller's copy of the FPGA's parameter RAM page.
inline u8* para()
{
    return fpga_manage::MCU_RAM_PARA_func[0];
}
// The card count the controller keeps for a port.
inline void setCount(unsigned port, u16 n)
{
    ZevRamPara::put16(para(), FpgaCards::kCountAt[port], n);
}

// Writes the cards file and takes it as the new layout.
inline void layout(const QByteArray& text)
{
    QVERIFY(writeHostFile(QString::fromStdString(board::sim::simCards()->path()), text));
    board::sim::simCards()->reload();
}

// Packets of a group by port as the cards received them; with a code, only
// those of that command code.
inline std::vector<std::pair<int, Bytes>> sent(u8 group, int code = -1)
{
    std::vector<std::pair<int, Bytes>> out;
    for (const auto& r : cards()->received())
        if (r.second.size() > 9 && r.second[9] == group && (code < 0 || r.second[5] == code))
            out.push_back(r);
    return out;
}

// The smart-mapping route: a fresh record with the route pattern, the grid
// of cards, the steps between them, the origin and the output port.
inline void setRoute(u8 pattern, u8 rows, u8 cols, int16_t cabWidth = 0, int16_t cabHeight = 0, u16 x = 0, u16 y = 0,
                     u8 port = 0)
{
    line_type = MAPPING_LINE_PARA{cabWidth, cabHeight, x, y, port, rows, cols, pattern};
}

// One test program's cards: a simulated board (its own, or the one given)
// with the FPGA and its cards attached, the parameter image and the FPGA
// manager on them.
class CardBench
{
  public:
    explicit CardBench(SimFixture* on = nullptr)
        : own_(on ? nullptr : std::make_unique<SimFixture>()), sim_(on ? *on : *own_)
    {
        board::sim::attachFpga(sim_.board());
        board::sim::attachCards(sim_.board(), [] { return G_timeTicks.load(); });
        ZevRamPara::pInstance();
        manager_ = fpga_manage::pInstance();
        g_debugSwitch = 0;
    }
    SimFixture& sim() { return sim_; }
    fpga_manage* manager() const { return manager_; }

    // Before a case: the time at ticks, the FPGA powered and running with
    // its video and output links up, no host traffic and no job, the
    // controller's RAM page cleared, the cards reset and answering after
    // the delay.
    void up(u32 ticks, u32 answerDelay)
    {
        G_timeTicks = ticks;
        fpga()->powerOn();
        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 3;
        manager_->start[0].vbo_state = 7;
        manager_->start[0].out_state = 18;
        std::memset(para(), 0, FpgaRam::kPageSize);
        pc_cmd_valid = 0;
        g_send_para.finish();
        cards()->reset();
        cards()->setAnswerDelay(answerDelay);
    }

    // Worker passes one tick apart until the job ends; the ticks it took.
    u32 runJob(u32 maxTicks)
    {
        const u32 begin = G_timeTicks.load();
        while (g_send_para.job() != JOB_NONE && G_timeTicks.load() - begin < maxTicks) {
            ++G_timeTicks;
            manager_->fpga_manage_deal();
        }
        return G_timeTicks.load() - begin;
    }

    // The posted job run for 300 passes, then the clock moved on to 10
    // minutes from its first pass, with a host frame on every pass from
    // there: whether the job still ran at that tick, and the passes it ran
    // past it (1000 at most).
    std::pair<bool, u32> runToBound()
    {
        const u32 first = G_timeTicks.load() + 1;
        runJob(300);
        G_timeTicks = first + kJobBoundTicks - 1;
        auto hostPass = [this] {
            pc_cmd_valid = 1;
            pc_cmd_time = ++G_timeTicks;
            manager_->fpga_manage_deal();
        };
        hostPass();
        const bool running = g_send_para.job() != JOB_NONE;
        u32 past = 0;
        for (; g_send_para.job() != JOB_NONE && past < 1000; ++past)
            hostPass();
        pc_cmd_valid = 0;
        return {running, past};
    }

    // The running job's job and step, and the player's step in the jobs of
    // the record files.
    static u32 state()
    {
        const u16 word = g_send_para.job_word.load();
        const u8 job = u8(word);
        const bool player = job == JOB_SCAN_LOAD || job == JOB_RCV_CHECK || job == JOB_RCV_RECOVERY;
        return word | (player ? u32(g_send_para.op_step) << 16 : 0);
    }
    static u32 state(u8 job, u8 step, u8 opStep = 0) { return job | u32(step) << 8 | u32(opStep) << 16; }

    // How one wait of the posted job went: passes one tick apart until the
    // job's state is waiting (the pass that stamps the wait), then on until
    // it leaves it, with a host frame on the first pass of the wait and
    // every gap ticks after (frames of them at most).
    struct Wait {
        u32 ticks = 0;     // from the pass that began the wait to the one that ended it
        u32 frames = 0;    // frames sent
        u32 held = 0;      // the host's activity plus 0.8 s, burst by burst
        bool still = true; // on every pass the host held, nothing moved or was sent
    };
    Wait waitThrough(u32 waiting, u32 gap, u32 frames, u32 maxTicks = 60000)
    {
        Wait w;
        for (u32 n = 0; state() != waiting && n < maxTicks; ++n) {
            ++G_timeTicks;
            manager_->fpga_manage_deal();
        }
        if (state() != waiting)
            return w;
        const u32 begin = G_timeTicks.load();
        u32 next = begin + 1, burstFrom = 0, burstLast = 0;
        while (state() == waiting && G_timeTicks.load() - begin < maxTicks) {
            const u32 now = ++G_timeTicks;
            if (w.frames < frames && now == next) {
                if (w.frames && now - burstLast > fpga_manage::kHostHoldTicks)
                    w.held += burstLast - burstFrom + fpga_manage::kHostHoldTicks + 1;
                if (!w.frames || now - burstLast > fpga_manage::kHostHoldTicks)
                    burstFrom = now;
                burstLast = now;
                ++w.frames;
                next += gap;
                pc_cmd_valid = 1;
                pc_cmd_time = now;
            }
            const bool heldNow = pc_cmd_valid.load() == 1;
            const size_t packets = cards()->received().size();
            manager_->fpga_manage_deal();
            if (heldNow && (state() != waiting || cards()->received().size() != packets))
                w.still = false;
        }
        if (w.frames)
            w.held += burstLast - burstFrom + fpga_manage::kHostHoldTicks + 1;
        w.ticks = G_timeTicks.load() - begin;
        return w;
    }

  private:
    std::unique_ptr<SimFixture> own_;
    SimFixture& sim_;
    fpga_manage* manager_ = nullptr;
};
