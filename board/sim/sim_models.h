// The device models of the simulated board.
#pragma once

namespace board::sim
{

class SimBoard;

// Creates the device models and attaches them to the board's buses. The
// models live as long as the process.
void attachModels(SimBoard& board);

} // namespace board::sim
