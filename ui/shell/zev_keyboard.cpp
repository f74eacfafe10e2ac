#include "ui/shell/zev_keyboard.h"

#include "core/global.h"
#include "core/logging.h"
#include "core/zevrampara.h"

namespace
{
// Source ids of the keys G..L.
const char kKeySource[6] = {0, 1, 4, 5, 2, 3};
} // namespace

void zev_keyboard::update_usb_keyEvent(int key)
{
    zevlog::debug(lcUi(), "\n======update_usb_keyEvent===== key = %#x\n", unsigned(key));
    if (ZevRamPara::locked16(Img::kKeyLock) != 0 || key < 65 || key > 80)
        return;
    if (key <= 70) {
        u8 window = u8(key - 65);
        bool enabled = window == 0 || (ZevRamPara::locked16(ZevRamPara::layerOffset(window)) & 1);
        if (enabled && g_image_current != window) {
            g_image_current = window;
            ZevRamPara::test_signal(1);
        }
    } else if (key <= 76) {
        ZevRamPara::ZevSetImageSource(0, kKeySource[key - 71], char(g_image_current.load()));
    } else if (key == 78) {
        ZevRamPara::ZevSetImageFreeze();
    } else if (key == 80) {
        ZevRamPara::ZevSetImageBlack();
    }
}
