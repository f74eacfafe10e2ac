// Register commands: the box's register shadow with its masks and actions,
// and FPGA registers for every other destination.
#include <cstring>
#include <unistd.h>

#include "board/board.h"
#include "core/before_stop.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "link/message_deal.h"
#include "link/message_deal_fpga.h"
#include "link/message_gui.h"
#include "link/protocol_phy.h"
#include "chips/tarvosource.h"
#include "video/c331_manage.h"

namespace
{
// Request layout: 10 register, 11 mask, 12 ignored, 13 value.
constexpr int kReg = 10;
constexpr int kMask = 11;
constexpr int kValue = 13;
constexpr int kRegisterRequest = 14;
constexpr int kLastRegister = 169;
// The one FPGA register the PC may not write: the program's own record of
// the FPGA state (0 down, 2 starting, 3 up). The start-up, the interrupt
// service and every "FPGA up" test steer by it; a value from outside would
// have them act on a state the FPGA is not in.
constexpr u8 kFpgaStateRegister = 80;

// Request bytes of the source-check thread written by registers 160 to 165.
constexpr int kReq160 = 32;
constexpr int kReq165 = 33;
constexpr int kReq162 = 34;
constexpr int kReq163 = 35;
constexpr int kReq164 = 36;

constexpr int kSwitchMode = 2118;
constexpr int kWindows = 6;

u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}
u8& shadow_reg(int r)
{
    return ZevRamPara::device.reg[r];
}

void sleep_ms(int ms)
{
    usleep(useconds_t(ms) * 1000);
}
} // namespace

int message_deal::write_register(u8* body, int length)
{
    const u8 reg = body[kReg], mask = body[kMask], value = body[kValue];
    body[pc::kStatus] = 1;
    if (length < kRegisterRequest || reg > kLastRegister)
        return 1;
    if (!protocol_phy::is_box(protocol_phy::dest(body))) {
        if (reg == kFpgaStateRegister)
            return 1;
        body[pc::kStatus] = fpga_link::write_register(reg, mask, value, register_fpga(body)) ? 0 : 1;
        return 1;
    }
    const u8 v = mask & value;
    switch (reg) {
    case 12:
    case 13:
        body[pc::kStatus] = 0;
        return 1;
    case 160:
        shadow_reg(kReq160) = v;
        body[pc::kStatus] = 0;
        return 1;
    case 161: {
        if (v & 0x01)
            Utils::request_restart();
        if ((v & 0x02) && c331_manage::p_c331_manage)
            c331_manage::p_c331_manage->c331_print();
        // Window 0's point-to-point setting is stored in the image: not
        // taken while nothing can store it.
        if ((v & 0x3C) && !ZevRamPara::image_storable()) {
            body[pc::kStatus] = 1;
            return 1;
        }
        if (v & 0x3C) {
            // Read and written in one step: the panel writes the window too.
            c331_apply_if(1, [v] {
                const int w0 = ZevRamPara::layerOffset(0);
                u16 flags = ZevRamPara::get16(img(), w0 + Img::kLayerFlags);
                u16 mode = ZevRamPara::get16(img(), w0 + Img::kLayerP2pMode);
                u16 newFlags = flags, newMode = mode;
                // Byte 19 bit 0 of the window record: point-to-point on.
                if (v & 0x04) {
                    newFlags = u16(flags & ~0x0100);
                } else {
                    newFlags = u16(flags | 0x0100);
                    newMode = (v & 0x08) ? 0 : (v & 0x10) ? 8 : 9;
                }
                if (newFlags == flags && newMode == mode)
                    return false;
                ZevRamPara::put16(img(), w0 + Img::kLayerFlags, newFlags);
                ZevRamPara::put16(img(), w0 + Img::kLayerP2pMode, newMode);
                return true;
            });
        }
        body[pc::kStatus] = 0;
        return 1;
    }
    case 162:
    case 163:
    case 164:
    case 165:
        c331_apply(1, [&] {
            if (reg == 162)
                shadow_reg(kReq162) = v;
            else if (reg == 163)
                shadow_reg(kReq163) = u8(value + 1);
            else if (reg == 164)
                shadow_reg(kReq164) = v;
            else
                shadow_reg(kReq165) = v;
        });
        body[pc::kStatus] = 0;
        return 1;
    default:
        // Changed bit by bit atomically: register 0 is a request word the
        // source-check thread takes and clears in one step, and a plain
        // read, merge and write could bring back a request it had served.
        __atomic_fetch_and(&shadow_reg(reg), u8(~mask), __ATOMIC_ACQ_REL);
        __atomic_fetch_or(&shadow_reg(reg), u8(value & mask), __ATOMIC_ACQ_REL);
        body[pc::kStatus] = u8(reg_cmd_run(reg, mask));
        return 1;
    }
}

