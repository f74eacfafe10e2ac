#include "board/sim/sim_fpga.h"

#include <cstring>
#include <memory>

#include "board/sim/sim_spi_flash.h"

namespace board::sim
{

namespace
{
// Pads of the FPGA (see the FPGA driver).
constexpr uint32_t kCsFpga0 = 0x207810;
constexpr uint32_t kCmdFpga0 = 0x207838;
constexpr uint32_t kCsFlash0 = 0x207860;
constexpr uint32_t kRstFpga0 = 0x207858;
constexpr uint32_t kIrqFpga0 = 0x207908;

// Register command word: bit 0 read, bits 1-4 type (1 RAM, 2 register).
constexpr uint8_t kTypeRam = 1;
constexpr uint8_t kTypeReg = 2;

// Version bytes the FPGA reports.
struct VersionReg {
    uint8_t reg, value;
};
constexpr VersionReg kVersion[] = {{7, 0x21}, {21, 0x5A}, {28, 0x01}, {29, 0x20}, {30, 0x11}};

// Output port pairs: TX page, length register, high-bits register and shift.
struct TxPair {
    uint8_t page, lenReg, hiReg, hiShift, selReg, startReg, startBit;
};
constexpr TxPair kTx[8] = {
    {3, 26, 27, 0, 132, 130, 4},    {5, 134, 27, 2, 132, 130, 5},   {7, 136, 27, 4, 132, 130, 6},
    {9, 138, 27, 6, 132, 130, 7},   {11, 154, 158, 0, 148, 146, 4}, {13, 155, 158, 2, 148, 146, 5},
    {15, 156, 158, 4, 148, 146, 6}, {17, 157, 158, 6, 148, 146, 7},
};
// Receive slots: RX page, length register, high-bits register and shift,
// data-ready register and bit, acknowledge register and bit.
struct RxSlot {
    uint8_t page, lenReg, hiReg, hiShift, readyReg, readyBit, ackReg, ackBit;
};
constexpr RxSlot kRx[8] = {
    {2, 24, 25, 0, 129, 0, 130, 0},    {4, 133, 25, 2, 129, 2, 130, 1},   {6, 135, 25, 4, 129, 4, 130, 2},
    {8, 137, 25, 6, 129, 6, 130, 3},   {10, 149, 153, 0, 145, 0, 146, 0}, {12, 150, 153, 2, 145, 2, 146, 1},
    {14, 151, 153, 4, 145, 4, 146, 2}, {16, 152, 153, 6, 145, 6, 146, 3},
};
constexpr uint32_t kMaxPacket = 1024;
constexpr size_t kMaxAccesses = 100000;

std::unique_ptr<SimFpga> g_fpga;
// The attached FPGA while it lives: the cards ask for it in their
// destructor, which may run after the FPGA's at exit.
SimFpga* g_live = nullptr;
std::unique_ptr<SimSpiFlash> g_flash;
} // namespace

SimFpga::SimFpga(Pads& pads) : pads_(pads), ram_(size_t(kPages) * kPageBytes, 0)
{
    powerOnLocked();
}

SimFpga::~SimFpga()
{
    if (g_live == this)
        g_live = nullptr;
}

void SimFpga::powerOnLocked()
{
    std::memset(regs_, 0, sizeof regs_);
    std::fill(ram_.begin(), ram_.end(), 0);
    for (auto& q : waiting_)
        q.clear();
    cmd_.clear();
    dataPos_ = 0;
    irq_ = false;
}

void SimFpga::powerOn()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        powerOnLocked();
    }
    driveIrq();
}

bool SimFpga::locked() const
{
    return !vboFault_ && (regs_[3] & 0x80);
}

uint8_t SimFpga::readReg(uint8_t r) const
{
    for (const auto& v : kVersion)
        if (v.reg == r)
            return v.value;
    switch (r) {
    case 22: {
        uint8_t v = regs_[22] & 0x67;
        if (vboFault_ && (regs_[3] & 0x40))
            v |= 0x08;
        if (locked())
            v |= 0x10;
        if (locked() && (regs_[23] & 0x01) && !outputFault_)
            v |= 0x80;
        return v;
    }
    case 31:
        return inputLost_ ? 0 : inputCheck_;
    case 40:
        return locked() ? 0x1C : 0x00;
    case 128:
        return uint8_t(links_);
    case 144:
        return uint8_t(links_ >> 8);
    default:
        return regs_[r];
    }
}

