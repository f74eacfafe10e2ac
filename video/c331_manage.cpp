#include "video/c331_manage.h"

#include <cstdio>
#include <optional>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QString>

#include <QMutexLocker>

#include "chips/tarvosource.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/omenu.h"
#include "core/utils.h"
#include "core/wake_flag.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "video/c331_drv.h"
#include "board/c331_regs.h"

using namespace C331Reg;

c331_manage* c331_manage::p_c331_manage = nullptr;

namespace
{
// Never destroyed: a link or the panel may still wake it while the process
// ends.
WakeFlag& g_wake = *new WakeFlag;

// The thread's pause between turns: until wake(), or until the given time
// when there is one.
void wait_for_wake(std::optional<std::chrono::steady_clock::time_point> until)
{
    if (until)
        g_wake.wait_until(*until);
    else
        g_wake.wait();
}
} // namespace

void c331_manage::take_as_applied(int offset, u16 value)
{
    if (c331_manage* m = p_c331_manage)
        if (offset >= 0 && offset + 2 <= Img::kSize)
            ZevRamPara::put16(m->applied_, offset, value);
}

void c331_manage::wake()
{
    g_wake.wake();
}
std::atomic<u8> g_osd_update{0};

namespace
{

constexpr auto kBringUpRetry = std::chrono::seconds(1);
// Image words of the LED panel set-up.
constexpr int kPanelWords[] = {Img::kSpliceMode, Img::kLedWidth, Img::kLedHeight, Img::kOut1Width, Img::kOut1Height};
// Picture-quality block: brightness, contrast, sharpness, saturation,
// colour-temperature type, red, green and blue gains.
constexpr int kImgSharpness = Img::kBrightness + 4;
constexpr int kImgSaturation = Img::kBrightness + 6;
constexpr int kImgColorTemp = Img::kBrightness + 8; // type, then the three gains

// Font headers: flash address and the bits each marks in the font-status
// byte of the parameter store.
struct FontSlot {
    u32 addr;
    u8 statusBits;
};
constexpr FontSlot kFonts[4] = {{0x000000, 0x01}, {0x010000, 0x02}, {0x410000, 0x14}, {0x450000, 0x28}};
constexpr int kFontHeaderSize = 35;

u16 w16(const u8* base, int off)
{
    return ZevRamPara::get16(base, off);
}
u8 clamp8(u16 v)
{
    return v > 255 ? 255 : u8(v);
}
bool differs(const u8* a, const u8* b, int off, int len)
{
    return std::memcmp(a + off, b + off, size_t(len)) != 0;
}

u16 scale(u16 in, u16 out)
{
    if (in == 0 || out == 0)
        return 4096;
    u32 s = u32(in) * 4096u / out;
    return s > 0xFFFF ? 0xFFFF : u16(s);
}

} // namespace

C331Window c331_window_setup(const u8* image, int layer)
{
    C331Window win;
    if (layer < 0 || layer >= kWindowCount)
        return win;
    int rec = ZevRamPara::layerOffset(layer);
    u16 srcWord = w16(image, rec + Img::kLayerSource);
    int source;
    bool cropped = srcWord & 0x8000;
    int cropOff = 0;
    if (cropped) {
        int k = srcWord & 0xFF;
        if (k >= Img::kCropCount)
            return win;
        cropOff = Img::kCropTable + Img::kCropSize * k;
        u16 id = w16(image, cropOff);
        if (!(id & 0x8000))
            return win; // the crop was deleted
        source = id & 0xFF;
    } else {
        source = srcWord & 0xFF;
    }
    if (source >= kSourceCount)
        return win;
    win.source = u8(source);
    win.x = w16(image, rec + Img::kLayerX);
    win.y = w16(image, rec + Img::kLayerY);
    win.w = w16(image, rec + Img::kLayerW);
    win.h = w16(image, rec + Img::kLayerH);
    win.mirror = u8(w16(image, rec + Img::kLayerMirror) & 3);
    win.flags = u8(image[rec + Img::kLayerFlags] & 7);

    int t = Img::kSourceTiming + 6 * source;
    u16 inW = w16(image, t), inH = w16(image, t + 2);
    if (cropped) {
        win.cropX = w16(image, cropOff + 2);
        win.cropY = w16(image, cropOff + 4);
        win.cropW = w16(image, cropOff + 6);
        win.cropH = w16(image, cropOff + 8);
        // A crop is kept inside the input it cuts from, once that is known.
        if (inW && inH) {
            if (win.cropX >= inW)
                win.cropX = 0;
            if (win.cropY >= inH)
                win.cropY = 0;
            if (win.cropW == 0 || win.cropW > inW - win.cropX)
                win.cropW = u16(inW - win.cropX);
            if (win.cropH == 0 || win.cropH > inH - win.cropY)
                win.cropH = u16(inH - win.cropY);
        }
    } else {
        win.cropW = inW;
        win.cropH = inH;
    }
    win.scaleH = scale(win.cropW, win.w);
    win.scaleV = scale(win.cropH, win.h);
    win.enable = (w16(image, rec + Img::kLayerEnable) & 1) && win.w && win.h;
    return win;
}

