#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/HistogramModes.h"
#include "acquisition/HistogramOutputFile.h"

namespace tarvo {

// The local date and time a spectrum file records as its measurement date; tests fix it.
using SpectrumClock = std::function<std::tm()>;
std::tm localClock();

using SpectrumCounts = std::span<const uint32_t, kHistogramBins>;

// Writes v right-aligned in width characters (longer numbers are not cut) followed by CR LF at
// out; returns the bytes written (at most 12 + width).
size_t formatCountLine(char* out, uint32_t v, int width);

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
