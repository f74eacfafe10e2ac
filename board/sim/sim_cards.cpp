#include "board/sim/sim_cards.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "board/sim/sim_fpga.h"

namespace board::sim
{

namespace
{
const char kDefaultFile[] = "# Receiving cards of the simulated board, read again when this file changes.\n"
                            "# One line per output port 1 to 16 (a port without a line has no link):\n"
                            "#   port <n> cards <count> [config <id>] [status <byte>] [check <card, 255 none>]\n"
                            "#   multifunction <port> [light <0-255>]\n"
                            "port 1 cards 8 config 0x00000001\n"
                            "port 2 cards 8 config 0x00000001\n"
                            "multifunction 1 light 128\n";

constexpr uint16_t kController = 0xF000;
constexpr uint16_t kAll = 0x0FFF;
constexpr uint16_t kFirst = 0x0FFE;
constexpr uint16_t kVmfBit = 0x4000;
constexpr size_t kMaxAnswer = 1024;
constexpr size_t kHeader = 10;
constexpr size_t kShort = 8;
constexpr size_t kLogLimit = 4096;

uint8_t bcc(const uint8_t* p, size_t n)
{
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i)
        x ^= p[i];
    return x;
}

uint32_t le32(const std::vector<uint8_t>& q, size_t at)
{
    return uint32_t(q[at]) | uint32_t(q[at + 1]) << 8 | uint32_t(q[at + 2]) << 16 | uint32_t(q[at + 3]) << 24;
}

// The answer to request q from address src: q's header with the addresses
// swapped, the status, the data and the BCC.
std::vector<uint8_t> reply(const std::vector<uint8_t>& q, uint16_t src, uint8_t status, const uint8_t* data, size_t n)
{
    std::vector<uint8_t> r(q.begin(), q.begin() + kHeader);
    r[0] = q[2];
    r[1] = q[3];
    r[2] = uint8_t(src);
    r[3] = uint8_t(src >> 8);
    r.push_back(status);
    if (n)
        r.insert(r.end(), data, data + n);
    r.push_back(bcc(r.data(), r.size()));
    return r;
}

std::unique_ptr<SimCards> g_cards;
} // namespace

SimCards::SimCards(SimFpga& fpga, std::string path, std::function<uint32_t()> clock)
    : fpga_(fpga), file_(std::move(path), kDefaultFile), clock_(std::move(clock))
{
    reload();
    fpga_.setTransmitHook([this](int port, const std::vector<uint8_t>& packet) { onPacket(port, packet); });
    fpga_.setPollHook([this] { poll(); });
}

SimCards::~SimCards()
{
    // A new attach has already replaced (and freed) the FPGA of these cards.
    if (simFpga() != &fpga_)
        return;
    fpga_.setTransmitHook(nullptr);
    fpga_.setPollHook(nullptr);
}

SimCards::Layout SimCards::parse(const std::string& text)
{
    Layout l;
    std::array<bool, kPorts> statusGiven{};
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string kind;
        long n = 0;
        if (!(words >> kind >> n) || n < 1 || n > long(kPorts))
            continue;
        const size_t p = size_t(n - 1);
        std::string key, value;
        if (kind == "multifunction") {
            l.vmfPort = int(p);
            while (words >> key >> value)
                if (key == "light")
                    l.vmfLight = uint8_t(std::strtoul(value.c_str(), nullptr, 0));
            continue;
        }
        if (kind != "port")
            continue;
        Chain c;
        c.link = true;
        while (words >> key >> value) {
            const unsigned long v = std::strtoul(value.c_str(), nullptr, 0);
            if (key == "cards") {
                c.cards = uint16_t(v > 4094 ? 4094 : v);
            } else if (key == "config") {
                c.config = uint32_t(v);
            } else if (key == "status") {
                c.status = uint8_t(v);
                statusGiven[p] = true;
            } else if (key == "check") {
                c.check = uint8_t(v);
            }
        }
        l.ports[p] = c;
    }
    // The multifunction card shows in its port's status byte.
    if (l.vmfPort >= 0 && !statusGiven[size_t(l.vmfPort)])
        l.ports[size_t(l.vmfPort)].status = 1;
    return l;
}

void SimCards::reload()
{
    std::lock_guard<std::mutex> lock(mutex_);
    reloadLocked();
}

void SimCards::reloadLocked()
{
    if (!file_.changed())
        return;
    std::string text;
    layout_ = file_.read(&text) ? parse(text) : Layout{};
    uint16_t links = 0;
    for (unsigned p = 0; p < kPorts; ++p)
        if (layout_.ports[p].link)
            links |= uint16_t(1u << p);
    fpga_.setLinks(links);
}

