// Pieces the FPGA worker's card jobs share.
#pragma once

#include "ledout/fpga_jobs.h"

class fpga_manage;

// While host traffic is active a job does not step; its waits restart, so
// the host's activity never counts toward a time-out. True while paused.
bool fpga_jobs_host_pause(fpga_manage* m);
// In a waiting step: once a second the bar moves on (1 to 99, round).
void fpga_jobs_pulse(fpga_jobs::Progress& progress);
