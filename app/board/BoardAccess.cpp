#include "board/BoardAccess.h"

#include "shell/Operator.h"

namespace tarvo {

BoardAccess::BoardAccess(RunState& state)
    : state_(state), bus_(state.bus != nullptr ? *state.bus : libraryBus()) {}

int32_t BoardAccess::read(uint32_t offset, uint32_t& value) {
    return bus_.readCycle(state_.vmeHandle, state_.baseAddress + offset, value);
}

int32_t BoardAccess::write(uint32_t offset, uint32_t value) {
    return bus_.writeCycle(state_.vmeHandle, state_.baseAddress + offset, value);
}

int32_t BoardAccess::blockRead(uint32_t offset, uint32_t* words, int32_t bytes, int32_t& count) {
    count = 0;
    return bus_.bltReadCycle(state_.vmeHandle, state_.baseAddress + offset, words, bytes, count);
}

void BoardAccess::error(const std::string& text) {
    if (state_.op != nullptr) {
        state_.op->error(text);
    }
}

}  // namespace tarvo
