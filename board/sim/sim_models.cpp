#include "board/sim/sim_models.h"

#include "board/sim/sim_board.h"
#include "board/sim/sim_cards.h"
#include "board/sim/sim_faults.h"
#include "board/sim/sim_fpga.h"
#include "board/sim/sim_c331.h"
#include "board/sim/sim_inputs.h"

namespace board::sim
{

void attachModels(SimBoard& board)
{
    board.simSpi().attach("/dev/spidev32766.0", new SimC331(board.modelDir() + "/c331_flash.bin"));
    new SimInputs(board, board.modelDir() + "/inputs");
    attachFpga(board);
    attachCards(board);
    attachFaults(board);
}

} // namespace board::sim
