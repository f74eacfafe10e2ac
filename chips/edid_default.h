// The built-in EDID of an input: a base block with one detailed timing for
// the input's EDID setting (width, height, rate of the parameter image) and,
// for the HDMI inputs, a CEA extension with the HDMI vendor block.
#pragma once

#include "core/global.h"

constexpr int kEdidSize = 256;

// Fills out (256 bytes) for source 0..5. A setting that is zero or cannot be
// carried by a detailed timing (pixel clock above 655.35 MHz) gives
// 1920 x 1080 at 60 Hz. Returns the timing's pixel clock in 10 kHz units.
u16 build_default_edid(int source, u16 width, u16 height, u16 rate, u8* out);

// Sum of the 128 bytes of block is 0 modulo 256.
bool edid_block_valid(const u8* block);