c331_manage* c331_manage::pInstance()
{
    if (!p_c331_manage) {
        p_c331_manage = new c331_manage();
        C331ApplyByte::set_wake_hook(&c331_manage::wake);
        p_c331_manage->initialize();
        std::thread(c331manageThread, p_c331_manage).detach();
    }
    return p_c331_manage;
}

int c331_manage::initialize()
{
    spi_fd = c331_drv::spi_open();
    if (spi_fd < 0) {
        writeLogMsg(LOG_ERROR, "c331: spi device can't be opened");
        return 255;
    }
    return 0;
}

void c331_manage::c331manageThread(c331_manage* self)
{
    pthread_setname_np(pthread_self(), "c331manage");
    writeLogMsg(LOG_BANNER, "c331 manage thread started");
    for (;;) {
        self->c331managerdeal();
        // Applies, OSD reloads and input changes wake the thread; only a
        // chip that is not up yet is tried again on time.
        if (self->chip_up)
            wait_for_wake(std::nullopt);
        else
            wait_for_wake(self->last_try_ + kBringUpRetry);
    }
}

void c331_manage::c331managerdeal()
{
    if (!chip_up) {
        auto now = std::chrono::steady_clock::now();
        if (!tried_ || now - last_try_ >= kBringUpRetry) {
            tried_ = true;
            last_try_ = now;
            bring_up();
        }
    }
    if (g_osd_update.exchange(0))
        reload_osd();
    if (para_update_flag)
        apply_pass();
    else if (chip_up)
        follow_inputs();
}

int c331_manage::bring_up()
{
    if (spi_fd < 0 && initialize() != 0)
        return 0;
    u8 id = 0, done = 0;
    if (!c331_drv::read_reg(spi_fd, kChipId, &id) || id != kChipIdValue) {
        if (debugOn())
            zevlog::debug(lcVideo(), "\n c331 not found (id %#x)\n", id);
        return 0;
    }
    if (!c331_drv::write_reg(spi_fd, kSoftReset, 1) || !c331_drv::read_reg(spi_fd, kInitDone, &done) || !done)
        return 0;
    int ok;
    {
        C331Lock lock;
        ok = program_image(ZevRamPara::p_zevrampara_config, true);
    }
    if (!ok)
        return 0;
    read_c331_font(spi_fd);
    update_font(spi_fd);
    chip_up = true;
    writeLogMsg(LOG_BANNER, "c331 is up");
    return 1;
}

bool c331_manage::panel_differs() const
{
    for (int off : kPanelWords)
        if (ZevRamPara::img16(off) != w16(applied_, off))
            return true;
    return false;
}

// Waits without c331_manage's mutex: the FPGA worker's steps are counted in
// GUI ticks, and a page blocked on that mutex would stop the ticks.
bool c331_manage::wait_led_ready()
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(led_wait_limit_ms.load());
    while (g_set_led_para == 1) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(1000);
    }
    return true;
}

