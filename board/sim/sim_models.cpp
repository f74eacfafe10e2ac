#include "board/sim/sim_models.h"

#include <memory>
#include <vector>

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
    // Threads of the program may use a model until the process ends, so
    // none is ever freed; they stay reachable from here.
    struct Kept {
        std::vector<std::unique_ptr<SimC331>> c331;
        std::vector<std::unique_ptr<SimInputs>> inputs;
    };
    static Kept& kept = *new Kept;
    kept.c331.push_back(std::make_unique<SimC331>(board.modelDir() + "/c331_flash.bin"));
    board.simSpi().attach("/dev/spidev32766.0", kept.c331.back().get());
    kept.inputs.push_back(std::make_unique<SimInputs>(board, board.modelDir() + "/inputs"));
    attachFpga(board);
    attachCards(board);
    attachFaults(board);
}

} // namespace board::sim
