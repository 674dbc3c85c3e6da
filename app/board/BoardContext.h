#pragma once

#include <cstdint>

namespace tarvo {

class BoardBus;
class Operator;

// What every board access needs: the bridge handle, the path to the bridge, where the board sits
// and whom to tell when an access fails. Built from the run-state record for each operation.
struct BoardContext {
    int32_t vmeHandle = -1;
    BoardBus* bus = nullptr;  // nullptr: the bridge library
    uint32_t baseAddress = 0x03030000;
    Operator* op = nullptr;  // nullptr: failures are not shown
};

}  // namespace tarvo
