#include "board/sim/sim_keypad.h"

#include <cctype>
#include <cstdio>
#include <sstream>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace board::sim
{

namespace
{
const char* const kKeyFileText = "# Keys of the simulated USB keypad: append key names, e.g.\n"
                                 "#   echo \"WIN2 HDMI1 FREEZE OK\" >> keypad\n"
                                 "# A..S, LEFT RIGHT OK MODE BACK, WIN1..WIN6, EXT DVI HDMI1..HDMI4, FREEZE, BLACK\n";

struct KeyName {
    const char* name;
    int code;
};
const KeyName kNames[] = {
    {"LEFT", 83},  {"RIGHT", 82}, {"OK", 81},    {"MODE", 77},   {"BACK", 79},  {"WIN1", 65}, {"WIN2", 66},
    {"WIN3", 67},  {"WIN4", 68},  {"WIN5", 69},  {"WIN6", 70},   {"EXT", 71},   {"DVI", 72},  {"HDMI3", 73},
    {"HDMI4", 74}, {"HDMI1", 75}, {"HDMI2", 76}, {"FREEZE", 78}, {"BLACK", 80},
};
// A device that is always on the bus besides the keypad: the root hub.
const HidDeviceId kRootHub = {0x1D6B, 0x0002};
} // namespace

SimKeypad::SimKeypad(const std::string& modelDir) : keyFile_(modelDir + "/keypad"), ledFile_(modelDir + "/keypad_leds")
{
    QString p = QString::fromStdString(keyFile_);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (!f.exists() && f.open(QIODevice::WriteOnly))
        f.write(kKeyFileText);
    // Keys written before the program started are not replayed.
    readOffset_ = long(QFileInfo(p).size());
}

int SimKeypad::init()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return initFails_ ? -1 : 0;
}

std::vector<HidDeviceId> SimKeypad::enumerate()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<HidDeviceId> out{kRootHub};
    if (present_)
        out.push_back({kVendor, kProduct});
    return out;
}

int SimKeypad::sendReport(const uint8_t* report, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present_)
        return -1;
    if (writeFails_)
        return -2;
    reports_.emplace_back(report, report + length);
    std::string line;
    char hex[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", report[i]);
        line += hex;
    }
    line += '\n';
    QFile f(QString::fromStdString(ledFile_));
    if (f.open(QIODevice::WriteOnly | QIODevice::Append))
        f.write(line.data(), qint64(line.size()));
    return 0;
}

std::vector<int> SimKeypad::takeKeys()
{
    std::lock_guard<std::mutex> lock(mutex_);
    QFile f(QString::fromStdString(keyFile_));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // A file cut shorter (rewritten by an editor) is read from the start.
    if (f.size() < readOffset_)
        readOffset_ = 0;
    if (!f.seek(readOffset_))
        return {};
    // Keys are typed a few at a time: what lies beyond the bound is taken
    // on the next call.
    QByteArray data = f.read(kMaxRead);
    // Only whole lines: a line still being written is taken next time; a
    // line longer than the bound holds no keys.
    int end = data.lastIndexOf('\n');
    if (end < 0) {
        if (data.size() == kMaxRead)
            readOffset_ += kMaxRead;
        return {};
    }
    readOffset_ += end + 1;
    return parseKeys(data.left(end + 1).toStdString());
}

std::vector<int> SimKeypad::parseKeys(const std::string& text)
{
    std::vector<int> codes;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string w;
        while (words >> w) {
            for (char& c : w)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            if (w.size() == 1 && w[0] >= 'A' && w[0] <= 'S') {
                codes.push_back(w[0]);
                continue;
            }
            for (const KeyName& k : kNames)
                if (w == k.name) {
                    codes.push_back(k.code);
                    break;
                }
        }
    }
    return codes;
}

std::vector<std::vector<uint8_t>> SimKeypad::reports() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

void SimKeypad::clearReports()
{
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.clear();
}

void SimKeypad::setPresent(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    present_ = present;
}

void SimKeypad::setInitFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex_);
    initFails_ = fails;
}

void SimKeypad::setWriteFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex_);
    writeFails_ = fails;
}

} // namespace board::sim
