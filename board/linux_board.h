// The real board: spidev, i2c-dev, MTD ioctls, the SoC pad window and the
// board's own shell programs.
#pragma once

#include "board/board.h"

namespace board
{

std::unique_ptr<Board> makeLinuxBoard();

// True when the board's devices are present on this machine.
bool linuxBoardPresent();

} // namespace board
