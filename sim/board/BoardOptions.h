#pragma once

#include <cstdint>
#include <functional>

#include "bench/BenchState.h"
#include "board/BoardMap.h"

namespace vmesim::board {

// What the command line chooses for the readout board.
struct BoardOptions {
    static constexpr uint64_t kDefaultSeed = 20260101;

    uint32_t base = kDefaultBase;
    double eventRateHz = 0;      // 0: the next event is ready as soon as the previous one was read
    uint64_t busErrorEvery = 0;  // every Nth data-port access ends in a bus error (0: never)
    uint64_t corruptEvery = 0;   // every Nth event carries one bad word (0: never)
    uint64_t seed = kDefaultSeed;
    // Monotonic time in nanoseconds; empty means the steady clock. Tests drive it by hand.
    std::function<uint64_t()> clockNs;
    // The bench whose pulse generator drives the calibration line and whose DACs set the
    // discriminator thresholds; null: the board's own calibration pulser and free triggers.
    const BenchState* bench = nullptr;
};

}  // namespace vmesim::board
