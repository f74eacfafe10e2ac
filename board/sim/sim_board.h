// The simulated board: the board's devices modelled in memory and in files
// under one data root, so the whole program runs and is tested on a PC.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/sim/sim_keypad.h"
#include "board/sim/sim_uevents.h"

namespace board::sim
{

// A device model behind a spidev node.
class SpiDevice
{
  public:
    virtual ~SpiDevice() = default;
    // One spidev message; returns the bytes moved or -1 for a failed transfer.
    virtual int transfer(const SpiXfer* xfers, unsigned n) = 0;
};

// A device model at one address of an I2C bus.
class I2cDevice
{
  public:
    virtual ~I2cDevice() = default;
    virtual bool write(const uint8_t* data, uint16_t len) = 0;
    virtual bool read(uint8_t* data, uint16_t len) = 0;
};

class SimSpi final : public Spi
{
  public:
    void attach(const std::string& path, SpiDevice* dev);
    int open(const std::string& path) override;
    int setMode(int fd, uint8_t mode) override;
    int getMode(int fd, uint8_t* mode) override;
    int setBits(int fd, uint8_t bits) override;
    int getBits(int fd, uint8_t* bits) override;
    int setSpeed(int fd, uint32_t hz) override;
    int getSpeed(int fd, uint32_t* hz) override;
    int transfer(int fd, const SpiXfer* xfers, unsigned n) override;
    // Messages refused from now on, for fault tests.
    void setFailing(const std::string& path, bool failing);
    // Runs before every message, outside the bus lock (the fault switches
    // are looked at there).
    void setAccessHook(std::function<void()> hook);

  private:
    struct Node {
        std::string path;
        SpiDevice* dev = nullptr;
        uint8_t mode = 0, bits = 8;
        uint32_t speed = 0;
        bool failing = false;
    };
    Node* node(int fd);
    std::mutex mutex_;
    std::vector<Node> nodes_;
    std::shared_ptr<const std::function<void()>> access_;
};

class SimPads final : public Pads
{
  public:
    using Listener = std::function<void(uint32_t offset, uint16_t value)>;
    using ReadListener = std::function<void(uint32_t offset)>;
    int map() override;
    bool mapped() const override { return mapped_; }
    void write16(uint32_t offset, uint16_t value) override;
    uint16_t read16(uint32_t offset) override;
    std::vector<uint8_t> uniqueId() override;
    void listen(Listener l);
    // Runs before every read of a pad (a model that acts on its own time
    // brings the line up to date).
    void listenReads(ReadListener l);
    void setMapFails(bool fails) { mapFails_ = fails; }

  private:
    std::mutex mutex_;
    std::map<uint32_t, uint16_t> regs_;
    // Replaced, never changed, when one is added: a pad access takes a
    // shared copy and runs them outside the lock.
    std::shared_ptr<const std::vector<Listener>> listeners_;
    std::shared_ptr<const std::vector<ReadListener>> readListeners_;
    bool mapped_ = false;
    bool mapFails_ = false;
};

class SimI2c final : public I2c
{
  public:
    void attach(const std::string& bus, uint16_t addr, I2cDevice* dev);
    int open(const std::string& path) override;
    int rdwr(int fd, I2cMsg* msgs, unsigned n) override;

  private:
    // A bus's devices by address; the descriptor of an opened bus is its
    // place in buses_.
    struct Bus {
        std::string path;
        bool opened = false;
        std::map<uint16_t, I2cDevice*> devices;
    };
    Bus& busLocked(const std::string& path, size_t* index = nullptr);

    std::mutex mutex_;
    std::vector<Bus> buses_;
};

// MTD partitions as files under the root, with NAND rules: erase to 0xFF,
// programming only clears bits.
class SimMtd final : public Mtd
{
  public:
    explicit SimMtd(const Paths& paths) : paths_(paths) {}
    int open(const std::string& path) override;
    int close(int fd) override;
    int getInfo(int fd, MtdInfo* info) override;
    int unlock(int fd, uint32_t offset, uint32_t length) override;
    int erase(int fd, uint32_t offset, uint32_t length) override;
    long pwrite(int fd, const uint8_t* data, uint32_t length, uint32_t offset) override;
    long pread(int fd, uint8_t* data, uint32_t length, uint32_t offset) override;

    static constexpr uint32_t kSize = 0x800000;
    static constexpr uint32_t kEraseSize = 0x20000;
    static constexpr uint32_t kWriteSize = 0x800;

