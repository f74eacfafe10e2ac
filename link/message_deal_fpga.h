// What the command handlers need of the FPGA manager, in one place: every
// handler goes through here, and each call is refused when the manager does
// not exist.
#pragma once

#include "core/global.h"

namespace fpga_link
{
bool exists();
// The FPGA is up: register-mirror byte 80 is 3.
bool up(u8 fpga);
// Register-mirror byte; 0 without a manager.
u8 mirror(u8 fpga, u8 reg);
// Read-modify-write of an FPGA register; false without a manager.
bool write_register(u8 reg, u8 mask, u8 value, u8 fpga);
// Reads a register into the mirror; false without a manager.
bool read_register(u8 reg, u8 fpga);
// Receiving cards on the first FPGA's 16 ports; 0 without a manager.
u16 card_count();
} // namespace fpga_link
