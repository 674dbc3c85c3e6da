// Compiled by the layer tests only: the board layer must not see the acquisition layer.
#include "acquisition/RunState.h"

int probeRunState() {
    tarvo::RunState state;
    return state.settings.cycleCount;
}
