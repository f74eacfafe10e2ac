#include "ui/shell/lcd_touch.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "board/board.h"
#include "core/logging.h"

u32 g_untouched_time = 0;
lcd_touch* lcd_touch::p_lcd_touch = nullptr;

namespace
{
int g_ec11_fd = -1;
// Set by the signal handler, taken by lcd_touch_poll: a handler may do no
// more than that safely.
volatile sig_atomic_t g_ec11_event = 0;

void ec11_signal(int)
{
    g_ec11_event = 1;
}
} // namespace

lcd_touch* lcd_touch::pInstance()
{
    if (!p_lcd_touch)
        p_lcd_touch = new lcd_touch();
    return p_lcd_touch;
}

lcd_touch::lcd_touch()
{
    lcd_touch_init();
}

int lcd_touch::lcd_touch_init()
{
    if (g_ec11_fd >= 0)
        return 0;
    int fd = ::open(board::path("/dev/ec11").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        zevlog::warnErrno(lcUi(), ("open " + board::shownPath("/dev/ec11")).c_str());
        return -1;
    }
    struct sigaction sa = {};
    sa.sa_handler = ec11_signal;
    sigemptyset(&sa.sa_mask);
    int flags = ::fcntl(fd, F_GETFL);
    if (sigaction(SIGIO, &sa, nullptr) != 0 || ::fcntl(fd, F_SETOWN, getpid()) != 0 || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags | O_ASYNC) != 0) {
        zevlog::warnErrno(lcUi(), "ec11 signal set-up");
        ::close(fd);
        return -1;
    }
    g_ec11_fd = fd;
    return 0;
}

void lcd_touch::lcd_touch_poll()
{
    if (!g_ec11_event || g_ec11_fd < 0)
        return;
    g_ec11_event = 0;
    unsigned char key = 0;
    if (::read(g_ec11_fd, &key, 1) == 1)
        zevlog::debug(lcUi(), "signumkey_val: %#x\n\n", key);
}

void* lcd_touch::lcdmanageThread(void* arg)
{
    if (!arg)
        return nullptr;
    lcd_touch* self = static_cast<lcd_touch*>(arg);
    for (;;) {
        self->lcd_touch_poll();
        usleep(1000);
    }
    return nullptr;
}

void lcd_touch::auto_timeout_back()
{
    if (lcd_touch_detect() == 0)
        g_untouched_time = 0;
    else if (g_untouched_time <= 100000)
        ++g_untouched_time;
}
