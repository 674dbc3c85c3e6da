#include "board/BoardAccess.h"

#include "shell/Operator.h"

namespace tarvo {

BoardAccess::BoardAccess(const BoardContext& context)
    : context_(context), bus_(context.bus != nullptr ? *context.bus : libraryBus()) {}

int32_t BoardAccess::read(uint32_t offset, uint32_t& value) {
    return bus_.readCycle(context_.vmeHandle, context_.baseAddress + offset, value);
}

int32_t BoardAccess::write(uint32_t offset, uint32_t value) {
    return bus_.writeCycle(context_.vmeHandle, context_.baseAddress + offset, value);
}

int32_t BoardAccess::blockRead(uint32_t offset, uint32_t* words, int32_t bytes, int32_t& count) {
    count = 0;
    return bus_.bltReadCycle(context_.vmeHandle, context_.baseAddress + offset, words, bytes,
                             count);
}

void BoardAccess::error(const std::string& text) {
    if (context_.op != nullptr) {
        context_.op->error(text);
    }
}

}  // namespace tarvo