void SimFpga::writeReg(uint8_t r, uint8_t mask, uint8_t value, std::vector<std::pair<int, std::vector<uint8_t>>>* sent)
{
    regs_[r] = uint8_t((regs_[r] & ~mask) | (value & mask));
    const uint8_t set = value & mask;
    if (r == 130 || r == 146) {
        // Acknowledges free a receive slot; start bits send a pair's packet.
        for (unsigned s = 0; s < kRxSlots; ++s)
            if (kRx[s].ackReg == r && (set & (1u << kRx[s].ackBit))) {
                regs_[kRx[s].readyReg] &= uint8_t(~(1u << kRx[s].readyBit));
                if (!waiting_[s].empty()) {
                    std::vector<uint8_t> next = std::move(waiting_[s].front());
                    waiting_[s].pop_front();
                    deliverLocked(s, next);
                }
            }
        for (unsigned k = 0; k < 8; ++k) {
            const TxPair& t = kTx[k];
            if (t.startReg != r || !(set & (1u << t.startBit)))
                continue;
            const uint32_t len = (regs_[t.lenReg] | (((regs_[t.hiReg] >> t.hiShift) & 3u) << 8)) + 1;
            const uint8_t sel = regs_[t.selReg];
            const unsigned even = (2 * k) % 8;
            const int port = int(2 * k + ((sel & (1u << even)) ? 0 : (sel & (1u << (even + 1))) ? 1 : 0));
            const uint8_t* page = &ram_[size_t(t.page) * kPageBytes];
            sent->push_back({port, std::vector<uint8_t>(page, page + len)});
        }
        regs_[r] = 0;
    }
    syncIrqLocked();
}

void SimFpga::syncIrqLocked()
{
    irq_ = (regs_[22] & 0x20) != 0;
}

void SimFpga::driveIrq()
{
    bool level;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (irq_ == irqDriven_)
            return;
        level = irqDriven_ = irq_;
    }
    pads_.write16(kIrqFpga0, level ? 1 : 0);
}

int SimFpga::transfer(const SpiXfer* xfers, unsigned n)
{
    std::vector<std::pair<int, std::vector<uint8_t>>> sent;
    std::shared_ptr<const TransmitHook> hook;
    int moved = 0;
    poll();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool recording = recording_ && accesses_.size() < kMaxAccesses;
        for (unsigned i = 0; i < n; ++i) {
            const SpiXfer& x = xfers[i];
            Access acc{};
            bool record = false;
            for (uint32_t k = 0; k < x.len; ++k) {
                const uint8_t in = x.tx ? x.tx[k] : 0xFF;
                uint8_t out = 0xFF;
                if (rstLow_ || !csLow_) {
                    // Held in reset or not selected: nobody drives the line.
                } else if (cmdHigh_) {
                    if (cmd_.size() >= 4)
                        cmd_.clear();
                    cmd_.push_back(in);
                    dataPos_ = 0;
                } else if (cmd_.size() == 4) {
                    const bool read = cmd_[0] & 0x01;
                    const uint8_t type = (cmd_[0] >> 1) & 0x0F;
                    record = true;
                    acc.read = read;
                    if (type == kTypeReg) {
                        const uint8_t r = cmd_[2];
                        acc.ram = false;
                        acc.address = r;
                        acc.mask = cmd_[3];
                        if (dataPos_ == 0) {
                            if (read)
                                out = readReg(r);
                            else
                                writeReg(r, cmd_[3], in, &sent);
                            if (recording)
                                acc.data.push_back(read ? out : in);
                        }
                    } else if (type == kTypeRam) {
                        const uint8_t page = cmd_[1];
                        const uint32_t address = ((cmd_[2] | (uint32_t(cmd_[3] & 0x0F) << 8)) + dataPos_) % kPageBytes;
                        uint8_t& cell = ram_[size_t(page) * kPageBytes + address];
                        acc.ram = true;
                        acc.page = page;
                        if (dataPos_ == 0)
                            acc.address = uint16_t(address);
                        if (read) {
                            out = cell;
                            if (page == 1 && address >= 116 && address < 124) {
                                const uint8_t m[8] = {uint8_t(measuredW_),
                                                      uint8_t(measuredW_ >> 8),
                                                      uint8_t(measuredH_),
                                                      uint8_t(measuredH_ >> 8),
                                                      uint8_t(measuredPeriod_),
                                                      uint8_t(measuredPeriod_ >> 8),
                                                      uint8_t(measuredPeriod_ >> 16),
                                                      uint8_t(measuredPeriod_ >> 24)};
                                out = m[address - 116];
                            }
                        } else {
                            cell = (ramFault_ && page == 1 && address == 296) ? uint8_t(in ^ 0x01) : in;
                        }
                        if (recording)
                            acc.data.push_back(read ? out : in);
                    }
                    ++dataPos_;
                }
                if (x.rx)
                    x.rx[k] = out;
            }
            if (record && recording && accesses_.size() < kMaxAccesses) {
                if (!acc.ram && acc.data.empty())
                    record = false;
                if (record)
                    accesses_.push_back(std::move(acc));
            }
            moved += int(x.len);
        }
        hook = hook_;
    }
    driveIrq();
    if (hook)
        for (auto& s : sent)
            (*hook)(s.first, s.second);
    return moved;
}