SimCards::Layout SimCards::layout()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return layout_;
}

void SimCards::setAnswerDelay(uint32_t ticks)
{
    std::lock_guard<std::mutex> lock(mutex_);
    delay_ = ticks;
}

void SimCards::setFault(unsigned port, Fault fault, uint32_t extraTicks)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (port >= kPorts)
        return;
    fault_[port] = fault;
    extra_[port] = fault == Fault::Delayed ? extraTicks : 0;
}

SimCards::Fault SimCards::fault(unsigned port)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return port < kPorts ? fault_[port] : Fault::None;
}

void SimCards::clearFaults()
{
    std::lock_guard<std::mutex> lock(mutex_);
    fault_.fill(Fault::None);
    extra_.fill(0);
}

void SimCards::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    fault_.fill(Fault::None);
    extra_.fill(0);
    delay_ = 1;
    pending_.clear();
    packets_.fill(0);
    received_.clear();
}

std::vector<std::pair<int, std::vector<uint8_t>>> SimCards::received()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

unsigned SimCards::packets(unsigned port)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return port < kPorts ? packets_[port] : 0;
}

unsigned SimCards::pendingAnswers()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return unsigned(pending_.size());
}

SimCards::Card& SimCards::card(unsigned port, unsigned index)
{
    return cards_[{port, index}];
}

std::vector<uint8_t> SimCards::cardRam(unsigned port, unsigned card, uint32_t address, uint32_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (port >= kPorts || uint64_t(address) + length > kCardRam)
        return {};
    const Card& c = this->card(port, card);
    return std::vector<uint8_t>(c.ram.begin() + long(address), c.ram.begin() + long(address + length));
}

uint8_t SimCards::cardReg(unsigned port, unsigned card, uint8_t reg)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return port < kPorts ? this->card(port, card).regs[reg] : 0;
}

void SimCards::poll()
{
    std::lock_guard<std::mutex> lock(mutex_);
    placeDueLocked();
}

