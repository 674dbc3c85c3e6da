// Compiled by the layer tests only: the shell must not see the board layer.
#include "board/BoardContext.h"

int probeBoardContext() {
    return tarvo::BoardContext{}.vmeHandle;
}
