#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "board/DataWord.h"  // the fields of the words in the records

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

// The file of FIFO k derived from the "Filename clr" path: folder/stem_k.ext
// ("/data/daqclr.bin" gives "/data/daqclr_3.bin" for k = 3; no extension gives "/data/daqclr_3").
std::string fifoFileName(const std::string& filenameClr, int fifo);

}  // namespace daq
}  // namespace tarvo
