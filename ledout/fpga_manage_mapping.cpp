// The smart-mapping wizard's jobs: the position of every card of a route
// and the RAM reset of its port (job 1), the save to the cards' flash on
// every port (job 3) and the mapping display switch (job 4). One step per
// worker pass; each wait ends with the cards' acknowledgement or a time-out.
#include "core/utils.h"
#include "ledout/fpga_jobs.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_manage_jobs.h"

using namespace FpgaCards;

namespace
{
constexpr u32 kAckTicks = 1200;
constexpr u32 kPerCardTicks = 100;
constexpr u32 kEndTicks = 200;

enum : u8 { kEndStep = 9 };

fpga_jobs::Progress g_progress;

void stampWait()
{
    const u32 now = G_timeTicks.load();
    g_send_para.step_stamp = now;
    g_change.search_stamp = now;
    g_change.pulse_count = 0;
}

// The end of jobs 1, 3 and 4: the last progress below 100, then 100 two
// seconds later and the job word cleared.
void toEnd(int percent)
{
    g_progress.step(percent);
    g_send_para.step_stamp = G_timeTicks.load();
    g_send_para.set_step(kEndStep);
}

void endStep()
{
    if (Utils::getTimeSpace(g_send_para.step_stamp) <= kEndTicks)
        return;
    g_progress.end();
    g_send_para.finish();
}

// A job past its bound goes to its end, as when its last card never
// answered, and is not held by host traffic there; true when it did so.
bool overdueEnd(int percent)
{
    if (!fpga_jobs_overdue())
        return false;
    if (g_send_para.step() != kEndStep) {
        g_progress.note_cut();
        toEnd(percent);
    }
    endStep();
    return true;
}

// Waits for the cards' acknowledgement: back to step next on it or after
// limit ticks (which the page is told at the end); the bar keeps turning
// meanwhile.
void awaitAck(u32 limit, u8 next)
{
    if (g_send_para.answer_flag.exchange(0) == 1) {
        g_send_para.set_step(next);
        return;
    }
    if (Utils::getTimeSpace(g_send_para.step_stamp) > limit) {
        g_progress.note_unanswered();
        g_send_para.set_step(next);
        return;
    }
    fpga_jobs_pulse(g_progress);
}
} // namespace

bool fpga_jobs_overdue()
{
    SEND_PARA& j = g_send_para;
    if (!j.run_timed) {
        j.run_stamp = G_timeTicks.load();
        j.run_timed = true;
    }
    return Utils::getTimeSpace(j.run_stamp) > kJobBoundTicks;
}

namespace
{
// The hold of the running job is over: its step and pulse stamps move on by
// the time it lasted, from the first pass it held until 0.8 s after the
// host's last frame (lastFrame), however late the pass that ends it comes.
// Time the box lost otherwise counts toward the waits, as it would unheld.
void endHold(u32 lastFrame, u32 now)
{
    SEND_PARA& j = g_send_para;
    j.held = false;
    const u32 over = lastFrame + fpga_manage::kHostHoldTicks + 1;
    const u32 until = int32_t(now - over) < 0 ? now : over;
    const int32_t held = int32_t(until - j.held_from);
    if (held <= 0)
        return;
    j.step_stamp += u32(held);
    g_change.search_stamp += u32(held);
}
} // namespace

bool fpga_jobs_host_pause(fpga_manage* m)
{
    SEND_PARA& j = g_send_para;
    if (pc_cmd_valid.load() != 1) {
        if (j.held)
            endHold(pc_cmd_time.load(), G_timeTicks.load());
        return false;
    }
    // The frame's time after the flag, the tick after the frame's time: a
    // frame noted in between is never taken for an old one.
    const u32 lastFrame = pc_cmd_time.load();
    const u32 now = G_timeTicks.load();
    if (!j.held) {
        j.held = true;
        j.held_from = now;
    }
    if (now - lastFrame > fpga_manage::kHostHoldTicks) {
        pc_cmd_valid = 0;
        m->search_port_mask = 0;
        endHold(lastFrame, now);
    }
    return true;
}

