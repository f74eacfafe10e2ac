// The command page's records in the FPGA's flash, stored as the PC stores them.
#pragma once

#include <vector>

#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"

constexpr u32 kBriRecord = FpgaRam::kBrightnessSector * 4096;
constexpr u32 kOnOffRecord = FpgaRam::kOnOffSector * 4096;

// Erases the record's sector and writes the record; false when refused.
inline bool storeFpgaRecord(fpga_manage* m, u32 address, const std::vector<u8>& record)
{
    std::vector<u8> b(4); // the write's data start at byte 4
    b.insert(b.end(), record.begin(), record.end());
    return m->p_drv->FPGA_SPI_FLASH_VBYONE_ERASE(FpgaFlash::kFlash0, address / 4096, 0, 1) &&
           m->p_drv->FPGA_SPI_FLASH_VBYONE_WRITE(FpgaFlash::kFlash0, address, b.data(), u32(record.size()));
}

// A brightness record: its mode, then 48 bytes of value.
inline std::vector<u8> briRecord(u8 mode, u8 value)
{
    std::vector<u8> r = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, mode};
    r.resize(57, value);
    return r;
}
