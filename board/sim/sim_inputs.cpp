#include "board/sim/sim_inputs.h"

#include <cstdio>
#include <sstream>

namespace board::sim
{

namespace
{
SimInputs* g_current = nullptr;
constexpr uint16_t kSwitch = 0x70, kReceiver = 0x48, kEeprom = 0x50, kExpander = 0x20;
constexpr uint16_t kTx0 = 0x39, kTx1 = 0x3B;
constexpr int kPage = 8;
const char* const kNames[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};

const char kDefaultFile[] = "# Inputs of the simulated board, read again when this file changes.\n"
                            "# One line per source (EXT, DVI, HDMI1..HDMI4 or 0..5): WIDTHxHEIGHT@RATE or off.\n"
                            "EXT off\n"
                            "DVI off\n"
                            "HDMI1 1920x1080@60\n"
                            "HDMI2 off\n"
                            "HDMI3 off\n"
                            "HDMI4 off\n";
} // namespace

class SimInputs::Chip final : public I2cDevice
{
  public:
    Chip(SimInputs* owner, uint16_t addr) : owner_(owner), addr_(addr) {}
    bool write(const uint8_t* data, uint16_t len) override { return owner_->write(addr_, data, len); }
    bool read(uint8_t* data, uint16_t len) override { return owner_->read(addr_, data, len); }

  private:
    SimInputs* owner_;
    uint16_t addr_;
};

SimInputs::SimInputs(SimBoard& board, const std::string& inputsPath) : file_(inputsPath, kDefaultFile)
{
    for (uint16_t a : {kSwitch, kReceiver, kEeprom, kExpander, kTx0, kTx1}) {
        chips_.push_back(std::make_unique<Chip>(this, a));
        board.simI2c().attach("/dev/i2c-0", a, chips_.back().get());
    }
    for (auto& e : eeprom_)
        e.fill(0xFF);
    g_current = this;
}

SimInputs* SimInputs::current()
{
    return g_current;
}

std::array<SimInputs::Signal, 6> SimInputs::parse(const std::string& text)
{
    std::array<Signal, 6> out{};
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream ls(line);
        std::string name, value;
        if (!(ls >> name >> value))
            continue;
        int s = -1;
        for (int i = 0; i < 6; ++i)
            if (name == kNames[i] || name == std::to_string(i))
                s = i;
        if (s < 0)
            continue;
        unsigned w = 0, h = 0, r = 0;
        char x = 0, at = 0;
        std::istringstream vs(value);
        if (value == "off" || !(vs >> w >> x >> h >> at >> r) || x != 'x' || at != '@' || !w || !h || !r ||
            w > 0xFFFF || h > 0xFFFF || r > 255) {
            out[size_t(s)] = Signal{};
            continue;
        }
        out[size_t(s)] = Signal{uint16_t(w), uint16_t(h), uint8_t(r)};
    }
    return out;
}

// Caller holds mutex_.
void SimInputs::refresh()
{
    if (!file_.changed())
        return;
    std::string text;
    signals_ = file_.read(&text) ? parse(text) : std::array<Signal, 6>{};
}

SimInputs::Signal SimInputs::signal(int source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    refresh();
    return source >= 0 && source < 6 ? signals_[size_t(source)] : Signal{};
}

uint8_t SimInputs::receiverReg(int source, uint8_t reg)
{
    const Signal& s = signals_[size_t(source)];
    bool on = s.width && s.height && s.rate;
    // IT6602 on channels 0..3, IT6805 on 4 and 5.
    const uint8_t status = source < 4 ? 0x10 : 0x13, stable = source < 4 ? 0x01 : 0x02;
    const uint8_t hAct = source < 4 ? 0x20 : 0x9C, vAct = hAct + 2, rate = source < 4 ? 0x24 : 0xA0;
    if (reg == status)
        return on ? stable : 0;
    if (reg == hAct)
        return uint8_t(s.width);
    if (reg == hAct + 1)
        return uint8_t(s.width >> 8);
    if (reg == vAct)
        return uint8_t(s.height);
    if (reg == vAct + 1)
        return uint8_t(s.height >> 8);
    if (reg == rate)
        return s.rate;
    return 0;
}