  private:
    const Paths& paths_;
};

// Records every command; carries out only file commands, confined to the
// root. Board commands are never run on the host; "reboot" restarts the
// program through the restart hook when one is set.
class SimShell final : public Shell
{
  public:
    // Carries out a restart; returns only when it failed, with the status
    // system() reports.
    using Restart = std::function<int()>;
    // The latest commands kept in memory.
    static constexpr size_t kRecordKeep = 1000;
    // The record file "commands" of the model folder is moved to
    // "commands.old" once it passes this size.
    static constexpr long kRecordFileLimit = 256 * 1024;

    explicit SimShell(const Paths& paths) : paths_(paths) {}
    int system(const std::string& command) override;
    std::string popen(const std::string& command, int lineSize, bool* ok) override;

    // The latest commands, oldest first.
    std::vector<std::string> recorded() const;
    void clearRecorded();
    // Output given to popen() of commands that begin with prefix.
    void setPopenReply(const std::string& prefix, const std::string& output);
    void setRestart(Restart restart);
    std::string recordPath() const;

  private:
    void record(const std::string& command);
    int runFileCommand(const std::vector<std::string>& argv);
    // The host path of an absolute path that leads inside the root (links
    // resolved; see leadsInside for followLast).
    bool confined(const std::string& p, bool followLast, std::string* host) const;
    bool insideRoot(const std::string& host, bool followLast) const;
    bool copyInside(const std::string& from, const std::string& to) const;
    bool chmodInside(const std::string& host, const std::string& mode, bool recursive) const;
    const Paths& paths_;
    mutable std::mutex mutex_;
    std::deque<std::string> log_;
    std::map<std::string, std::string> replies_;
    Restart restart_;
};

// The root's paths. Paths under /data, /mnt/usb1 and /etc that lead outside
// the root (through a link or "..") resolve to a place below /dev/null,
// where nothing can be opened, created or listed.
class SimPaths final : public Paths
{
  public:
    explicit SimPaths(std::string root) : root_(std::move(root)) {}
    std::string root() const override { return root_; }
    std::string resolve(const std::string& path) const override;
    bool refuses(const std::string& path) const override;

  private:
    std::string root_;
};

class SerialLink;

class SimBoard final : public Board
{
  public:
    // Creates the data root's folders when they are missing.
    explicit SimBoard(const std::string& root);
    ~SimBoard() override;
    const char* name() const override { return "simulated board"; }
    bool simulated() const override { return true; }
    Spi& spi() override { return spi_; }
    Pads& pads() override { return pads_; }
    I2c& i2c() override { return i2c_; }
    Mtd& mtd() override { return mtd_; }
    Shell& shell() override { return shell_; }
    Paths& paths() override { return paths_; }
    Keypad& keypad() override { return keypad_; }
    Uevents& uevents() override { return uevents_; }

    SimSpi& simSpi() { return spi_; }
    SimPads& simPads() { return pads_; }
    SimI2c& simI2c() { return i2c_; }
    SimShell& simShell() { return shell_; }
    SimKeypad& simKeypad() { return keypad_; }
    SimUevents& simUevents() { return uevents_; }
    // Folder of the device models' own state (flash images, inputs, cards).
    std::string modelDir() const { return paths_.root() + "/sim"; }
    // Joins the serial port at device (e.g. "/dev/ttyS2") to a PC side at
    // pcName in the model folder (e.g. "pc-serial"): a pseudo-terminal pair
    // each, with a relay between them, as a cable between the box and a PC.
    // False (with the reason printed) when it cannot be made.
    bool linkSerial(const std::string& device, const std::string& pcName);

  private:
    SimPaths paths_;
    SimSpi spi_;
    SimPads pads_;
    SimI2c i2c_;
    SimMtd mtd_;
    SimShell shell_;
    SimKeypad keypad_;
    SimUevents uevents_;
    std::vector<std::unique_ptr<SerialLink>> links_;
};

// The installed board when it is the simulated one, else null.
SimBoard* active();

// Default data root of the simulated board.
std::string defaultRoot();

// Time of the simulated devices in 10 ms units: the board's own monotonic
// clock, unless the program hands it the clock its own time-outs count in, so
// delays of the simulated devices line up with them.
uint32_t ticks();
// forward, when given, moves the program's clock on by a number of ticks.
void setClock(std::function<uint32_t()> clock, std::function<void(uint32_t)> forward = {});
// Moves time forward by ticks (the faults file's "clock ahead"): the
// program's clock through the hook handed to setClock, else the board's own.
void forwardClock(uint32_t ticks);

} // namespace board::sim
