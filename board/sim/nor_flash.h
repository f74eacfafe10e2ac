// The rules a serial NOR flash keeps, shared by the simulated flashes: write
// enable before program and erase (which clear it), busy for some status
// reads afterwards and deaf to commands meanwhile, erase to 0xFF, programming
// only clears bits and wraps inside its page. The models keep the bytes
// where they like through Storage, and serialise the calls.
#pragma once

#include <cstdint>

namespace board::sim
{

class NorFlash
{
  public:
    class Storage
    {
      public:
        virtual ~Storage() = default;
        virtual void read(uint32_t address, uint8_t* out, uint32_t length) = 0;
        virtual void write(uint32_t address, const uint8_t* data, uint32_t length) = 0;
    };

    static constexpr uint32_t kPageSize = 256;
    static constexpr uint8_t kStatusBusy = 0x01, kStatusWel = 0x02;

    // size is a power of two; addresses wrap at it.
    NorFlash(uint32_t size, Storage& storage) : size_(size), storage_(storage) {}

    bool busy() const { return busy_ > 0 || stuck_; }
    // The status register as a status read returns it; each read brings the
    // end of a program or erase one step nearer.
    uint8_t readStatus();
    void setWriteEnable(bool on) { wel_ = on; }
    // A page program keeps the last page of data sent; false, doing nothing,
    // without write enable.
    bool program(uint32_t address, const uint8_t* data, uint32_t length);
    // Erases the unit (a power of two, the whole flash at most) holding
    // address; false, doing nothing, without write enable.
    bool erase(uint32_t address, uint32_t unit);

    void setBusyReads(unsigned reads) { busyReads_ = reads; }
    // Fault: the flash stays busy until released.
    void setStuck(bool stuck) { stuck_ = stuck; }

  private:
    void startBusy();

    const uint32_t size_;
    Storage& storage_;
    bool wel_ = false;
    bool stuck_ = false;
    unsigned busy_ = 0;
    unsigned busyReads_ = 2;
};

} // namespace board::sim