int message_deal::read_register(u8* body, int /*length*/)
{
    const u8 reg = body[kReg];
    if (reg > kLastRegister) {
        body[pc::kData] = 1;
        return 2;
    }
    body[pc::kStatus] = 0;
    if (!protocol_phy::is_box(protocol_phy::dest(body))) {
        const u8 fpga = register_fpga(body);
        if (!fpga_link::read_register(reg, fpga)) {
            body[pc::kStatus] = 1;
            body[pc::kData] = 0;
            return 2;
        }
        body[pc::kData] = fpga_link::mirror(fpga, reg);
        return 2;
    }
    if (reg != 4 && reg != 6)
        body[pc::kData] = 0;
    return 2;
}

int message_deal::reg_cmd_run(u8 reg, u8 mask)
{
    using Action = int (message_deal::*)(u8);
    struct Row {
        u8 reg;
        Action action;
    };
    // Register 0 has no action here: it is a request word that the
    // source-check thread acts on.
    static const Row actions[] = {
        {4, &message_deal::REG_fuction},   {5, &message_deal::REG_FLASH_STATUS1_flag},
        {9, &message_deal::REG_comm_flag}, {10, &message_deal::REG_com1_flag},
        {11, &message_deal::REG_mcu_flag}, {14, &message_deal::RegUpdate0E},
        {16, &message_deal::RegUpdate10},  {17, &message_deal::RegUpdate11},
    };
    for (const Row& r : actions) {
        if (r.reg == reg)
            return (this->*r.action)(mask);
    }
    return 1;
}

int message_deal::REG_fuction(u8)
{
    return 0;
}

int message_deal::REG_FLASH_STATUS1_flag(u8)
{
    return 0;
}

int message_deal::REG_comm_flag(u8)
{
    update_mode(__atomic_load_n(&shadow_reg(9), __ATOMIC_ACQUIRE) > 15);
    return 0;
}

int message_deal::REG_com1_flag(u8)
{
    update_mode((__atomic_load_n(&shadow_reg(10), __ATOMIC_ACQUIRE) & 0x7F) != 0);
    return 0;
}

void message_deal::update_mode(bool start)
{
    // The update page belongs to the GUI thread: its opening and closing are
    // queued to the main window.
    if (start && g_update_flag == 0) {
        if (message_gui* gui = message_gui::installed())
            gui->update_mode(true);
        g_update_flag = 1;
        Utils::wake_tick();
        ZevRamPara::test_signal(105);
    } else if (!start && g_update_flag == 1) {
        if (message_gui* gui = message_gui::installed())
            gui->update_mode(false);
        g_update_flag = 0;
        ZevRamPara::test_signal(106);
    }
}

void message_deal::request_led_setup()
{
    if (!fpga_link::up(0))
        return;
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    g_set_led_para = 1;
    g_set_led_setup = 0;
}

