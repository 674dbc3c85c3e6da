#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarvo {

// The fields of the main window that a run or a histogram reads and that the window persists.
// A plain value: a dialog edits a copy and applies it by assignment.
struct RunSettings {
    static constexpr int kFifoCount = 8;

    // Board.
    uint32_t baseAddress = 0x03030000;
    bool adcRev1 = true;
    int32_t acquisitionType = 0;
    uint32_t channel = 0;
    uint32_t offsetAdc = 32768;
    int32_t cycleCount = 1;

    // DAQ files.
    std::array<bool, kFifoCount> taDaqEnable{true, true, true, true, true, true, true, true};
    std::string filename;     // "Filename": raw stream file of the older layout
    std::string filenameClr;  // "Filename clr": FIFO files' base name, older layout's clean file

    // Histogram generation.
    int32_t samplesFrom = 0;
    int32_t samplesTo = 15;
    int32_t histogramMode = 0;
    std::array<uint32_t, kFifoCount> baseLine{};
    bool histogramsOnly = false;

    bool operator==(const RunSettings&) const = default;
};

}  // namespace tarvo
