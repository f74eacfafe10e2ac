#include "board/sim/nor_flash.h"

#include <vector>

namespace board::sim
{

uint8_t NorFlash::readStatus()
{
    const uint8_t status = uint8_t((busy() ? kStatusBusy : 0) | (wel_ ? kStatusWel : 0));
    if (busy_)
        --busy_;
    return status;
}

void NorFlash::startBusy()
{
    wel_ = false;
    busy_ = busyReads_;
}

bool NorFlash::program(uint32_t address, const uint8_t* data, uint32_t length)
{
    if (!wel_)
        return false;
    if (length > kPageSize) {
        data += length - kPageSize;
        length = kPageSize;
    }
    if (length) {
        const uint32_t page = address & ~(kPageSize - 1) & (size_ - 1);
        uint8_t bytes[kPageSize];
        storage_.read(page, bytes, kPageSize);
        // Past the page end the address wraps to the page start.
        for (uint32_t i = 0; i < length; ++i)
            bytes[(address + i) & (kPageSize - 1)] &= data[i];
        storage_.write(page, bytes, kPageSize);
    }
    startBusy();
    return true;
}

bool NorFlash::erase(uint32_t address, uint32_t unit)
{
    if (!wel_)
        return false;
    const uint32_t start = address & ~(unit - 1) & (size_ - 1);
    const std::vector<uint8_t> erased(unit, 0xFF);
    storage_.write(start, erased.data(), unit);
    startBusy();
    return true;
}

} // namespace board::sim