void fpga_jobs_pulse(fpga_jobs::Progress& progress)
{
    if (Utils::getTimeSpace(g_change.search_stamp) <= 100)
        return;
    g_change.pulse_count = g_change.pulse_count >= 99 ? 1 : g_change.pulse_count + 1;
    g_change.search_stamp = G_timeTicks.load();
    progress.step(int(g_change.pulse_count));
}

void fpga_manage::SmartMapping_deal()
{
    SEND_PARA& j = g_send_para;
    if (overdueEnd(90) || fpga_jobs_host_pause(this))
        return;
    u8 packet[64];
    switch (j.step()) {
    case 0:
        g_progress.begin(true);
        j.card_index = 0;
        j.port = line_type.port;
        j.set_step(1);
        break;
    case 1:
        j.card_count = get_port_card_num(j.port);
        if (j.card_count == 0) {
            j.set_step(4);
        } else if (j.card_index >= j.card_count) {
            j.port = line_type.port;
            j.set_step(5);
        } else {
            j.set_step(2);
        }
        break;
    case 2:
        j.answer_flag = 0;
        Send_to_port(packet, u16(rcv_card_cmd_create(packet, j.port)), j.port, 0);
        ++j.card_index;
        g_progress.step(j.card_index * 100 / (j.card_count + 1));
        stampWait();
        j.set_step(3);
        break;
    case 3:
        awaitAck(kAckTicks, 1);
        break;
    case 4:
        toEnd(90);
        break;
    case 5:
        if (j.card_index != j.card_count) {
            j.set_step(4);
            break;
        }
        j.answer_flag = 0;
        ram_reset_cmd_create(packet, SCAN_PARA{0x01, 0xFF, 0xFF}, j.port);
        Send_to_port(packet, j.frame_len, j.port, 0);
        g_progress.step(j.card_index * 100 / (j.card_count + 1));
        ++j.card_index;
        stampWait();
        j.set_step(6);
        break;
    case 6:
        awaitAck(kAckTicks, 5);
        break;
    case kEndStep:
        endStep();
        break;
    default:
        break;
    }
}

namespace
{
// Jobs 3 and 4: one command to every port with cards, each acknowledged
// or timed out before the next.
void everyPortJob(fpga_manage* m, int (*build)(unsigned char port, unsigned char* packet), bool perCard)
{
    SEND_PARA& j = g_send_para;
    u8 packet[64];
    switch (j.step()) {
    case 0:
        g_progress.begin(true);
        j.port = 0;
        j.set_step(1);
        break;
    case 1:
        if (j.port >= kPorts) {
            j.set_step(4);
            break;
        }
        j.card_count = m->get_port_card_num(j.port);
        if (j.card_count)
            j.set_step(2);
        else
            ++j.port;
        break;
    case 2: {
        j.answer_flag = 0;
        const u8 port = j.port;
        m->Send_to_port(packet, u16(build(port, packet)), port, 0);
        g_progress.step(port * 100 / 17);
        j.port = u8(port + 1);
        stampWait();
        j.set_step(3);
        break;
    }
    case 3:
        awaitAck(kAckTicks + (perCard ? kPerCardTicks * j.card_count : 0), 1);
        break;
    case 4:
        toEnd(95);
        break;
    case kEndStep:
        endStep();
        break;
    default:
        break;
    }
}

int buildSave(unsigned char port, unsigned char* packet)
{
    return fpga_manage::save_para_cmd_create(packet, port);
}

int buildMapping(unsigned char port, unsigned char* packet)
{
    return fpga_manage::mapping_enable_cmd_create(port, packet);
}
} // namespace

void fpga_manage::save_para_deal()
{
    if (!overdueEnd(95) && !fpga_jobs_host_pause(this))
        everyPortJob(this, buildSave, true);
}

void fpga_manage::mapping_enable_deal()
{
    if (!overdueEnd(95) && !fpga_jobs_host_pause(this))
        everyPortJob(this, buildMapping, false);
}
