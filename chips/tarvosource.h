// The input-source manager: brings the six inputs up, serves their EDIDs,
// drives hot-plug, and copies each input's timing into the parameter image
// from its source-check thread.
#pragma once

#include <atomic>

#include "core/global.h"

class tarvosource
{
  public:
    static tarvosource* p_tarvo_source;
    static tarvosource* pInstance();

    // 2 once the inputs are brought up; the FPGA worker waits for it.
    std::atomic<u8> source_state{0};
    // Set to 1 by register 17 bit 0: serve every input's EDID again.
    std::atomic<u8> reg_update11{0};

    // Opens the I2C bus and starts checksourceThread; 0 done, 255 when the
    // bus cannot be opened.
    int initialize();
    // Serves the EDIDs, raises hot-plug, finds the transmitters; state 2.
    void bring_up();
    // One turn of the source-check thread: requests, EDIDs, input timings.
    void checksource_step();
    // Acts on the request word (register-shadow index 0) and register 17's
    // request byte, and clears them.
    void sourcecheck();

    // Asks the source-check thread to serve the source's EDID again.
    void request_edid(int source);
    // Writes the source's EDID (the RAM table's block when its flag is set,
    // else the built-in one for the image's EDID setting) to its EEPROM
    // behind a low hot-plug. Nothing is written when the EEPROM already
    // holds it. 1 done, 0 failed.
    int serve_edid(int source);
    // Hot-plug line of a source: 1 done.
    int set_hpd(int source, bool high);

    // Hot-plug low time around an EDID change.
    std::atomic<u32> hpd_low_ms{100};
    static constexpr unsigned kIdleSleepUs = 50000;

    // Chips on the I2C bus: the I/O expander that drives hot-plug (output
    // port 0, bit n for source n) and the EDID EEPROMs (one per switch
    // channel, 8-byte pages).
    static constexpr u8 kExpanderAddr = 0x20;
    static constexpr u8 kExpanderOutput = 0x02;
    static constexpr u8 kExpanderConfig = 0x06;
    static constexpr u8 kEepromAddr = 0x50;
    static constexpr int kEepromPage = 8;

  private:
    static void checksourceThread(tarvosource* self);
    void copy_timings();
    int write_eeprom(int source, const u8* edid);
    // The source's EEPROM content (256 bytes); false when it cannot be read.
    bool read_eeprom(int source, u8* out);

    std::atomic<u8> edid_requests_{0};
    u8 served_[6][256] = {};
    bool served_valid_[6] = {};
    u8 hpd_bits_ = 0;
    bool copied_ = false;
};

// EDID blocks served from RAM, one per source, and which sources use them;
// under the apply mutex.
extern u8 edid_ram_table[1536];
extern u8 edid_ram_table_from[6];
