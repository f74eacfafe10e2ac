// The running-time record: the start time and running minutes of every
// power-on period, kept in the SPI flash behind the FPGA in groups of up to
// 48 hours, so that the PC tool can read how long the screen has run.
//
// Record addresses (flash address = record address + 0x273000): signature
// at 0x480000, group headers (copy 1 at 0x481000, copy 2 at 0x482000, 512
// bytes per group, 8 groups) and a ring of 16-byte entries from 0x483000
// (61 sectors, 15616 entries). Flash bytes are only programmed from 0xFF
// downwards; a header's or entry's first byte 0xAA is written last.
#pragma once

#include <QMutex>

#include "core/global.h"

class fpga_drv;

// The record's state, fields in the order the PC status table knows them.
struct CLOCK_RECORD_STATE {
    u8 minute_pair = 0; // minute counter of the current step pair
    u8 last_code = 0;   // last step byte written
    u8 ring_sector = 0;
    u8 group_index = 0;   // 0 to 7; 8 when all eight are used
    u8 clock_set = 0xFF;  // 0x5A once the clock was set in this period
    u8 group_pending = 0; // 1 while this power-on has no group yet
    u8 initialised = 0;
    u8 start_time[7] = {}; // BCD: year mod 100, century, month, day, hour, minute, second
    u32 step_count = 0;    // steps of the current group, 0 to 1440
    u32 entry_index = 0;   // bits 0-19 index, bits 20-23 wrap count
    u32 header_addr1 = 0;
    u32 header_addr2 = 0;
    u32 entry_addr = 0;
    u32 step_offset = 0;
    u32 minute_stamp = 0; // G_timeTicks of the last minute
    u32 minutes = 0;      // minutes since power-on
    u32 minutes2 = 0;     // second minute counter
    u32 total = 0;        // minutes of all earlier groups
};
extern CLOCK_RECORD_STATE g_clock_record;

namespace ClockRec
{
constexpr u32 kFlashOffset = 0x273000;
constexpr u32 kSectorOffset = kFlashOffset / 4096;
constexpr u32 kSignature = 0x480000;
constexpr u32 kHeader1 = 0x481000;
constexpr u32 kHeader2 = 0x482000;
constexpr u32 kRing = 0x483000;
constexpr u32 kSignatureSector = 1152;
constexpr u32 kHeader1Sector = 1153;
constexpr u32 kHeader2Sector = 1154;
constexpr u32 kRingSector = 1155;
constexpr u32 kHeaderSize = 512;
constexpr u32 kGroups = 8;
constexpr u32 kEntrySize = 16;
constexpr u32 kEntriesPerSector = 256;
constexpr u32 kRingEntries = 15616;
constexpr u32 kStepBytes = 360;
constexpr u32 kStepsPerGroup = 1440;
constexpr u32 kMinutesPerGroup = 2880;
constexpr u32 kMinuteTicks = 6000;
constexpr u32 kFirstGroupMinutes = 30;
// Header offsets.
constexpr u32 kHdrUsed = 0;
constexpr u32 kHdrStart = 1;
constexpr u32 kHdrTotal = 8;
constexpr u32 kHdrEntry = 13;
constexpr u32 kHdrPowerOnStart = 33;
constexpr u32 kHdrClockSet = 44;
constexpr u32 kHdrSteps = 48;
} // namespace ClockRec

class clock_record_run
{
  public:
    // The flash operations of the FPGA's driver (flash 0).
    fpga_drv* drv = nullptr;

    void clock_record_init();
    void clock_record_deal();
    // Marks the current period as clock-set.
    void dealwith_record_timing();
    // A consistent copy of the record state for other threads.
    CLOCK_RECORD_STATE snapshot();

    // Flash access at record addresses; the first argument has no effect.
    // 1 when done, 0 when refused or failed.
    int ExFlash_RD(u8 unused, u32 address, u32 length, u8* out);
    int ExFlash_WR(u8 unused, u32 address, const u8* data, u32 length);
    int ExFlash_Erase_Format(u8 unused, u32 sector, u8 kind, u32 count);

    // Sets the system and hardware clocks from seven BCD fields (year in the
    // century, century, month, day, hour, minute, second) with "date" and
    // "hwclock -wu". 1 when the fields are a valid date and time and the
    // commands succeeded; 0 otherwise (nothing is run for invalid fields).
    static int set_system_clock_bcd(const u8 fields[7]);

    // The clock now as the record stores it.
    static void now_bcd(u8 out[7]);

    // A record folder and its default file. The folder's files (no
    // symbolic links) are counted into file_count, modulo 256.
    void get_file_list_path(QString folder);
    // 0 when the folder exists or was created (its files counted), 1 when
    // it could not be created (dir_flag set).
    int check_file_dir(QString folder);
    // Writes the default file (0xA4000 bytes of 0xFF) when neither it nor
    // any file of the folder exists: 0 when written, else 1 (file_flag set
    // when the file could not be made).
    int issetDefaultpara(QString path);
    u8 dir_flag = 0;   // 1 when creating the folder failed
    u8 file_flag = 0;  // 1 when making the default file failed
    u8 file_count = 0; // files of the folder, modulo 256
    static constexpr u32 kDefaultFileSize = 0xA4000;

  private:
    // Number of used groups; -1 when a header could not be read.
    int check_record_sec();
    void read_failed();
    bool read_failed_ = false;
    void copy_sector(u32 from, u32 to);
    void next_entry();
    void new_record_group_init(u32 group);
    void open_group_entry();
    u32 header1(u32 g) const { return ClockRec::kHeader1 + ClockRec::kHeaderSize * g; }
    u32 header2(u32 g) const { return ClockRec::kHeader2 + ClockRec::kHeaderSize * g; }
    void write_both(u32 group, u32 offset, const u8* data, u32 length);

    QMutex lock_;
};
