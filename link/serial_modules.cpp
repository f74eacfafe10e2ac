#include "link/serial_modules.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "board/board.h"
#include "core/logging.h"

namespace
{
struct SpeedEntry {
    int baud;
    speed_t code;
};
constexpr SpeedEntry kSpeeds[] = {{115200, B115200}, {57600, B57600}, {38400, B38400}, {19200, B19200}, {9600, B9600},
                                  {4800, B4800},     {2400, B2400},   {1200, B1200},   {300, B300}};
} // namespace

int serial_modules::serial_init(int port, int speed, int flags)
{
    int fd = ttyS_Open(port, speed, flags);
    if (fd < 0) {
        zevlog::warning(lcLink(), "Open ttyS1 Port Faild!\n");
        return fd;
    }
    fds_.insert(fd);
    return fd;
}

int serial_modules::ttyS_Open(int port, int speed, int flags)
{
    char name[32];
    snprintf(name, sizeof name, "/dev/ttyS%d", port);
    int fd = open(board::path(name).c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        if (debugOn())
            zevlog::debug(lcLink(), "Can't Open Serial Port %s\n", name);
        return -1;
    }
    if (!isatty(fd)) {
        if (debugOn())
            zevlog::debug(lcLink(), "This is not a tty device");
        close(fd);
        return -1;
    }
    if (set_rts(fd, true))
        no_rts_.erase(fd);
    else
        no_rts_.insert(fd);
    // A port that cannot be configured is closed rather than left open.
    if (UartSetParity(fd, 8, 1, 'n') != 0) {
        if (debugOn())
            zevlog::debug(lcLink(), "UartSetParity failed!, dev :%s\n", name);
        no_rts_.erase(fd);
        close(fd);
        return -1;
    }
    if (UartSetSpeed(fd, speed) != 0) {
        no_rts_.erase(fd);
        close(fd);
        return -1;
    }
    return fd;
}

bool serial_modules::set_rts(int fd, bool raised)
{
    int status = 0;
    if (ioctl(fd, TIOCMGET, &status) == 0) {
        if (raised)
            status |= TIOCM_RTS;
        else
            status &= ~TIOCM_RTS;
        if (ioctl(fd, TIOCMSET, &status) == 0)
            return true;
    }
    // A device without modem lines (a pseudo-terminal) is no error.
    if (errno != ENOTTY && errno != EINVAL)
        zevlog::warnErrno(lcLink(), "Ioctl error on setting 485 configure:\n");
    return false;
}

int serial_modules::UartSetParity(int fd, int databits, int stopbits, int parity)
{
    termios opt;
    if (tcgetattr(fd, &opt) != 0) {
        zevlog::warnErrno(lcLink(), "SetupSerial Error 1");
        return -1;
    }
    opt.c_oflag &= ~tcflag_t(OPOST | OLCUC);
    opt.c_lflag &= ~tcflag_t(ISIG | ICANON | ECHO | ECHOE);
    opt.c_iflag &= ~tcflag_t(IXON | ICRNL);
    opt.c_cflag |= CLOCAL | CREAD;
    opt.c_cflag &= ~tcflag_t(CSIZE);
    switch (databits) {
    case 7:
        opt.c_cflag |= CS7;
        break;
    case 8:
        opt.c_cflag |= CS8;
        break;
    default:
        zevlog::warning(lcLink(), "Unsupported data size\n");
        return -1;
    }
    switch (parity) {
    case 'n':
    case 'N':
        opt.c_cflag &= ~tcflag_t(PARENB);
        opt.c_iflag &= ~tcflag_t(INPCK);
        break;
    case 'o':
    case 'O':
        opt.c_cflag |= PARENB | PARODD;
        opt.c_iflag |= INPCK | ISTRIP;
        break;
    case 'e':
    case 'E':
        opt.c_cflag |= PARENB;
        opt.c_cflag &= ~tcflag_t(PARODD);
        opt.c_iflag |= INPCK;
        break;
    case 's':
    case 'S':
        opt.c_cflag &= ~tcflag_t(PARENB | CSTOPB);
        opt.c_iflag |= INPCK;
        break;
    default:
        zevlog::warning(lcLink(), "Unsupported parity\n");
        return -1;
    }
    switch (stopbits) {
    case 1:
        opt.c_cflag &= ~tcflag_t(CSTOPB);
        break;
    case 2:
        opt.c_cflag |= CSTOPB;
        break;
    default:
        zevlog::warning(lcLink(), "Unsupported stop bits\n");
        return -1;
    }
    opt.c_cc[VTIME] = 1;
    opt.c_cc[VMIN] = 1;
    if (tcflush(fd, TCIFLUSH) != 0 || tcsetattr(fd, TCSANOW, &opt) != 0) {
        zevlog::warnErrno(lcLink(), "SetupSerial Error 3");
        return -1;
    }
    return 0;
}

int serial_modules::UartSetSpeed(int fd, int speed)
{
    for (const SpeedEntry& s : kSpeeds) {
        if (s.baud != speed)
            continue;
        termios opt;
        if (tcgetattr(fd, &opt) != 0) {
            zevlog::warnErrno(lcLink(), "UartSetSpeed Error 1");
            return -1;
        }
        if (cfsetispeed(&opt, s.code) != 0 || cfsetospeed(&opt, s.code) != 0 || tcflush(fd, TCIOFLUSH) != 0 ||
            tcsetattr(fd, TCSANOW, &opt) != 0)
            return -1;
        return 0;
    }
    return -1;
}

int serial_modules::recv_uart_data(Uart_Rec_Send_Data& record, int length)
{
    if (record.fd < 0 || length <= 0)
        return -1;
    pollfd p{record.fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
        return -1;
    if (length > kUartDataSize)
        length = kUartDataSize;
    ssize_t n = read(record.fd, record.data, size_t(length));
    if (n < 0)
        return -1;
    record.length = int32_t(n);
    return int(n);
}

int serial_modules::uart_send(const Uart_Rec_Send_Data& record)
{
    if (record.length < 0 || record.length > kUartDataSize)
        return -1;
    return uart_write(record.fd, record.data, record.length);
}

int serial_modules::uart_write(int fd, const u8* data, int length)
{
    if (fd <= 0 || !data || length < 0)
        return -1;
    bool rts = !no_rts_.count(fd);
    if (rts) {
        set_rts(fd, false);
        usleep(kTurnaroundUs);
    }
    int done = 0;
    while (done < length) {
        ssize_t n = write(fd, data + done, size_t(length - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            break;
        // The port's buffer is full: wait until it takes more, within bounds.
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, kStallMs) <= 0 || !(p.revents & POLLOUT))
            break;
    }
    // The direction line must not turn before the last byte has left.
    if (tcdrain(fd) != 0 && errno != ENOTTY)
        zevlog::warnErrno(lcLink(), "tcdrain");
    if (rts)
        set_rts(fd, true);
    return done == length ? done : -1;
}