void c331_manage::apply_pass()
{
    for (int tries = 0;; ++tries) {
        bool waitLed;
        {
            C331Lock lock;
            waitLed = panel_differs();
        }
        if (waitLed && !wait_led_ready())
            writeLogMsg(LOG_ERROR, "c331: LED set-up hand-shake timed out");
        C331Lock lock;
        // A new set-up request may have come while the mutex was free.
        if (tries < 2 && panel_differs() && g_set_led_para == 1)
            continue;
        u8 code = para_update_flag;
        if (code == 0)
            return;
        const bool panel = panel_differs();
        if (chip_up && !program_image(ZevRamPara::p_zevrampara_config, false)) {
            // The whole image goes in again once the chip answers.
            chip_up = false;
            writeLogMsg(LOG_ERROR, "c331: register access failed; the chip is set up again");
        }
        if (panel) {
            QMutexLocker l(&Utils::_led_para_init_mutex);
            g_set_led_para = 2;
        }
        ZevRamPara::test_signal(code);
        para_update_flag = 0;
        return;
    }
}

void c331_manage::request_fpga_brightness()
{
    if (!fpga_manage::p_fpga_manage)
        return;
    {
        QMutexLocker l(&Utils::_bri_set_mutex);
        fpga_manage::p_fpga_manage->bri_set_flag = 1;
    }
    wake_fpga_worker();
}

// The LED screen follows the blackout word: the FPGA worker switches it.
void c331_manage::request_fpga_output_status()
{
    if (!fpga_manage::p_fpga_manage)
        return;
    {
        QMutexLocker l(&Utils::_system_mutex);
        fpga_manage::p_fpga_manage->output_status_flag = 1;
    }
    wake_fpga_worker();
}

int c331_manage::program_image(const u8* live, bool force)
{
    // One consistent copy: the source-check thread writes the timings.
    u8 image[Img::kSize];
    {
        QMutexLocker l(&Utils::_source_hdminfo_mutex);
        std::memcpy(image, live, sizeof image);
    }
    int ok = 1;
    auto changed = [&](int off, int len) { return force || differs(image, applied_, off, len); };

    if (changed(Img::kTestPattern, 1))
        ok &= c331_SetPattern(image[Img::kTestPattern]);

    // Every EDID record that changed is served again, and so is every
    // source that takes its EDID from the RAM table.
    if (!force && tarvosource::p_tarvo_source)
        for (int s = 0; s < kSourceCount; ++s)
            if (differs(image, applied_, Img::kEdid + 6 * s, 6) || edid_ram_table_from[s] == 1)
                tarvosource::p_tarvo_source->request_edid(s);

    bool panel = false;
    for (int off : kPanelWords)
        panel |= changed(off, 2);
    if (panel)
        ok &= c331_SetPanel(u8(w16(image, Img::kSpliceMode)), w16(image, Img::kLedWidth), w16(image, Img::kLedHeight),
                            w16(image, Img::kOut1Width), w16(image, Img::kOut1Height));

    bool crops = changed(Img::kCropTable, Img::kCropCount * Img::kCropSize);
    for (int i = 0; i < kWindowCount; ++i) {
        int rec = ZevRamPara::layerOffset(i);
        u16 srcWord = w16(image, rec + Img::kLayerSource);
        short isCrop = 0;
        char cropIndex = 0;
        int src = ZevRamPara::ZevGetImageSource(image, u8(i), &isCrop, &cropIndex, 0);
        bool inputChanged =
            src < kSourceCount && std::memcmp(image + Img::kSourceTiming + 6 * src, timing_ + 6 * src, 6) != 0;
        if (changed(rec, Img::kLayerSize) || ((srcWord & 0x8000) && crops) || inputChanged)
            ok &= program_window(image, i);
    }
    std::memcpy(timing_, image + Img::kSourceTiming, sizeof timing_);

    if (changed(Img::kBrightness, 2)) {
        ok &= c331_SetBrightness(clamp8(w16(image, Img::kBrightness)));
        if (!force)
            request_fpga_brightness();
    }
    if (changed(Img::kContrast, 2))
        ok &= c331_SetContrast(clamp8(w16(image, Img::kContrast)));
    if (changed(kImgSharpness, 2))
        ok &= c331_SetSharpness(clamp8(w16(image, kImgSharpness)));
    if (changed(kImgSaturation, 2))
        ok &= c331_SetSaturation(clamp8(w16(image, kImgSaturation)));
    if (changed(kImgColorTemp, 8))
        ok &= c331_SetColorTemp(clamp8(w16(image, kImgColorTemp)), clamp8(w16(image, kImgColorTemp + 2)),
                                clamp8(w16(image, kImgColorTemp + 4)), clamp8(w16(image, kImgColorTemp + 6)));
    if (changed(Img::kBlackout, 2)) {
        ok &= c331_SetBlackout(w16(image, Img::kBlackout) & 1);
        if (!force)
            request_fpga_output_status();
    }
    std::memcpy(applied_, image, sizeof applied_);
    return ok;
}

