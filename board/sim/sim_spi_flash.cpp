#include "board/sim/sim_spi_flash.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace board::sim
{

namespace
{
// Operations are recorded for the tests; the record is bounded so a long
// run of the program does not grow it without end.
constexpr size_t kMaxOps = 100000;
constexpr uint8_t kJedecId[3] = {0xEF, 0x40, 0x17};
} // namespace

SimSpiFlash::SimSpiFlash(std::string file, uint32_t csFlashPad, uint32_t csFpgaPad)
    : file_(std::move(file)), csFlashPad_(csFlashPad), csFpgaPad_(csFpgaPad), mem_(kSize, 0xFF)
{
}

bool SimSpiFlash::open()
{
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return false;
    struct stat st;
    if (::fstat(fd_, &st) == 0 && st.st_size == off_t(kSize) && ::pread(fd_, mem_.data(), kSize, 0) == long(kSize))
        return true;
    std::fill(mem_.begin(), mem_.end(), 0xFF);
    return ::pwrite(fd_, mem_.data(), kSize, 0) == long(kSize);
}

void SimSpiFlash::onPad(uint32_t offset, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (offset == csFlashPad_)
        csFlashLow_ = value == 0;
    else if (offset == csFpgaPad_)
        csFpgaLow_ = value == 0;
}

void SimSpiFlash::read(uint32_t address, uint8_t* out, uint32_t length)
{
    std::memcpy(out, mem_.data() + address, length);
}

void SimSpiFlash::write(uint32_t address, const uint8_t* data, uint32_t length)
{
    std::memcpy(mem_.data() + address, data, length);
    if (fd_ >= 0)
        (void)!::pwrite(fd_, mem_.data() + address, length, address);
}

int SimSpiFlash::transfer(const SpiXfer* xfers, unsigned n)
{
    std::vector<uint8_t> tx;
    for (unsigned i = 0; i < n; ++i)
        for (uint32_t k = 0; k < xfers[i].len; ++k)
            tx.push_back(xfers[i].tx ? xfers[i].tx[k] : 0xFF);
    std::vector<uint8_t> rx(tx.size(), 0xFF);

    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (csFlashLow_ && csFpgaLow_ && !tx.empty()) {
            const uint8_t cmd = tx[0];
            const uint32_t address = tx.size() >= 4 ? (uint32_t(tx[1]) << 16 | uint32_t(tx[2]) << 8 | tx[3]) : 0;
            const uint32_t dataLen = tx.size() > 4 ? uint32_t(tx.size() - 4) : 0;
            if (ops_.size() < kMaxOps)
                ops_.push_back({cmd, address, dataLen});
            if (cmd == 0x05) {
                const uint8_t status = flash_.readStatus();
                for (size_t i = 1; i < rx.size(); ++i)
                    rx[i] = status;
            } else if (!flash_.busy()) {
                switch (cmd) {
                case 0x06:
                    flash_.setWriteEnable(true);
                    break;
                case 0x04:
                    flash_.setWriteEnable(false);
                    break;
                case 0x03:
                case 0x0B: {
                    const size_t skip = cmd == 0x0B ? 5 : 4;
                    for (size_t i = skip; i < rx.size(); ++i)
                        rx[i] = mem_[(address + (i - skip)) & (kSize - 1)];
                    break;
                }
                case 0x02:
                    flash_.program(address, tx.data() + std::min<size_t>(4, tx.size()), dataLen);
                    break;
                case 0x20:
                case 0x52:
                case 0xD8:
                    if (tx.size() >= 4)
                        flash_.erase(address, cmd == 0x20 ? 0x1000 : cmd == 0x52 ? 0x8000 : 0x10000);
                    break;
                case 0xC7:
                case 0x60:
                    flash_.erase(0, kSize);
                    break;
                case 0x4B:
                    for (size_t i = 5; i < rx.size() && i < 13; ++i)
                        rx[i] = kUid[i - 5];
                    break;
                case 0x9F:
                    for (size_t i = 1; i < rx.size() && i < 4; ++i)
                        rx[i] = kJedecId[i - 1];
                    break;
                default:
                    break;
                }
            }
        }
    }

    size_t pos = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (xfers[i].rx)
            std::memcpy(xfers[i].rx, rx.data() + pos, xfers[i].len);
        pos += xfers[i].len;
    }
    return int(tx.size());
}

std::vector<SimSpiFlash::Op> SimSpiFlash::ops() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ops_;
}

void SimSpiFlash::clearOps()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ops_.clear();
}

std::vector<uint8_t> SimSpiFlash::peek(uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (uint64_t(address) + length > kSize)
        return {};
    return std::vector<uint8_t>(mem_.begin() + address, mem_.begin() + address + length);
}

void SimSpiFlash::setBusyReads(unsigned reads)
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.setBusyReads(reads);
}

void SimSpiFlash::setStuckBusy(bool stuck)
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.setStuck(stuck);
}

} // namespace board::sim
