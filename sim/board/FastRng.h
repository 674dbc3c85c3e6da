#pragma once

#include <cstdint>

namespace vmesim::board {

// SplitMix64: one add and three xor-shift-multiplies per 64 bits, and the whole state is a
// single word, so a seed reproduces every event the board makes.
class FastRng {
  public:
    explicit FastRng(uint64_t seed) : state_(seed) {}

    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

    // Uniform in [0, n) for n well below 2^32 (the bias is far below anything a test can see).
    uint32_t below(uint32_t n) {
        return static_cast<uint32_t>(((next() >> 32) * static_cast<uint64_t>(n)) >> 32);
    }

  private:
    uint64_t state_;
};

}  // namespace vmesim::board