int c331_manage::program_window(const u8* image, int layer)
{
    return c331_SetWindow(layer, c331_window_setup(image, layer));
}

// Re-programs the windows fed by an input whose timing changed.
void c331_manage::follow_inputs()
{
    u8 now[sizeof timing_];
    {
        QMutexLocker l(&Utils::_source_hdminfo_mutex);
        std::memcpy(now, ZevRamPara::p_zevrampara_config + Img::kSourceTiming, sizeof now);
    }
    if (std::memcmp(now, timing_, sizeof now) == 0)
        return;
    C331Lock lock;
    const u8* image = ZevRamPara::p_zevrampara_config;
    int ok = 1;
    for (int i = 0; i < kWindowCount; ++i) {
        short isCrop = 0;
        char cropIndex = 0;
        int src = ZevRamPara::ZevGetImageSource(image, u8(i), &isCrop, &cropIndex, 0);
        if (src < kSourceCount && std::memcmp(now + 6 * src, timing_ + 6 * src, 6) != 0)
            ok &= program_window(image, i);
    }
    if (!ok) {
        chip_up = false;
        return;
    }
    std::memcpy(timing_, now, sizeof timing_);
}

void c331_manage::reload_osd()
{
    if (!chip_up)
        return;
    read_c331_font(spi_fd);
    update_font(spi_fd);
    OSD_LIST list;
    get_json_omenu_para("/data/configs/omenu.json", &list);
    int ok = 1;
    for (int i = 0; i < kOsdBoxes; ++i)
        ok &= c331_SetOsdBox(i, i < list.osdcount ? &list.menu[i] : nullptr);
    ok &= c331_SetOsdEnable(ZevRamPara::img16(Img::kOsdMenuFlag) != 0 && list.osdcount > 0);
    if (!ok)
        chip_up = false;
}

// ---- flash and fonts ----

int c331_manage::erase_flash(int fd, int sector, int count, char mode)
{
    u8 cmd = mode == 0 ? kCmdErase4K : mode == 1 ? kCmdErase32K : kCmdErase64K;
    u32 unit = mode == 0 ? 0x1000 : mode == 1 ? 0x8000 : 0x10000;
    if (sector < 0 || count < 1 || uint64_t(sector) * 0x1000 + uint64_t(count) * unit > kFlashSize)
        return 0;
    u32 addr = u32(sector) * 0x1000;
    for (int i = 0; i < count; ++i, addr += unit)
        if (!c331_drv::flash_erase_unit(fd, addr, cmd))
            return 0;
    return 1;
}

int c331_manage::write_flash(int fd, int addr, int len, char* buf)
{
    if (addr < 0 || len < 1 || !buf || uint64_t(addr) + uint64_t(len) > kFlashSize)
        return 0;
    u32 a = u32(addr);
    const u8* p = reinterpret_cast<const u8*>(buf);
    u32 left = u32(len);
    while (left) {
        u32 n = kFlashPage - (a % kFlashPage);
        if (n > left)
            n = left;
        if (!c331_drv::flash_program_page(fd, a, p, n))
            return 0;
        a += n;
        p += n;
        left -= n;
    }
    return 1;
}

