// Register map of the c331 video processor as this program uses it (kept
// with the board: the driver and the simulated chip both speak it). A
// register is named by its bank (high byte) and its address in the bank (low
// byte, 1..127; address 0 of every bank is the bank select). It describes the
// chip, so the driver and the simulated chip share it.
#pragma once

#include <cstdint>

namespace C331Reg
{

constexpr uint16_t reg(uint8_t bank, uint8_t addr)
{
    return uint16_t((bank << 8) | addr);
}
constexpr uint8_t bankOf(uint16_t r)
{
    return uint8_t(r >> 8);
}
constexpr uint8_t addrOf(uint16_t r)
{
    return uint8_t(r & 0x7F);
}

constexpr int kBankRegs = 128;

// System bank: identity and start-up.
constexpr uint8_t kSysBank = 0x00;
constexpr uint16_t kChipId = reg(kSysBank, 0x01);
constexpr uint16_t kChipRev = reg(kSysBank, 0x02);
constexpr uint16_t kSoftReset = reg(kSysBank, 0x10);
constexpr uint16_t kInitDone = reg(kSysBank, 0x11);
constexpr uint8_t kChipIdValue = 0x31;

// Output bank: panel and splice timing.
constexpr uint8_t kPanelBank = 0x01;
constexpr uint16_t kSpliceMode = reg(kPanelBank, 0x01);
constexpr uint16_t kLedWidth = reg(kPanelBank, 0x02); // 16-bit, low byte first
constexpr uint16_t kLedHeight = reg(kPanelBank, 0x04);
constexpr uint16_t kOut1Width = reg(kPanelBank, 0x06);
constexpr uint16_t kOut1Height = reg(kPanelBank, 0x08);
constexpr uint16_t kPanelMode = reg(kPanelBank, 0x0A);
constexpr uint16_t kPanelLatch = reg(kPanelBank, 0x0B);

// Picture bank: adjustments, test pattern, blackout.
constexpr uint8_t kPictureBank = 0x02;
constexpr uint16_t kBrightness = reg(kPictureBank, 0x01);
constexpr uint16_t kContrast = reg(kPictureBank, 0x02);
constexpr uint16_t kSharpness = reg(kPictureBank, 0x03);
constexpr uint16_t kSaturation = reg(kPictureBank, 0x04);
constexpr uint16_t kColorTempType = reg(kPictureBank, 0x05);
constexpr uint16_t kRedGain = reg(kPictureBank, 0x06);
constexpr uint16_t kGreenGain = reg(kPictureBank, 0x07);
constexpr uint16_t kBlueGain = reg(kPictureBank, 0x08);
constexpr uint16_t kPattern = reg(kPictureBank, 0x10);
constexpr uint16_t kBlackout = reg(kPictureBank, 0x11);

// One bank per window (layer 0..5).
constexpr uint8_t kWindowBank0 = 0x10;
constexpr int kWindowCount = 6;
constexpr uint8_t windowBank(int layer)
{
    return uint8_t(kWindowBank0 + layer);
}
constexpr uint8_t kWinEnable = 0x01;
constexpr uint8_t kWinSource = 0x02;
constexpr uint8_t kWinX = 0x03; // 16-bit fields, low byte first
constexpr uint8_t kWinY = 0x05;
constexpr uint8_t kWinW = 0x07;
constexpr uint8_t kWinH = 0x09;
constexpr uint8_t kWinCropX = 0x0B;
constexpr uint8_t kWinCropY = 0x0D;
constexpr uint8_t kWinCropW = 0x0F;
constexpr uint8_t kWinCropH = 0x11;
constexpr uint8_t kWinScaleH = 0x13; // input / output in 4.12 fixed point
constexpr uint8_t kWinScaleV = 0x15;
constexpr uint8_t kWinMirror = 0x17;
constexpr uint8_t kWinFlags = 0x18;
constexpr uint8_t kWinLatch = 0x1F;

// OSD bank: fonts and menu boxes.
constexpr uint8_t kOsdBank = 0x30;
constexpr uint16_t kOsdEnable = reg(kOsdBank, 0x01);
constexpr uint16_t kOsdFontMask = reg(kOsdBank, 0x02);
constexpr uint16_t kOsdFontIndex = reg(kOsdBank, 0x03);
// Flash base of font f (0 32-px English, 1 32-px Chinese, 2 64-px English,
// 3 64-px Chinese): three bytes, low byte first.
constexpr uint16_t osdFontBase(int f)
{
    return reg(kOsdBank, uint8_t(0x04 + 3 * f));
}
// Menu box i (0..2): enable, x, y, w, h (16-bit), text length, text port.
constexpr uint8_t osdBoxAddr(int i)
{
    return uint8_t(0x20 + 0x10 * i);
}
constexpr uint8_t kOsdBoxEnable = 0x00;
constexpr uint8_t kOsdBoxX = 0x01;
constexpr uint8_t kOsdBoxY = 0x03;
constexpr uint8_t kOsdBoxW = 0x05;
constexpr uint8_t kOsdBoxH = 0x07;
constexpr uint8_t kOsdBoxTextLen = 0x09;
constexpr uint8_t kOsdBoxText = 0x0A; // data port: characters, 16-bit each, low byte first
constexpr int kOsdBoxes = 3;
constexpr int kOsdTextMax = 64;

// Serial-flash controller bank. The data port is a FIFO: a burst write or
// read on it moves one byte per data byte of the transfer.
constexpr uint8_t kFlashBank = 0x3F;
constexpr uint16_t kFlashCmd = reg(kFlashBank, 0x01);
constexpr uint16_t kFlashAddr0 = reg(kFlashBank, 0x02);
constexpr uint16_t kFlashAddr1 = reg(kFlashBank, 0x03);
constexpr uint16_t kFlashAddr2 = reg(kFlashBank, 0x04);
constexpr uint16_t kFlashLen = reg(kFlashBank, 0x05); // 0 means 256
constexpr uint16_t kFlashData = reg(kFlashBank, 0x06);
constexpr uint16_t kFlashStatus = reg(kFlashBank, 0x07);
constexpr uint16_t kFlashFifoReset = reg(kFlashBank, 0x08);

// Serial-flash commands and status bits.
constexpr uint8_t kCmdWriteEnable = 0x06;
constexpr uint8_t kCmdPageProgram = 0x02;
constexpr uint8_t kCmdRead = 0x03;
constexpr uint8_t kCmdErase4K = 0x20;
constexpr uint8_t kCmdErase32K = 0x52;
constexpr uint8_t kCmdErase64K = 0xD8;
constexpr uint8_t kStatusBusy = 0x01;
constexpr uint8_t kStatusWel = 0x02;

constexpr uint32_t kFlashSize = 0x2000000;
constexpr uint32_t kFlashPage = 256;

// Banks the register dump covers (not the flash bank: reading its data port
// would take bytes from the FIFO).
constexpr uint8_t kDumpBanks[] = {kSysBank,      kPanelBank,    kPictureBank,  windowBank(0), windowBank(1),
                                  windowBank(2), windowBank(3), windowBank(4), windowBank(5), kOsdBank};

} // namespace C331Reg