void SimCards::placeDueLocked()
{
    if (pending_.empty())
        return;
    const uint32_t now = clock_();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (int32_t(now - it->due) >= 0) {
            fpga_.placeAnswer(it->slot, it->answer.data(), it->answer.size());
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
}

void SimCards::onPacket(int port, const std::vector<uint8_t>& packet)
{
    if (port < 0 || port >= int(kPorts) || packet.size() < kHeader + 1)
        return;
    const unsigned p = unsigned(port);
    std::lock_guard<std::mutex> lock(mutex_);
    ++packets_[p];
    // A log for tests; a running program keeps only the latest packets.
    if (received_.size() >= kLogLimit)
        received_.erase(received_.begin(), received_.begin() + long(kLogLimit / 2));
    received_.push_back({port, packet});
    if (packet[9] == 0x10)
        reloadLocked();
    if (!layout_.ports[p].link || fault_[p] == Fault::Silent)
        return;
    std::vector<uint8_t> a;
    const uint16_t dest = uint16_t(packet[0] | packet[1] << 8);
    const bool answered = (dest & kVmfBit) && dest < kController
                              ? int(p) == layout_.vmfPort && vmfAnswerLocked(packet, &a)
                              : answerLocked(p, packet, &a);
    if (!answered)
        return;
    if (fault_[p] == Fault::BadCheck) {
        a.back() ^= 0x01;
    } else if (fault_[p] == Fault::Short) {
        a.resize(kShort - 1);
        a.push_back(bcc(a.data(), a.size()));
    }
    const uint32_t delay = delay_ + extra_[p];
    pending_.push_back({p / 2, clock_() + delay, std::move(a)});
    if (delay == 0)
        placeDueLocked();
}

bool SimCards::answerLocked(unsigned port, const std::vector<uint8_t>& q, std::vector<uint8_t>* out)
{
    const Chain& chain = layout_.ports[port];
    if (chain.cards == 0)
        return false;
    const unsigned index = (q[0] | q[1] << 8) & 0x0FFF;
    unsigned first = index, last = index;
    if (index == kAll) {
        first = 0;
        last = chain.cards - 1u;
    } else if (index == kFirst) {
        first = last = 0;
    } else if (index >= chain.cards) {
        return false;
    }
    // The card that answers: the addressed one, the last of all, the first.
    const uint16_t src = uint16_t(((port & 3u) << 12) | (index == kAll ? last : first));
    const size_t n = q.size();
    switch (q[9]) {
    case 0x10: {
        const uint8_t d[12] = {uint8_t(chain.cards),
                               uint8_t(chain.cards >> 8),
                               chain.status,
                               0,
                               0,
                               0,
                               0,
                               uint8_t(chain.config),
                               uint8_t(chain.config >> 8),
                               uint8_t(chain.config >> 16),
                               uint8_t(chain.config >> 24),
                               chain.check};
        *out = reply(q, src, 0, d, sizeof d);
        return true;
    }
    case 0x60: {
        if (n < 19)
            return false;
        const uint32_t address = le32(q, 10);
        const uint32_t length = uint32_t(q[14] | q[15] << 8);
        uint8_t status = 1;
        if (18 + size_t(length) < n && uint64_t(address) + length <= kCardRam) {
            for (unsigned c = first; c <= last; ++c)
                std::memcpy(card(port, c).ram.data() + address, q.data() + 18, length);
            status = 0;
        }
        *out = reply(q, src, status, nullptr, 0);
        return true;
    }
    case 0x61: {
        if (n < 17)
            return false;
        const uint32_t address = le32(q, 10);
        const uint32_t length = uint32_t(q[14] | q[15] << 8);
        if (uint64_t(address) + length > kCardRam || kHeader + 2 + length > kMaxAnswer) {
            *out = reply(q, src, 1, nullptr, 0);
            return true;
        }
        const Card& c = card(port, first);
        *out = reply(q, src, 0, c.ram.data() + address, length);
        return true;
    }
    case 0xA0: {
        if (n < 15)
            return false;
        for (unsigned c = first; c <= last; ++c) {
            uint8_t& r = card(port, c).regs[q[10]];
            r = uint8_t((r & ~q[11]) | (q[13] & q[11]));
        }
        *out = reply(q, src, 0, nullptr, 0);
        return true;
    }
    case 0x81:
        // Save: the cards keep their RAM in their flash.
        for (unsigned c = first; c <= last; ++c) {
            Card& k = card(port, c);
            k.saved = k.ram;
            ++k.saves;
        }
        *out = reply(q, src, 0, nullptr, 0);
        return true;
    default:
        *out = reply(q, src, 0, nullptr, 0);
        return true;
    }
}

std::vector<uint8_t> SimCards::cardSaved(unsigned port, unsigned card, uint32_t address, uint32_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (port >= kPorts || uint64_t(address) + length > kCardRam)
        return {};
    const Card& c = this->card(port, card);
    return std::vector<uint8_t>(c.saved.begin() + long(address), c.saved.begin() + long(address + length));
}

unsigned SimCards::cardSaves(unsigned port, unsigned card)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return port < kPorts ? this->card(port, card).saves : 0;
}

bool SimCards::vmfAnswerLocked(const std::vector<uint8_t>& q, std::vector<uint8_t>* out)
{
    const uint16_t src = uint16_t(q[0] | q[1] << 8);
    const size_t n = q.size();
    if (q[9] == 0x61 && n >= 17) {
        const uint32_t address = le32(q, 10);
        const uint32_t length = uint32_t(q[14] | q[15] << 8);
        // Page 0 carries the power state at byte 44; the sensor block says
        // at byte 49 that its reading at byte 53 is valid.
        uint8_t data[256] = {};
        uint32_t size = 0;
        if (address == 0) {
            std::memcpy(data, vmf_.ram.data(), 256);
            data[44] = 1;
            size = 256;
        } else if (address == kVmfSensor) {
            data[49] = 0xFF;
            data[53] = layout_.vmfLight;
            size = 128;
        }
        if (length > size) {
            *out = reply(q, src, 1, nullptr, 0);
            return true;
        }
        *out = reply(q, src, 0, data, length);
        return true;
    }
    if (q[9] == 0xA0 && n >= 15) {
        uint8_t& r = vmf_.regs[q[10]];
        r = uint8_t((r & ~q[11]) | (q[13] & q[11]));
        *out = reply(q, src, 0, nullptr, 0);
        return true;
    }
    *out = reply(q, src, 0, nullptr, 0);
    return true;
}

void attachCards(SimBoard& board, std::function<uint32_t()> clock)
{
    SimFpga* fpga = simFpga();
    if (!fpga)
        return;
    if (!clock)
        clock = [] { return ticks(); };
    g_cards.reset();
    g_cards = std::make_unique<SimCards>(*fpga, board.modelDir() + "/cards", std::move(clock));
}

SimCards* simCards()
{
    return g_cards.get();
}

} // namespace board::sim
