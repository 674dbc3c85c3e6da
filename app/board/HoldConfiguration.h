#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "board/BoardContext.h"

namespace tarvo {

// The eight hold delays: one byte per channel, in steps of 20 ns.
using HoldCodeArray = std::array<uint8_t, 8>;

constexpr uint32_t kHoldStepNs = 20;
constexpr uint32_t kMaxHoldNs = 5100;

// A delay typed in nanoseconds (0..5100) as its code, the remainder dropped; nothing when out
// of range.
std::optional<uint8_t> holdCodeFromNs(int64_t ns);
constexpr uint32_t holdNs(uint8_t code) {
    return code * kHoldStepNs;
}

// Hold1 holds channels 0..3 (channel 0 in the low byte), Hold2 channels 4..7.
uint32_t packHold(const HoldCodeArray& codes, int firstChannel);
void unpackHold(uint32_t word, HoldCodeArray& codes, int firstChannel);

// "Write": Hold1 then Hold2; the first failure shows its message and ends the write. Returns 0
// or the failing bridge result.
int32_t writeHoldRegisters(const BoardContext& context, const HoldCodeArray& codes);
// "Read": Hold1 into codes 0..3, then Hold2 into 4..7; the first failure shows its message and
// ends the read, codes already read keep their new values.
int32_t readHoldRegisters(const BoardContext& context, HoldCodeArray& codes);

}  // namespace tarvo
