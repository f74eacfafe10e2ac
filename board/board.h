// The hardware seam. Every driver reaches its device through one of these
// small interfaces; the board (Linux) and the simulated board implement them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QString>

namespace board
{

class Keypad;
class Uevents;

// One segment of a spidev message: tx and rx may each be null.
struct SpiXfer {
    const uint8_t* tx = nullptr;
    uint8_t* rx = nullptr;
    uint32_t len = 0;
};

// spidev: descriptors are -1 when the device could not be opened; every
// call on -1 is refused with -1 and no bus traffic.
class Spi
{
  public:
    virtual ~Spi() = default;
    virtual int open(const std::string& path) = 0;
    virtual int setMode(int fd, uint8_t mode) = 0;
    virtual int getMode(int fd, uint8_t* mode) = 0;
    virtual int setBits(int fd, uint8_t bits) = 0;
    virtual int getBits(int fd, uint8_t* bits) = 0;
    virtual int setSpeed(int fd, uint32_t hz) = 0;
    virtual int getSpeed(int fd, uint32_t* hz) = 0;
    // One message of n segments, like SPI_IOC_MESSAGE(n): returns the bytes
    // moved (> 0) or -1.
    virtual int transfer(int fd, const SpiXfer* xfers, unsigned n) = 0;
};

// SoC pad registers ("/dev/msys" window mapped through "/dev/mem").
class Pads
{
  public:
    virtual ~Pads() = default;
    // 0 when the window is mapped, 255 when it cannot be (with the message
    // of the failing step printed).
    virtual int map() = 0;
    virtual bool mapped() const = 0;
    virtual void write16(uint32_t offset, uint16_t value) = 0;
    virtual uint16_t read16(uint32_t offset) = 0;
    // The SoC's unique id, empty when it cannot be read.
    virtual std::vector<uint8_t> uniqueId() = 0;
};

struct I2cMsg {
    uint16_t addr = 0;
    uint16_t flags = 0; // kI2cRead for a read segment
    uint16_t len = 0;
    uint8_t* buf = nullptr;
};
constexpr uint16_t kI2cRead = 0x0001;

class I2c
{
  public:
    virtual ~I2c() = default;
    virtual int open(const std::string& path) = 0;
    // I2C_RDWR: returns the number of messages done or -1.
    virtual int rdwr(int fd, I2cMsg* msgs, unsigned n) = 0;
};

struct MtdInfo {
    uint32_t size = 0;
    uint32_t erasesize = 0;
    uint32_t writesize = 0;
};

class Mtd
{
  public:
    virtual ~Mtd() = default;
    virtual int open(const std::string& path) = 0;
    virtual int close(int fd) = 0;
    virtual int getInfo(int fd, MtdInfo* info) = 0;
    virtual int unlock(int fd, uint32_t offset, uint32_t length) = 0;
    virtual int erase(int fd, uint32_t offset, uint32_t length) = 0;
    virtual long pwrite(int fd, const uint8_t* data, uint32_t length, uint32_t offset) = 0;
    // Reads back what a partition holds (to check a write): the bytes read or -1.
    virtual long pread(int fd, uint8_t* data, uint32_t length, uint32_t offset) = 0;
};

// Every system() and popen() of the program goes through here.
class Shell
{
  public:
    virtual ~Shell() = default;
    // The raw status as system() gives it.
    virtual int system(const std::string& command) = 0;
    // The command's whole output; ok is false when it could not be started.
    virtual std::string popen(const std::string& command, int lineSize, bool* ok) = 0;
};

// Absolute paths of the system resolve through one root.
class Paths
{
  public:
    virtual ~Paths() = default;
    virtual std::string root() const = 0;
    // The host path of a system path: the root before an absolute path.
    virtual std::string resolve(const std::string& path) const;
    // The host path of a system path as the user finds it, for messages:
    // the root before an absolute path, even where resolve() refuses to
    // follow the path out of the root.
    std::string shown(const std::string& path) const;
    // Whether resolve() refuses to follow the path, which leads out of the
    // root.
    virtual bool refuses(const std::string& path) const;
};

class Board
{
  public:
    virtual ~Board() = default;
    virtual const char* name() const = 0;
    virtual bool simulated() const = 0;
    virtual Spi& spi() = 0;
    virtual Pads& pads() = 0;
    virtual I2c& i2c() = 0;
    virtual Mtd& mtd() = 0;
    virtual Shell& shell() = 0;
    virtual Paths& paths() = 0;
    virtual Keypad& keypad() = 0;
    virtual Uevents& uevents() = 0;
};

// The board the program runs on; set once at start (or by a test).
Board& current();
void install(std::unique_ptr<Board> b);
bool installed();

// Shorthands for the system's path strings.
std::string path(const std::string& p);
QString path(const QString& p);
inline std::string path(const char* p)
{
    return path(std::string(p));
}
// Paths::shown() of the board installed; the path itself before there is one.
std::string shownPath(const std::string& p);
// Paths::refuses() of the board installed.
bool leadsOut(const std::string& p);

} // namespace board
