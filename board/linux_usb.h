// The board's USB devices: the HID keypad through hidapi (hidraw) and the
// kernel's hot-plug messages through a netlink socket.
#pragma once

#include <memory>

#include "board/keypad.h"
#include "board/uevent.h"

namespace board
{

std::unique_ptr<Keypad> makeHidKeypad();
std::unique_ptr<Uevents> makeNetlinkUevents();

} // namespace board
