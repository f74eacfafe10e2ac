// Pieces the FPGA worker's card jobs share.
#pragma once

#include <functional>

#include "ledout/fpga_jobs.h"

class fpga_manage;

// Longest a card job may run (10 minutes, far above any real job): counted
// on the tick counter from the worker's first pass over it, host pauses
// and every packet's send and answer included, whatever its file says.
constexpr u32 kJobBoundTicks = 60000;
// Whether the running job has run past kJobBoundTicks; the first call of a
// job starts its count. A job past it ends as one whose cards never answer.
bool fpga_jobs_overdue();
// While host traffic is active a job does not step. Once the hold ends (0.8
// s after the host's last frame) the running wait is moved on by the time
// the job was held: it is extended, never restarted, so polls that come
// more often than a wait is long do not keep it from ending. True while
// paused.
bool fpga_jobs_host_pause(fpga_manage* m);
// In a waiting step: once a second the bar moves on (1 to 99, round).
void fpga_jobs_pulse(fpga_jobs::Progress& progress);

// The multifunction card on the output ports.
namespace vmf
{
constexpr u8 kCode = 0xBB;
constexpr u8 kGroupReadRam = 0x61;
constexpr u8 kGroupWriteReg = 0xA0;
constexpr u8 kRegErrors = 85; // shadow register: answers with a wrong BCC
constexpr u8 kRegPower = 67;  // shadow register: the card's power state
// The first port whose status byte is set (the card's port), -1 when none.
int port();
// The card's address on a port.
u16 address(unsigned port);
// A register or RAM request to the card: its address, the controller, code
// 0xBB, routing 3, group and data, BCC; returns the length.
int packet(u8* b, u16 address, u8 group, const u8* data, unsigned n);
// Runs the interrupt service (under the service lock) and check() until the
// answer state is set, for at most the card's answer time.
void wait(fpga_manage* m, unsigned char fpga, const std::function<void()>& check);
} // namespace vmf
