#include "board/sim/sim_models.h"

#include "board/sim/sim_board.h"

namespace board::sim {

void attachModels(SimBoard& board)
{
    (void)board;
}

} // namespace board::sim
