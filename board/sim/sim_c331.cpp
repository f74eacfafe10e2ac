#include "board/sim/sim_c331.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "board/c331_regs.h"

namespace board::sim
{

using namespace C331Reg;

namespace
{
SimC331* g_current = nullptr;

// The file keeps each flash byte inverted, so a sparse file of zeros is an
// erased flash and a fresh 32 MiB flash costs no disk space.
void invert(uint8_t* p, uint32_t len)
{
    for (uint32_t i = 0; i < len; ++i)
        p[i] = uint8_t(~p[i]);
}

void fontHeader(uint8_t* h, int font)
{
    std::memset(h, 0, 35);
    h[0] = 'P';
    h[5] = (font == 0 || font == 2) ? 1 : 0; // en_coding: 1 English, 0 Chinese
    h[18] = font < 2 ? 0x20 : 0x40;          // glyph width in pixels
}
} // namespace

constexpr uint32_t SimC331::kFontAddr[4];

SimC331::SimC331(const std::string& flashPath)
{
    QDir().mkpath(QFileInfo(QString::fromStdString(flashPath)).absolutePath());
    bool fresh = ::access(flashPath.c_str(), F_OK) != 0;
    fd_ = ::open(flashPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0 && fresh && ::ftruncate(fd_, kFlashSize) == 0)
        setFonts(0xF);
    regs_[kSysBank][addrOf(kChipId)] = kChipIdValue;
    regs_[kSysBank][addrOf(kChipRev)] = 0x02;
    g_current = this;
}

SimC331::~SimC331()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (g_current == this)
        g_current = nullptr;
}

SimC331* SimC331::current()
{
    return g_current;
}

int SimC331::transfer(const SpiXfer* xfers, unsigned n)
{
    std::vector<uint8_t> tx;
    for (unsigned i = 0; i < n; ++i)
        for (uint32_t k = 0; k < xfers[i].len; ++k)
            tx.push_back(xfers[i].tx ? xfers[i].tx[k] : 0xFF);
    if (tx.size() < 2)
        return -1;
    std::vector<uint8_t> rx(tx.size(), 0xFF);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        uint8_t addr = tx[0] & 0x7F;
        if (tx[0] & 0x80) {
            for (size_t k = 1; k < tx.size(); ++k)
                writeReg(addr, tx[k]);
        } else {
            for (size_t k = 1; k < tx.size(); ++k)
                rx[k] = readReg(addr);
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

void SimC331::writeReg(uint8_t addr, uint8_t value)
{
    ++writes_;
    if (addr == 0) {
        bank_ = value;
        return;
    }
    if (bank_ == kFlashBank) {
        if (addr == addrOf(kFlashData)) {
            txFifo_.push_back(value);
            return;
        }
        if (addr == addrOf(kFlashFifoReset)) {
            txFifo_.clear();
            rxFifo_.clear();
            rxPos_ = 0;
            return;
        }
        if (addr == addrOf(kFlashStatus))
            return;
        regs_[bank_][addr] = value;
        if (addr == addrOf(kFlashCmd))
            flashCommand(value);
        return;
    }
    if (bank_ == kSysBank && (addr == addrOf(kChipId) || addr == addrOf(kChipRev)))
        return;
    regs_[bank_][addr] = value;
    if (bank_ == kSysBank && addr == addrOf(kSoftReset) && value)
        regs_[kSysBank][addrOf(kInitDone)] = 1;
}

uint8_t SimC331::readReg(uint8_t addr)
{
    if (addr == 0)
        return bank_;
    if (bank_ == kFlashBank) {
        if (addr == addrOf(kFlashData))
            return rxPos_ < rxFifo_.size() ? rxFifo_[rxPos_++] : 0xFF;
        if (addr == addrOf(kFlashStatus))
            return flash_.readStatus();
    }
    if (bank_ == kSysBank && addr == addrOf(kChipId) && wrongId_)
        return 0xFF;
    return regs_[bank_][addr];
}

void SimC331::flashCommand(uint8_t cmd)
{
    if (flash_.busy())
        return; // a busy flash ignores commands
    const auto& r = regs_[kFlashBank];
    uint32_t addr = uint32_t(r[addrOf(kFlashAddr0)]) | uint32_t(r[addrOf(kFlashAddr1)]) << 8 |
                    uint32_t(r[addrOf(kFlashAddr2)]) << 16;
    addr &= kFlashSize - 1;
    uint32_t len = r[addrOf(kFlashLen)] ? r[addrOf(kFlashLen)] : 256;
    switch (cmd) {
    case kCmdWriteEnable:
        flash_.setWriteEnable(true);
        break;
    case kCmdRead:
        rxFifo_.assign(len, 0xFF);
        rxPos_ = 0;
        if (addr + len <= kFlashSize)
            read(addr, rxFifo_.data(), len);
        break;
    case kCmdErase4K:
    case kCmdErase32K:
    case kCmdErase64K:
        flash_.erase(addr, cmd == kCmdErase4K ? 0x1000 : cmd == kCmdErase32K ? 0x8000 : 0x10000);
        break;
    case kCmdPageProgram:
        // The controller sends at most the length register's count of the
        // queued bytes; they stay queued when the flash refuses them.
        if (flash_.program(addr, txFifo_.data(), uint32_t(std::min<size_t>(txFifo_.size(), len))))
            txFifo_.clear();
        break;
    default:
        break;
    }
}

void SimC331::read(uint32_t addr, uint8_t* out, uint32_t len)
{
    if (fd_ < 0 || ::pread(fd_, out, len, addr) != long(len)) {
        std::memset(out, 0xFF, len);
        return;
    }
    invert(out, len);
}

void SimC331::write(uint32_t addr, const uint8_t* data, uint32_t len)
{
    std::vector<uint8_t> buf(data, data + len);
    invert(buf.data(), len);
    if (fd_ >= 0)
        (void)!::pwrite(fd_, buf.data(), len, addr);
}

uint8_t SimC331::reg(uint8_t bank, uint8_t addr)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return regs_[bank][addr & 0x7F];
}

unsigned SimC331::writeCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

std::vector<uint8_t> SimC331::flashRead(uint32_t addr, uint32_t len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> out(len, 0xFF);
    if (uint64_t(addr) + len <= kFlashSize)
        read(addr, out.data(), len);
    return out;
}

void SimC331::setFonts(unsigned mask)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (int f = 0; f < 4; ++f) {
        uint8_t h[35];
        if (mask & (1u << f))
            fontHeader(h, f);
        else
            std::memset(h, 0xFF, sizeof h);
        write(kFontAddr[f], h, sizeof h);
    }
}

void SimC331::setFlashStuck(bool stuck)
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.setStuck(stuck);
}

void SimC331::setWrongId(bool wrong)
{
    std::lock_guard<std::mutex> lock(mutex_);
    wrongId_ = wrong;
}

void SimC331::setBusyReads(int reads)
{
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.setBusyReads(reads < 1 ? 1u : unsigned(reads));
}

} // namespace board::sim
