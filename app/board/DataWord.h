#pragma once

#include <cstdint>

// The fields of a data word as the board sends it and the DAQ files keep it:
// bit 31 clear, bits 28..30 the event tag (28..31 in the older layout), 25..27 the FIFO, 20..24 the
// channel, 16..18 the sample (16..19 in the older layout), 0..12 the ADC value.
namespace tarvo::daq {

constexpr uint32_t adcValue(uint32_t word) {
    return word & 0x1FFF;
}
constexpr uint32_t fifoSample(uint32_t word) {
    return (word >> 16) & 0x7;
}
constexpr uint32_t legacySample(uint32_t word) {
    return (word >> 16) & 0xF;
}
constexpr uint32_t channel(uint32_t word) {
    return (word >> 20) & 0x1F;
}
constexpr uint32_t fifoNumber(uint32_t word) {
    return (word >> 25) & 0x7;
}
constexpr uint32_t fifoTag(uint32_t word) {
    return (word >> 28) & 0x7;
}
constexpr uint32_t legacyTag(uint32_t word) {
    return word >> 28;
}

}  // namespace tarvo::daq

namespace tarvo::board {

// A data word belongs to the event and the FIFO it was read from.
constexpr bool dataWordValid(uint32_t word, uint32_t tag, int fifo) {
    return (word & 0x80000000u) == 0 && daq::fifoTag(word) == tag &&
           daq::fifoNumber(word) == static_cast<uint32_t>(fifo);
}

}  // namespace tarvo::board
