#include "board/linux_usb.h"

#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <hidapi.h>

namespace board
{

namespace
{

class HidKeypad final : public Keypad
{
  public:
    int init() override { return hid_init() == 0 ? 0 : -1; }

    std::vector<HidDeviceId> enumerate() override
    {
        std::vector<HidDeviceId> out;
        hid_device_info* list = hid_enumerate(0, 0);
        for (hid_device_info* d = list; d; d = d->next)
            out.push_back({d->vendor_id, d->product_id});
        hid_free_enumeration(list);
        return out;
    }

    int sendReport(const uint8_t* report, size_t length) override
    {
        // No handle is kept between reports: the keypad may be unplugged
        // at any time.
        hid_device* h = hid_open(kVendor, kProduct, nullptr);
        if (!h)
            return -1;
        int n = hid_write(h, report, length);
        hid_close(h);
        return n < 0 ? -2 : 0;
    }

    std::vector<int> takeKeys() override { return {}; }
    std::string keyFile() const override { return std::string(); }
};

class NetlinkUevents final : public Uevents
{
  public:
    ~NetlinkUevents() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    int open() override
    {
        if (fd_ >= 0)
            return 0;
        int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
        if (fd < 0)
            return -1;
        int size = 1024;
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0) {
            int e = errno;
            ::close(fd);
            errno = e;
            return -1;
        }
        sockaddr_nl addr;
        std::memset(&addr, 0, sizeof addr);
        addr.nl_family = AF_NETLINK;
        // Port id 0 lets the kernel choose a free one: a fixed number
        // collides with any other listener that picked it first.
        addr.nl_pid = 0;
        addr.nl_groups = 1;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            int e = errno;
            ::close(fd);
            errno = e;
            return -1;
        }
        fd_ = fd;
        return 0;
    }

    int wait(long timeoutUs) override
    {
        if (fd_ < 0)
            return -1;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd_, &set);
        timeval tv{timeoutUs / 1000000, timeoutUs % 1000000};
        int r = ::select(fd_ + 1, &set, nullptr, nullptr, timeoutUs < 0 ? nullptr : &tv);
        if (r < 0)
            return errno == EINTR ? 0 : -1;
        return r > 0 ? 1 : 0;
    }

    long receive(char* buffer, size_t length) override
    {
        if (fd_ < 0)
            return -1;
        return ::recv(fd_, buffer, length, 0);
    }

  private:
    int fd_ = -1;
};

} // namespace

std::unique_ptr<Keypad> makeHidKeypad()
{
    return std::make_unique<HidKeypad>();
}

std::unique_ptr<Uevents> makeNetlinkUevents()
{
    return std::make_unique<NetlinkUevents>();
}

} // namespace board
