// The input-source manager.
#pragma once

#include <atomic>

#include "core/global.h"

class tarvosource {
public:
    static tarvosource* p_tarvo_source;

    // 2 once the inputs are brought up; the FPGA worker waits for it.
    std::atomic<u8> source_state{0};
};

// EDID blocks served from RAM, one per source, and which sources use them.
extern u8 edid_ram_table[1536];
extern u8 edid_ram_table_from[6];
