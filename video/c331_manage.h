// Manager of the c331 video-processor chip: brings the chip up, applies every
// change of the parameter image on its own thread, and gives the other
// subsystems the chip's serial flash (fonts) and register dump.
#pragma once

#include <atomic>
#include <chrono>
#include <pthread.h>

#include "core/global.h"
#include "core/para_apply.h"
#include "core/zevrampara.h"

struct OMENU_PARA;

// What one window (layer 0..5) shows, as the chip is programmed with it.
struct C331Window {
    u8 enable = 0;
    u8 source = 0;
    u16 x = 0, y = 0, w = 0, h = 0;                 // on the output
    u16 cropX = 0, cropY = 0, cropW = 0, cropH = 0; // of the input
    u16 scaleH = 4096, scaleV = 4096;               // input / output, 4.12 fixed point
    u8 mirror = 0;
    u8 flags = 0; // bit 0 black, bit 1 freeze, bit 2 fade switching
};

// Works out window layer of an image: its source (directly or through a crop
// record), the crop clamped to the input's timing, the scale factors. A
// window without a valid source, crop or size is disabled.
C331Window c331_window_setup(const u8* image, int layer);

class c331_manage
{
  public:
    static c331_manage* p_c331_manage;

    // Guards para_update_flag and the image writes that go with it. The
    // video-processor thread holds it for a whole apply pass.
    static inline pthread_mutex_t& mutex = g_para_apply_mutex;
    // Apply byte: 1 apply the edited image, 2 apply after a factory reset.
    static inline C331ApplyByte& para_update_flag = g_para_update_flag;
    // Cuts the thread's idle wait short (an apply, an input change).
    static void wake();
    // An image word that a reader of the hardware set to what the hardware
    // holds: the next apply takes it as no edit. Called with the mutex held.
    static void take_as_applied(int offset, u16 value);

    // Creates the manager, opens the chip and starts c331manageThread.
    static c331_manage* pInstance();

    // Opens the chip's SPI device; 0 done, 255 when it cannot be opened.
    int initialize();
    // One turn of the video-processor thread: bring-up while the chip is
    // down, OSD reload, the apply pass, or following the input timings.
    void c331managerdeal();
    // Identifies and starts the chip and programs the whole image; 1 done.
    int bring_up();

    // The chip's serial flash; fd is spi_fd. 1 done, 0 refused or failed.
    int erase_flash(int fd, int sector, int count, char mode);
    int write_flash(int fd, int addr, int len, char* buf);
    int read_flash(int chip, int address, int length, char* out);
    // Reads the four font headers into the font-status byte and font_mask;
    // 1 when every header could be read.
    int read_c331_font(int fd);
    // Loads the fonts marked present into the OSD.
    void update_font(int fd);
    // Prints every register of the mapped banks.
    void c331_print();

    // Named setters: each writes its registers in one place. 1 done.
    int c331_SetPattern(u8 pattern);
    int c331_SetBrightness(u8 value);
    int c331_SetContrast(u8 value);
    int c331_SetSharpness(u8 value);
    int c331_SetSaturation(u8 value);
    int c331_SetColorTemp(u8 type, u8 red, u8 green, u8 blue);
    int c331_SetBlackout(u8 on);
    int c331_SetPanel(u8 splice, u16 ledWidth, u16 ledHeight, u16 out1Width, u16 out1Height);
    int c331_SetWindow(int layer, const C331Window& win);
    int c331_SetOsdEnable(u8 on);
    int c331_SetOsdFonts(u8 mask, u8 index, const u32* bases);
    int c331_SetOsdBox(int box, const OMENU_PARA* menu);

    int spi_fd = -1;               // the chip's SPI descriptor
    std::atomic<u8> panel_mode{0}; // non-zero: dual-pixel output, half-width timing
    std::atomic<u8> font_mask{0};  // bit 0 32-px English, 1 32-px Chinese, 2 64-px English, 3 64-px Chinese
    std::atomic<u8> font_index{0}; // 0 the 32-pixel fonts, 1 the 64-pixel fonts
    std::atomic<bool> chip_up{false};
    // Cap of the wait for the LED set-up hand-shake.
    std::atomic<u32> led_wait_limit_ms{2000};
    c331_manage() = default;

  private:
    static void c331manageThread(c331_manage* self);
    void apply_pass();
    // Programs what differs between the image and what the chip was last
    // given (everything with force), and takes the image as given; 0 when a
    // register access failed.
    int program_image(const u8* live, bool force);
    int program_window(const u8* image, int layer);
    void follow_inputs();
    void reload_osd();
    // The LED words of the image differ from the applied ones; caller holds
    // the apply mutex.
    bool panel_differs() const;
    bool wait_led_ready();
    void request_fpga_brightness();
    void request_fpga_output_status();

    // Input timings as last programmed into the windows.
    u8 timing_[6 * 6] = {};
    // The image as the chip was last programmed with it. Not the shadow:
    // the GUI copies the image into the shadow when it saves it, and a
    // change written between an apply and that copy would never reach the
    // chip.
    u8 applied_[Img::kSize] = {};
    std::chrono::steady_clock::time_point last_try_{};
    bool tried_ = false;
};

// Reloads the OSD on the video-processor thread's next turn; set before the
// apply byte, whose store wakes the thread.
extern std::atomic<u8> g_osd_update;
