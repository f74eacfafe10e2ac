#include "board/linux_board.h"

#include "board/linux_usb.h"
#include "board/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/spi/spidev.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace board
{

namespace
{

class LinuxSpi final : public Spi
{
  public:
    int open(const std::string& path) override { return ::open(path.c_str(), O_RDWR); }
    int setMode(int fd, uint8_t mode) override { return guarded(fd, SPI_IOC_WR_MODE, &mode); }
    int getMode(int fd, uint8_t* mode) override { return guarded(fd, SPI_IOC_RD_MODE, mode); }
    int setBits(int fd, uint8_t bits) override { return guarded(fd, SPI_IOC_WR_BITS_PER_WORD, &bits); }
    int getBits(int fd, uint8_t* bits) override { return guarded(fd, SPI_IOC_RD_BITS_PER_WORD, bits); }
    int setSpeed(int fd, uint32_t hz) override { return guarded(fd, SPI_IOC_WR_MAX_SPEED_HZ, &hz); }
    int getSpeed(int fd, uint32_t* hz) override { return guarded(fd, SPI_IOC_RD_MAX_SPEED_HZ, hz); }

    int transfer(int fd, const SpiXfer* xfers, unsigned n) override
    {
        if (fd < 0 || n == 0 || n > 16)
            return -1;
        spi_ioc_transfer tr[16];
        std::memset(tr, 0, sizeof tr);
        for (unsigned i = 0; i < n; ++i) {
            tr[i].tx_buf = reinterpret_cast<uintptr_t>(xfers[i].tx);
            tr[i].rx_buf = reinterpret_cast<uintptr_t>(xfers[i].rx);
            tr[i].len = xfers[i].len;
            tr[i].bits_per_word = 8;
        }
        return ::ioctl(fd, SPI_IOC_MESSAGE(n), tr);
    }

  private:
    template <typename T> int guarded(int fd, unsigned long req, T* arg)
    {
        if (fd < 0)
            return -1;
        return ::ioctl(fd, req, arg);
    }
};

// Layout of the /dev/msys memory request as this board's driver takes it.
struct MsysDmemRequest {
    uint32_t version;
    uint32_t length;
    uint32_t phys;
    uint32_t size;
    uint32_t reserved;
};
constexpr unsigned long kMsysRequestDmem = 0x5315;
constexpr uint32_t kDefaultWindowPhys = 0x1F000000;
constexpr uint32_t kDefaultWindowSize = 0x400000;

class LinuxPads final : public Pads
{
  public:
    int map() override
    {
        if (base_)
            return 0;
        int msys = ::open("/dev/msys", O_RDWR | O_SYNC);
        if (msys < 0) {
            zevlog::warning(lcBoard(), "\n can't open /dev/msys");
            return 255;
        }
        int mem = ::open("/dev/mem", O_RDWR | O_SYNC);
        if (mem < 0) {
            zevlog::warning(lcBoard(), "\ncan't open /dev/mem");
            ::close(msys);
            return 255;
        }
        MsysDmemRequest req{0x4D530100, 20, 0, 0, 0};
        if (::ioctl(msys, kMsysRequestDmem, &req) != 0) {
            zevlog::warning(lcBoard(), "\n DMEM request failed!!");
            ::close(mem);
            ::close(msys);
            return 255;
        }
        uint32_t phys = req.phys ? req.phys : kDefaultWindowPhys;
        uint32_t size = req.size ? req.size : kDefaultWindowSize;
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, mem, phys);
        if (p == MAP_FAILED) {
            zevlog::warning(lcBoard(), "\n NULL pointer!");
            ::close(mem);
            ::close(msys);
            return 255;
        }
        base_ = static_cast<volatile uint8_t*>(p);
        size_ = size;
        return 0;
    }
    bool mapped() const override { return base_ != nullptr; }
    void write16(uint32_t offset, uint16_t value) override
    {
        if (base_ && offset + 2 <= size_)
            *reinterpret_cast<volatile uint16_t*>(base_ + offset) = value;
    }
    uint16_t read16(uint32_t offset) override
    {
        if (base_ && offset + 2 <= size_)
            return *reinterpret_cast<volatile uint16_t*>(base_ + offset);
        return 0;
    }
    std::vector<uint8_t> uniqueId() override
    {
        // The efuse id sits in the same window; without it the id stays empty.
        std::vector<uint8_t> id;
        if (!base_ || size_ < 0x2000)
            return id;
        for (uint32_t off = 0x1F00; off < 0x1F08; off += 2) {
            uint16_t w = read16(off);
            id.push_back(uint8_t(w));
            id.push_back(uint8_t(w >> 8));
        }
        return id;
    }

  private:
    volatile uint8_t* base_ = nullptr;
    uint32_t size_ = 0;
};

class LinuxI2c final : public I2c
{
  public:
    int open(const std::string& path) override { return ::open(path.c_str(), O_RDWR); }
    int rdwr(int fd, I2cMsg* msgs, unsigned n) override
    {
        if (fd < 0 || n == 0 || n > 8)
            return -1;
        i2c_msg m[8];
        for (unsigned i = 0; i < n; ++i) {
            m[i].addr = msgs[i].addr;
            m[i].flags = (msgs[i].flags & kI2cRead) ? I2C_M_RD : 0;
            m[i].len = msgs[i].len;
            m[i].buf = msgs[i].buf;
        }
        i2c_rdwr_ioctl_data data{m, n};
        return ::ioctl(fd, I2C_RDWR, &data);
    }
};

class LinuxMtd final : public Mtd
{
  public:
    int open(const std::string& path) override { return ::open(path.c_str(), O_RDWR); }
    int close(int fd) override { return fd < 0 ? -1 : ::close(fd); }
    int getInfo(int fd, MtdInfo* info) override
    {
        if (fd < 0)
            return -1;
        mtd_info_user mi;
        if (::ioctl(fd, MEMGETINFO, &mi) != 0)
            return -1;
        info->size = mi.size;
        info->erasesize = mi.erasesize;
        info->writesize = mi.writesize;
        return 0;
    }
    int unlock(int fd, uint32_t offset, uint32_t length) override
    {
        erase_info_user e{offset, length};
        return fd < 0 ? -1 : ::ioctl(fd, MEMUNLOCK, &e);
    }
    int erase(int fd, uint32_t offset, uint32_t length) override
    {
        erase_info_user e{offset, length};
        return fd < 0 ? -1 : ::ioctl(fd, MEMERASE, &e);
    }
    long pwrite(int fd, const uint8_t* data, uint32_t length, uint32_t offset) override
    {
        return fd < 0 ? -1 : ::pwrite(fd, data, length, offset);
    }
    long pread(int fd, uint8_t* data, uint32_t length, uint32_t offset) override
    {
        return fd < 0 ? -1 : ::pread(fd, data, length, offset);
    }
};

class LinuxShell final : public Shell
{
  public:
    int system(const std::string& command) override { return ::system(command.c_str()); }
    std::string popen(const std::string& command, int lineSize, bool* ok) override
    {
        std::string out;
        FILE* f = ::popen(command.c_str(), "r");
        if (ok)
            *ok = f != nullptr;
        if (!f)
            return out;
        std::vector<char> line(lineSize > 1 ? lineSize : 128);
        while (std::fgets(line.data(), int(line.size()), f))
            out += line.data();
        ::pclose(f);
        return out;
    }
};

class RootPaths final : public Paths
{
  public:
    std::string root() const override { return std::string(); }
};

class LinuxBoard final : public Board
{
  public:
    const char* name() const override { return "SSD201 board"; }
    bool simulated() const override { return false; }
    Spi& spi() override { return spi_; }
    Pads& pads() override { return pads_; }
    I2c& i2c() override { return i2c_; }
    Mtd& mtd() override { return mtd_; }
    Shell& shell() override { return shell_; }
    Paths& paths() override { return paths_; }
    Keypad& keypad() override { return *keypad_; }
    Uevents& uevents() override { return *uevents_; }

  private:
    LinuxSpi spi_;
    LinuxPads pads_;
    LinuxI2c i2c_;
    LinuxMtd mtd_;
    LinuxShell shell_;
    RootPaths paths_;
    std::unique_ptr<Keypad> keypad_ = makeHidKeypad();
    std::unique_ptr<Uevents> uevents_ = makeNetlinkUevents();
};

} // namespace

std::unique_ptr<Board> makeLinuxBoard()
{
    return std::make_unique<LinuxBoard>();
}

bool linuxBoardPresent()
{
    struct stat st;
    return ::stat("/dev/spidev32766.0", &st) == 0 && ::stat("/dev/msys", &st) == 0;
}

} // namespace board
