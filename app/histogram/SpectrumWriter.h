#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "histogram/HistogramModes.h"
#include "histogram/HistogramOutputFile.h"

namespace tarvo {

// The local date and time a spectrum file records as its measurement date; tests fix it.
using SpectrumClock = std::function<std::tm()>;
std::tm localClock();

using SpectrumCounts = std::span<const uint32_t, kHistogramBins>;

// Writes v right-aligned in width characters (longer numbers are not cut) followed by CR LF at
// out; returns the bytes written (at most 12 + width).
size_t formatCountLine(char* out, uint32_t v, int width);

// The "%5u" CR LF lines of all values below 8192, so that the hot loops copy lines instead of
// formatting them. The eighth byte of an entry is scratch that the next line overwrites.
struct ValueLineTable {
    char line[kHistogramBins][8];
    constexpr ValueLineTable() : line{} {
        for (uint32_t v = 0; v < kHistogramBins; ++v) {
            uint32_t rest = v;
            for (int i = 4; i >= 0; --i) {
                line[v][i] = (rest != 0 || i == 4) ? static_cast<char>('0' + rest % 10) : ' ';
                rest /= 10;
            }
            line[v][5] = '\r';
            line[v][6] = '\n';
            line[v][7] = '\0';
        }
    }
};
inline constexpr ValueLineTable kValueLineTable;
constexpr size_t kValueLineBytes = 7;

// Writes 8 bytes at out, of which the first 7 are the line of v (v < 8192).
inline void copyValueLine(char* out, uint32_t v) {
    std::memcpy(out, kValueLineTable.line[v & (kHistogramBins - 1)], 8);
}

// Appends one value-list line, "%5u" and CR LF.
inline void writeValueLine(HistogramOutputFile& file, uint32_t value) {
    file.commit(formatCountLine(file.reserve(20), value, 5));
}

// The whole text of a spectrum file of one channel: header, 8192 count lines (bin 8191 first
// when reversed) and the fixed trailer, formatted into buffer (grown when needed, reused).
std::string_view formatSpectrum(std::vector<char>& buffer, int channel, SpectrumCounts counts,
                                bool reversed, const std::tm& when);

// Creates (or overwrites) the spectrum file and writes it in one go; false when the file cannot
// be created or written.
bool writeSpectrum(const std::string& path, int channel, SpectrumCounts counts, bool reversed,
                   const SpectrumClock& clock = localClock);

}  // namespace tarvo