int message_deal::REG_mcu_flag(u8 mask)
{
    int status = 0;
    // The apply of image changes that nothing can store is refused: the PC
    // was refused the changes too.
    if ((mask & 0x02) && !ZevRamPara::image_storable()) {
        mask = u8(mask & ~0x02);
        status = 1;
    }
    if (mask & 0x02) {
        C331Lock lock;
        const u16 mode = ZevRamPara::img16(Img::kCurrentMode);
        const u16 modeShadow = ZevRamPara::shadow16(Img::kCurrentMode);
        // A recall is what the PC asked by writing a slot into the current
        // mode, and it is carried out whatever the word held before: a mode
        // the box itself made current (a save, a recall on the panel) is no
        // recall, and copying the slot back would undo the PC's changes
        // made since.
        const int asked = ZevRamPara::take_recall_asked();
        // The screen no longer shows a stored mode, unless a save or the
        // recall names one: also the save of word 868 that a page refresh
        // took before this register 11.
        const bool refreshSaved = ZevRamPara::take_refresh_save();
        if (asked < 0 && !refreshSaved)
            ZevRamPara::put16(img(), Img::kCurrentMode, 0);
        // A save asked by word 868 keeps the screen as it stands at this
        // apply, whatever changes come after it: it goes first, so a recall
        // asked beside it brings back the slot without undoing the save.
        ZevRamPara::take_mode_save_word();
        if (asked >= 0)
            ZevRamPara::recall_mode(asked);
        u16 audio = ZevRamPara::img16(Img::kAudioLayer);
        if (audio > 5)
            audio = 0;
        if (ZevRamPara::img16(ZevRamPara::layerOffset(audio) + Img::kLayerEnable) == 0)
            audio = 0;
        ZevRamPara::put16(img(), Img::kAudioLayer, audio);
        if (ZevRamPara::take_led_size_change()) {
            if (mode >= 2 && mode == modeShadow) {
                const int w0 = ZevRamPara::layerOffset(0);
                ZevRamPara::put16(img(), w0 + Img::kLayerX, 0);
                ZevRamPara::put16(img(), w0 + Img::kLayerY, 0);
                ZevRamPara::put16(img(), w0 + Img::kLayerW, ZevRamPara::img16(Img::kLedWidth));
                ZevRamPara::put16(img(), w0 + Img::kLayerH, ZevRamPara::img16(Img::kLedHeight));
                for (int w = 1; w < kWindows; ++w)
                    ZevRamPara::put16(img(), ZevRamPara::layerOffset(w) + Img::kLayerEnable, 0);
            }
            for (int w = 0; w < kWindows; ++w) {
                const int src = ZevRamPara::layerOffset(w) + Img::kLayerSource;
                u16 word = ZevRamPara::get16(img(), src);
                if (!(word & 0x8000))
                    continue;
                const int crop = word & 0xFF;
                // A reference past the crop table keeps its word: there is no
                // entry to take a source from.
                if (crop >= Img::kCropCount)
                    continue;
                ZevRamPara::put16(img(), src, img()[Img::kCropTable + Img::kCropSize * crop] & 0x0F);
            }
            request_led_setup();
            ZevRamPara::put16(img(), Img::kAudioLayer, 0);
        }
        const u8 sw = u8(ZevRamPara::img16(kSwitchMode) & 0x03);
        for (int w = 0; w < kWindows; ++w) {
            u8& flags = img()[ZevRamPara::layerOffset(w) + Img::kLayerFlags];
            flags = u8((flags & 0xF3) | (sw << 2));
        }
        c331_manage::para_update_flag = 1;
    }
    // The rewrite of the modes is asked with the answer: a stop before the
    // video processor takes it still makes it.
    if (mask & 0x04)
        c331_apply(2, [] { ZevRamPara::ask_modes_rewrite(); });
    if (mask & 0x08) {
        C331Lock lock;
        if (ZevRamPara::img16(Img::kOsdMenuFlag) == 1) {
            // The apply byte wakes the video processor: the reload request
            // goes first.
            g_osd_update = 1;
            c331_manage::para_update_flag = 1;
        }
    }
    return status;
}

int message_deal::RegUpdate0E(u8 mask)
{
    if ((mask & 0x01) && g_app_reset_flag == 0) {
        // No restart into an application that is not in place.
        if (!Utils::install_new_app())
            return 1;
        Utils::request_restart();
        sleep_ms(10);
        Utils::system_mutex("sync");
        sleep_ms(10);
    }
    if (mask & 0x02) {
        sleep_ms(100);
        // What was answered before goes to its file first.
        before_stop::reboot();
    }
    if ((mask & 0x08) && c331_manage::p_c331_manage) {
        c331_manage* c = c331_manage::p_c331_manage;
        c->read_c331_font(c->spi_fd);
        c->update_font(c->spi_fd);
    }
    return 0;
}

int message_deal::RegUpdate10(u8 mask)
{
    // The partial resets change the stored image: not taken while nothing
    // can store it.
    if ((mask & 0x12) && !(mask & 0x01) && !ZevRamPara::image_storable())
        return 1;
    if (mask & 0x01) {
        // A reset is whole or not at all: the image it leaves is on disk
        // before a mode file goes, written in place of a file that could not
        // be read, which the reset discards.
        const ZevRamPara::Reset reset = ZevRamPara::factory_reset_modes([] {
            ZevRamPara::factory_reset_into(img());
            if (ZevRamPara::take_led_size_change()) {
                request_led_setup();
                ZevRamPara::put16(img(), Img::kAudioLayer, 0);
            }
        });
        if (reset == ZevRamPara::Reset::refused) {
            zevlog::warning(lcLink(), "%s cannot be written: the factory reset is refused, nothing is reset",
                            board::shownPath(ZevRamPara::kDeviceInfoFile).c_str());
            return 1;
        }
        // Mode files that could not be removed are deleted by the rewrite of
        // the modes, which tries again each second while they stay.
        if (reset == ZevRamPara::Reset::files_left)
            ZevRamPara::test_signal(2);
    }
    if (mask & 0x02)
        c331_apply(1, [] { ZevRamPara::load_defaults(Img::kModeStart, Img::kSpliceMode); });
    if (mask & 0x10)
        c331_apply(1, [] { ZevRamPara::load_defaults(Img::kBrightness, Img::kQualityEnd); });
    if ((mask & 0x20) && Utils::net_identity().ip != "192.168.0.199")
        ZevRamPara::test_signal(3);
    return 0;
}

int message_deal::RegUpdate11(u8 mask)
{
    if ((mask & 0x01) && tarvosource::p_tarvo_source)
        tarvosource::p_tarvo_source->reg_update11 = 1;
    return 0;
}