int c331_manage::read_flash(int chip, int address, int length, char* out)
{
    if (address < 0 || length < 1 || !out || uint64_t(address) + uint64_t(length) > kFlashSize)
        return 0;
    u32 a = u32(address);
    u8* p = reinterpret_cast<u8*>(out);
    u32 left = u32(length);
    while (left) {
        u32 n = left > kFlashPage ? kFlashPage : left;
        if (!c331_drv::flash_read_chunk(chip, a, p, n))
            return 0;
        a += n;
        p += n;
        left -= n;
    }
    return 1;
}

int c331_manage::read_c331_font(int fd)
{
    int all = 1;
    for (int f = 0; f < 4; ++f) {
        char h[kFontHeaderSize];
        if (!read_flash(fd, int(kFonts[f].addr), kFontHeaderSize, h)) {
            all = 0; // an unreadable header leaves what is known of that font
            continue;
        }
        bool present = h[0] == 'P';
        u8 bit = u8(1u << f);
        font_mask = present ? u8(font_mask | bit) : u8(font_mask & ~bit);
        ZevRamPara::device.font_status = present ? u8(ZevRamPara::device.font_status | kFonts[f].statusBits)
                                                 : u8(ZevRamPara::device.font_status & ~kFonts[f].statusBits);
    }
    return all;
}

void c331_manage::update_font(int fd)
{
    (void)fd;
    u32 bases[4];
    for (int f = 0; f < 4; ++f)
        bases[f] = kFonts[f].addr;
    c331_SetOsdFonts(font_mask, font_index, bases);
}

void c331_manage::c331_print()
{
    for (u8 bank : kDumpBanks)
        for (int a = 1; a < kBankRegs; ++a) {
            u16 r = reg(bank, u8(a));
            u8 v = 0;
            if (!c331_drv::read_reg(spi_fd, r, &v))
                return;
            qCInfo(lcVideo, "%06X  %08Xh", unsigned(r), unsigned(v));
        }
}

// ---- named setters ----

int c331_manage::c331_SetPattern(u8 pattern)
{
    return c331_drv::write_reg(spi_fd, kPattern, pattern > 8 ? 0 : pattern);
}

int c331_manage::c331_SetBrightness(u8 value)
{
    return c331_drv::write_reg(spi_fd, kBrightness, value);
}

int c331_manage::c331_SetContrast(u8 value)
{
    return c331_drv::write_reg(spi_fd, kContrast, value);
}

int c331_manage::c331_SetSharpness(u8 value)
{
    return c331_drv::write_reg(spi_fd, kSharpness, value);
}

int c331_manage::c331_SetSaturation(u8 value)
{
    return c331_drv::write_reg(spi_fd, kSaturation, value);
}

int c331_manage::c331_SetColorTemp(u8 type, u8 red, u8 green, u8 blue)
{
    return c331_drv::write_reg(spi_fd, kColorTempType, type) && c331_drv::write_reg(spi_fd, kRedGain, red) &&
           c331_drv::write_reg(spi_fd, kGreenGain, green) && c331_drv::write_reg(spi_fd, kBlueGain, blue);
}

int c331_manage::c331_SetBlackout(u8 on)
{
    return c331_drv::write_reg(spi_fd, kBlackout, on ? 1 : 0);
}

int c331_manage::c331_SetPanel(u8 splice, u16 ledWidth, u16 ledHeight, u16 out1Width, u16 out1Height)
{
    u8 mode = panel_mode;
    // In dual-pixel mode each clock carries two pixels: half the width.
    u16 w = mode ? u16(out1Width / 2) : out1Width;
    return c331_drv::write_reg(spi_fd, kSpliceMode, splice) && c331_drv::write_reg16(spi_fd, kLedWidth, ledWidth) &&
           c331_drv::write_reg16(spi_fd, kLedHeight, ledHeight) && c331_drv::write_reg16(spi_fd, kOut1Width, w) &&
           c331_drv::write_reg16(spi_fd, kOut1Height, out1Height) &&
           c331_drv::write_reg(spi_fd, kPanelMode, mode ? 1 : 0) && c331_drv::write_reg(spi_fd, kPanelLatch, 1);
}

