#pragma once

#include <array>
#include <cstdint>

namespace vmesim::board {

// The configuration a TA section's front end holds after a configuration load: a copy of the
// section's Reg1..Reg6 taken at the software trigger. Later register writes do not reach the
// front end until the next load, as on the hardware.
struct FrontEndConfig {
    std::array<uint32_t, 6> reg{};

    uint32_t testMask() const { return reg[0]; }
    uint32_t disableMask() const { return reg[4]; }
    bool testsChannel(unsigned c) const { return (testMask() >> c) & 1u; }
    bool disables(unsigned c) const { return (disableMask() >> c) & 1u; }

    // 3-bit trim of channel c in the 96-bit field Reg2..Reg4 (bit j of the trim at bit 3c + j).
    unsigned dacOffset(unsigned c) const {
        unsigned value = 0;
        for (unsigned j = 0; j < 3; ++j) {
            const unsigned bit = 3 * c + j;
            value |= ((reg[1 + bit / 32] >> (bit % 32)) & 1u) << j;
        }
        return value;
    }

    bool negativePolarity() const { return reg[5] & 0x1u; }
    bool invertingGain() const { return reg[5] & 0x2u; }
    unsigned gainFactor() const {
        static constexpr unsigned kGain[4] = {1, 3, 6, 10};
        return kGain[(reg[5] >> 2) & 0x3u];
    }
    bool testMode() const { return reg[5] & 0x10u; }

    // The shaper output swings below the base line when exactly one of polarity and gain sign
    // inverts it.
    int signalSign() const { return negativePolarity() != invertingGain() ? -1 : 1; }
};

}  // namespace vmesim::board