void SimFpga::onPad(uint32_t offset, uint16_t value)
{
    const bool low = value == 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (offset == kCsFpga0) {
            csLow_ = low;
            if (!low) {
                cmd_.clear();
                dataPos_ = 0;
            }
        } else if (offset == kCmdFpga0) {
            cmdHigh_ = !low;
            if (cmdHigh_)
                cmd_.clear();
        } else if (offset == kRstFpga0) {
            if (low && !rstLow_) {
                ++resets_;
                powerOnLocked();
            }
            rstLow_ = low;
        } else {
            return;
        }
    }
    driveIrq();
}

bool SimFpga::placeAnswer(unsigned slot, const uint8_t* data, size_t length)
{
    if (slot >= kRxSlots || !data || length == 0 || length > kMaxPacket)
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<uint8_t> answer(data, data + length);
        if (regs_[kRx[slot].readyReg] & (1u << kRx[slot].readyBit))
            waiting_[slot].push_back(std::move(answer));
        else
            deliverLocked(slot, answer);
    }
    driveIrq();
    return true;
}

void SimFpga::deliverLocked(unsigned slot, const std::vector<uint8_t>& answer)
{
    const RxSlot& s = kRx[slot];
    std::memcpy(&ram_[size_t(s.page) * kPageBytes], answer.data(), answer.size());
    const uint32_t len = uint32_t(answer.size() - 1);
    regs_[s.lenReg] = uint8_t(len);
    regs_[s.hiReg] = uint8_t((regs_[s.hiReg] & ~(3u << s.hiShift)) | (((len >> 8) & 3u) << s.hiShift));
    regs_[s.readyReg] |= uint8_t(1u << s.readyBit);
    regs_[22] |= 0x20;
    syncIrqLocked();
}

void SimFpga::setVboNeverLocks(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    vboFault_ = on;
}

void SimFpga::setRamCheckCorrupts(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ramFault_ = on;
}

void SimFpga::setOutputCheckNeverPasses(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    outputFault_ = on;
}

void SimFpga::setInputCheck(uint8_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    inputCheck_ = value;
}

void SimFpga::setInputLost(bool lost)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (inputLost_ == lost)
            return;
        inputLost_ = lost;
        regs_[22] |= 0x60;
        syncIrqLocked();
    }
    driveIrq();
}

void SimFpga::setMeasuredInput(uint16_t width, uint16_t height, uint32_t period)
{
    std::lock_guard<std::mutex> lock(mutex_);
    measuredW_ = width;
    measuredH_ = height;
    measuredPeriod_ = period;
}

void SimFpga::setLinks(uint16_t bits)
{
    std::lock_guard<std::mutex> lock(mutex_);
    links_ = bits;
}

uint8_t SimFpga::reg(uint8_t r) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return readReg(r);
}

std::vector<uint8_t> SimFpga::ram(uint8_t page, uint16_t address, uint16_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (uint32_t(address) + length > kPageBytes)
        return {};
    const auto first = ram_.begin() + long(size_t(page) * kPageBytes + address);
    return std::vector<uint8_t>(first, first + length);
}

bool SimFpga::inReset() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return rstLow_;
}

unsigned SimFpga::resets() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return resets_;
}

void SimFpga::setRecording(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = on;
}

std::vector<SimFpga::Access> SimFpga::accesses() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return accesses_;
}

void SimFpga::clearAccesses()
{
    std::lock_guard<std::mutex> lock(mutex_);
    accesses_.clear();
}

void SimFpga::setTransmitHook(TransmitHook hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = hook ? std::make_shared<const TransmitHook>(std::move(hook)) : nullptr;
}

void SimFpga::poll()
{
    std::shared_ptr<const std::function<void()>> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = poll_;
    }
    if (hook)
        (*hook)();
}

void SimFpga::setPollHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    poll_ = hook ? std::make_shared<const std::function<void()>>(std::move(hook)) : nullptr;
}

void attachFpga(SimBoard& board)
{
    g_fpga = std::make_unique<SimFpga>(board.pads());
    g_live = g_fpga.get();
    g_flash = std::make_unique<SimSpiFlash>(board.modelDir() + "/fpga_flash.bin", kCsFlash0, kCsFpga0);
    g_flash->open();
    SimFpga* fpga = g_fpga.get();
    SimSpiFlash* flash = g_flash.get();
    board.simPads().listen([fpga, flash](uint32_t offset, uint16_t value) {
        fpga->onPad(offset, value);
        flash->onPad(offset, value);
    });
    board.simPads().listenReads([fpga](uint32_t offset) {
        if (offset == kIrqFpga0 && simFpga() == fpga)
            fpga->poll();
    });
    board.simSpi().attach("/dev/spidev32766.1", fpga);
    board.simSpi().attach("/dev/spidev32766.3", flash);
}

SimFpga* simFpga()
{
    return g_live;
}

SimSpiFlash* simFpgaFlash()
{
    return g_flash.get();
}

} // namespace board::sim
