// The rotary-encoder reader ("/dev/ec11", signalled with SIGIO). Nothing
// creates it: the panel keys reach the pages as key events.
#pragma once

#include "core/global.h"

extern u32 g_untouched_time;

class lcd_touch
{
  public:
    static lcd_touch* pInstance();
    static lcd_touch* p_lcd_touch;

    lcd_touch();
    // Opens the encoder and has it signal each event; the handler only
    // notes the event. 0 when the device is open, -1 when not.
    int lcd_touch_init();
    int initialize() { return 0; }
    static void* lcdmanageThread(void* arg);
    // Reads and prints the byte of a noted event, when the device is open.
    void lcd_touch_poll();
    int lcd_touch_detect() { return -1; }
    void auto_timeout_back();
};
