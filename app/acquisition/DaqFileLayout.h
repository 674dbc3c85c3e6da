#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvo {

// The DAQ data files: plain sequences of fixed-size event records of 32-bit little-endian words,
// no header, runs append.
namespace daq {

constexpr int kFifoCount = 8;
constexpr int kChannels = 32;

// FIFO layout: one file per FIFO, records of 32 channels x 8 samples, channel-major.
constexpr int kFifoSamples = 8;
constexpr int kFifoRecordWords = kChannels * kFifoSamples;  // 256
constexpr size_t kFifoRecordBytes = kFifoRecordWords * 4;   // 1024

// Older layout: clean file of records of 32 channels x 16 samples, channel-major; raw stream file.
constexpr int kLegacySamples = 16;
constexpr int kLegacyRecordWords = kChannels * kLegacySamples;  // 512
constexpr size_t kLegacyRecordBytes = kLegacyRecordWords * 4;   // 2048

// Fields of a data word.
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

// The file of FIFO k derived from the "Filename clr" path: folder/stem_k.ext
// ("/data/daqclr.bin" gives "/data/daqclr_3.bin" for k = 3; no extension gives "/data/daqclr_3").
std::string fifoFileName(const std::string& filenameClr, int fifo);

}  // namespace daq
}  // namespace tarvo
