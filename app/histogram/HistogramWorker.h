#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "histogram/HistogramModes.h"
#include "histogram/HistogramOutputFile.h"
#include "histogram/HistogramRecordReader.h"
#include "histogram/SpectrumWriter.h"

namespace tarvo {

struct RunState;

// The histogram worker's own memory: the 32 x 8192 counts, the record reader and the 32 value
// lists with their buffers, kept across the files of one run.
struct HistogramWorkspace {
    static constexpr int kChannels = 32;

    // chunkBytes: how much input one read fetches (whole records, at least one).
    explicit HistogramWorkspace(size_t recordBytes, size_t chunkBytes = 1 << 20);

    std::vector<uint32_t> histogram;  // channel c's bins start at c * kHistogramBins
    HistogramRecordReader reader;
    std::array<HistogramOutputFile, kChannels> valueLists;
    SpectrumClock clock = localClock;
    // Called with each input file's name right after it is opened (its length is taken then);
    // lets a caller watch the inputs as they are read.
    std::function<void(const std::string&)> inputOpened;

    SpectrumCounts counts(int channel) const {
        return SpectrumCounts(histogram.data() + static_cast<size_t>(channel) * kHistogramBins,
                              kHistogramBins);
    }
    // Drops every value list still open, leaving the files of earlier runs as they were.
    void discardValueLists();
};

// The message shown when the histogram fields are out of range ("Samples from to" by layout), or
// nothing when they are valid.
std::optional<std::string> validateHistogramFields(const RunState& state);

// The output stem of a DAQ file: its path without the extension.
std::string histogramStem(const std::string& path);

// One FIFO-layout file: value lists, counts by mode, spectra. Every failure is shown through
// state.op; false on failure.
bool histogramFile(RunState& state, const std::string& fileName, int fifo,
                   HistogramWorkspace& workspace);

// The older layout's clean file ("Filename clr"): value lists, raw counts, spectra (reversed in
// mode Swap). A short read stops the reading but the spectra are still written.
bool legacyHistogramFile(RunState& state, HistogramWorkspace& workspace);

// The two workers. Each sets HistogramDoneEvent on every way out; false when any failure was
// shown. The clock dates the spectrum files.
bool FifoHistogramWorker(RunState& state, const SpectrumClock& clock = localClock);
bool LegacyHistogramWorker(RunState& state, const SpectrumClock& clock = localClock);

}  // namespace tarvo