int c331_manage::c331_SetWindow(int layer, const C331Window& win)
{
    if (layer < 0 || layer >= kWindowCount)
        return 0;
    u8 b = windowBank(layer);
    int fd = spi_fd;
    return c331_drv::write_reg(fd, reg(b, kWinEnable), win.enable) &&
           c331_drv::write_reg(fd, reg(b, kWinSource), win.source) && c331_drv::write_reg16(fd, reg(b, kWinX), win.x) &&
           c331_drv::write_reg16(fd, reg(b, kWinY), win.y) && c331_drv::write_reg16(fd, reg(b, kWinW), win.w) &&
           c331_drv::write_reg16(fd, reg(b, kWinH), win.h) && c331_drv::write_reg16(fd, reg(b, kWinCropX), win.cropX) &&
           c331_drv::write_reg16(fd, reg(b, kWinCropY), win.cropY) &&
           c331_drv::write_reg16(fd, reg(b, kWinCropW), win.cropW) &&
           c331_drv::write_reg16(fd, reg(b, kWinCropH), win.cropH) &&
           c331_drv::write_reg16(fd, reg(b, kWinScaleH), win.scaleH) &&
           c331_drv::write_reg16(fd, reg(b, kWinScaleV), win.scaleV) &&
           c331_drv::write_reg(fd, reg(b, kWinMirror), win.mirror) &&
           c331_drv::write_reg(fd, reg(b, kWinFlags), win.flags) && c331_drv::write_reg(fd, reg(b, kWinLatch), 1);
}

int c331_manage::c331_SetOsdEnable(u8 on)
{
    return c331_drv::write_reg(spi_fd, kOsdEnable, on ? 1 : 0);
}

int c331_manage::c331_SetOsdFonts(u8 mask, u8 index, const u32* bases)
{
    int ok = 1;
    for (int f = 0; f < 4; ++f) {
        u16 r = osdFontBase(f);
        ok &= c331_drv::write_reg(spi_fd, r, u8(bases[f])) &&
              c331_drv::write_reg(spi_fd, u16(r + 1), u8(bases[f] >> 8)) &&
              c331_drv::write_reg(spi_fd, u16(r + 2), u8(bases[f] >> 16));
    }
    return ok && c331_drv::write_reg(spi_fd, kOsdFontMask, mask) && c331_drv::write_reg(spi_fd, kOsdFontIndex, index);
}

int c331_manage::c331_SetOsdBox(int box, const OMENU_PARA* menu)
{
    if (box < 0 || box >= kOsdBoxes)
        return 0;
    u8 a = osdBoxAddr(box);
    if (!menu)
        return c331_drv::write_reg(spi_fd, reg(kOsdBank, u8(a + kOsdBoxEnable)), 0);
    // The OSD draws 16-bit character codes; the menu file holds UTF-8.
    QString text = QString::fromStdString(menu->texts).left(kOsdTextMax);
    std::vector<u8> codes;
    for (QChar c : text) {
        codes.push_back(u8(c.unicode()));
        codes.push_back(u8(c.unicode() >> 8));
    }
    int ok = c331_drv::write_reg(spi_fd, reg(kOsdBank, u8(a + kOsdBoxEnable)), menu->status ? 1 : 0) &&
             c331_drv::write_reg16(spi_fd, reg(kOsdBank, u8(a + kOsdBoxX)), u16(menu->x)) &&
             c331_drv::write_reg16(spi_fd, reg(kOsdBank, u8(a + kOsdBoxY)), u16(menu->y)) &&
             c331_drv::write_reg16(spi_fd, reg(kOsdBank, u8(a + kOsdBoxW)), u16(menu->w)) &&
             c331_drv::write_reg16(spi_fd, reg(kOsdBank, u8(a + kOsdBoxH)), u16(menu->h)) &&
             c331_drv::write_reg(spi_fd, reg(kOsdBank, u8(a + kOsdBoxTextLen)), u8(text.size()));
    if (ok && !codes.empty())
        ok = c331_drv::write_burst(spi_fd, reg(kOsdBank, u8(a + kOsdBoxText)), codes.data(), u32(codes.size()));
    return ok;
}