bool SimInputs::write(uint16_t addr, const uint8_t* data, uint16_t len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (addr == kSwitch) {
        if (len != 1)
            return false;
        channel_ = data[0];
        return true;
    }
    int ch = -1;
    for (int i = 0; i < 8; ++i)
        if (channel_ == (1u << i))
            ch = i;
    if (addr == kTx0 || addr == kTx1) {
        if (!txPresent_[addr == kTx1 ? 1 : 0])
            return false;
    } else if ((addr == kReceiver || addr == kEeprom) && (ch < 0 || ch > 5)) {
        return false; // nothing behind the channel
    }
    if (len == 0)
        return true;
    if (addr == kEeprom) {
        size_t s = size_t(ch);
        if (eepromBusy_[s]) {
            eepromBusy_[s] = false; // busy with the last page: no acknowledge
            return false;
        }
        uint8_t off = data[0];
        if (len > 1) {
            if (eepromBroken_[s])
                return false;
            // A page write wraps inside its 8-byte page.
            for (uint16_t i = 1; i < len; ++i)
                eeprom_[s][(off & ~(kPage - 1)) | ((off + i - 1) & (kPage - 1))] = data[i];
            eepromBusy_[s] = true;
        }
        pointer_[kEeprom] = off;
        return true;
    }
    pointer_[addr] = data[0];
    if (addr == kExpander && len > 1 && data[0] < expander_.size())
        expander_[data[0]] = data[1];
    return true;
}

bool SimInputs::read(uint16_t addr, uint8_t* data, uint16_t len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (addr == kSwitch) {
        for (uint16_t i = 0; i < len; ++i)
            data[i] = channel_;
        return true;
    }
    int ch = -1;
    for (int i = 0; i < 8; ++i)
        if (channel_ == (1u << i))
            ch = i;
    uint8_t& p = pointer_[addr & 0x7F];
    if (addr == kReceiver) {
        if (ch < 0 || ch > 5)
            return false;
        // The file is looked at when the status is read, once per source
        // and turn of the source check.
        if (p == (ch < 4 ? 0x10 : 0x13))
            refresh();
        for (uint16_t i = 0; i < len; ++i)
            data[i] = receiverReg(ch, uint8_t(p + i));
        return true;
    }
    if (addr == kEeprom) {
        if (ch < 0 || ch > 5)
            return false;
        size_t s = size_t(ch);
        if (eepromBusy_[s]) {
            eepromBusy_[s] = false;
            return false;
        }
        for (uint16_t i = 0; i < len; ++i)
            data[i] = eeprom_[s][uint8_t(p + i)];
        p = uint8_t(p + len);
        return true;
    }
    if (addr == kExpander) {
        for (uint16_t i = 0; i < len; ++i)
            data[i] = p + i < expander_.size() ? expander_[p + i] : 0;
        return true;
    }
    if (addr == kTx0 || addr == kTx1) {
        if (!txPresent_[addr == kTx1 ? 1 : 0])
            return false;
        for (uint16_t i = 0; i < len; ++i)
            data[i] = (p + i == 0x62) ? 0xB0 : 0;
        return true;
    }
    return false;
}

std::array<uint8_t, 256> SimInputs::eeprom(int source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return eeprom_[size_t(source)];
}

bool SimInputs::hotPlug(int source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return expander_[2] & (1u << source);
}

void SimInputs::setTransmitterPresent(int output, bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    txPresent_[output ? 1 : 0] = present;
}

void SimInputs::setEepromBroken(int source, bool broken)
{
    std::lock_guard<std::mutex> lock(mutex_);
    eepromBroken_[size_t(source)] = broken;
}

} // namespace board::sim
