// The hot keys of the USB keypad. Every page hands each released key here
// after its own handling; navigation keys and other codes are ignored.
#pragma once

class zev_keyboard
{
  public:
    zev_keyboard() {}
    // Window choice A..F, source choice G..L, freeze N and black P of the
    // current window; nothing while the key lock is on.
    void update_usb_keyEvent(int key);
};
