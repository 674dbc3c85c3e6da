#include "board/HoldConfiguration.h"

#include "board/BoardAccess.h"
#include "board/BoardRegisters.h"

namespace tarvo {

std::optional<uint8_t> holdCodeFromNs(int64_t ns) {
    if (ns < 0 || ns > kMaxHoldNs) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(ns / kHoldStepNs);
}

uint32_t packHold(const HoldCodeArray& codes, int firstChannel) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        word |= static_cast<uint32_t>(codes[firstChannel + i]) << (8 * i);
    }
    return word;
}

void unpackHold(uint32_t word, HoldCodeArray& codes, int firstChannel) {
    for (int i = 0; i < 4; ++i) {
        codes[firstChannel + i] = static_cast<uint8_t>(word >> (8 * i));
    }
}

int32_t writeHoldRegisters(const BoardContext& context, const HoldCodeArray& codes) {
    BoardAccess board(context);
    if (int32_t result = board.write(board::kHold1, packHold(codes, 0)); result != 0) {
        board.error("FATAL: Write Hold1  FAIL");
        return result;
    }
    if (int32_t result = board.write(board::kHold2, packHold(codes, 4)); result != 0) {
        board.error("FATAL: Write Hold2 FAIL");
        return result;
    }
    return 0;
}

int32_t readHoldRegisters(const BoardContext& context, HoldCodeArray& codes) {
    BoardAccess board(context);
    uint32_t word = 0;
    if (int32_t result = board.read(board::kHold1, word); result != 0) {
        board.error("FATAL: Read Hold1  FAIL");
        return result;
    }
    unpackHold(word, codes, 0);
    if (int32_t result = board.read(board::kHold2, word); result != 0) {
        board.error("FATAL: Read Hold2 FAIL");
        return result;
    }
    unpackHold(word, codes, 4);
    return 0;
}

}  // namespace tarvo
