#pragma once

#include <array>
#include <cstdint>

#include "board/BoardMap.h"
#include "board/FastRng.h"
#include "board/SignalModel.h"

namespace vmesim::board {

// The older board's single data stream: 512-word blocks, one 4-bit tag per block, the tag
// advancing by one from block to block so that neighbours always differ. Now and then a block is
// cut short (a fragment), as when the old board lost words to a full buffer.
class StreamSource {
  public:
    StreamSource(const SignalModel& signals, uint64_t seed) : signals_(signals), rng_(seed) {}

    // True while the current block still holds words.
    bool hasWord() const { return pos_ < length_; }

    // Starts the next block (fragment or whole) from the front end of section 0.
    void startBlock(const FrontEndConfig& fe, int adcShift);

    // The next word of the current block; hasWord() must be true.
    uint32_t takeWord();

    uint64_t blocksMade() const { return blocksMade_; }
    uint64_t fragmentsMade() const { return fragmentsMade_; }
    uint64_t blocksRead() const { return blocksRead_; }
    uint64_t fragmentsRead() const { return fragmentsRead_; }

    static constexpr uint32_t kFragmentOneIn = 32;

  private:
    const SignalModel& signals_;
    FastRng rng_;
    std::array<uint32_t, kStreamBlockWords> block_{};
    unsigned length_ = 0;
    unsigned pos_ = 0;
    unsigned tag_ = 0;
    bool fragment_ = false;
    uint64_t blocksMade_ = 0;
    uint64_t fragmentsMade_ = 0;
    uint64_t blocksRead_ = 0;
    uint64_t fragmentsRead_ = 0;
};

}  // namespace vmesim::board
