#include "histogram/HistogramWorker.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "acquisition/DaqFileLayout.h"
#include "acquisition/RunState.h"
#include "shell/Operator.h"

namespace tarvo {

namespace {

constexpr const char* kChannelError = "Fatal Channel error ";
constexpr const char* kSampleError = "Fatal campione error ";
constexpr const char* kReadError = "Fatal Read file";

// The reason goes on a second line, as for a file that cannot be written.
std::string cantOpen(const std::string& path, const std::string& reason) {
    return "Can't open file: " + path + "\n" + reason;
}

// Where a record failed its check: the second line of the message, so that the operator can find
// the record (counted from 1) in the file.
std::string recordPlace(const std::string& fileName, uint64_t record, size_t recordBytes) {
    return fileName + ": record " + std::to_string(record) + " at byte " +
           std::to_string((record - 1) * recordBytes);
}

// Sets HistogramDoneEvent however the worker ends.
class DoneOnExit {
  public:
    explicit DoneOnExit(RunState& state) : state_(state) {}
    ~DoneOnExit() { state_.events.HistogramDoneEvent.set(); }
    DoneOnExit(const DoneOnExit&) = delete;
    DoneOnExit& operator=(const DoneOnExit&) = delete;

  private:
    RunState& state_;
};

struct RecordWindow {
    int firstChannel;
    int from;
    int to;
    uint32_t baseLine;
};

// Checks, corrects, counts and lists the window of one record; the failure text, or nullptr.
// Mode is a template argument so that each mode gets its own tight loop.
template <int Samples, bool Lists, int Mode>
const char* countRecord(const uint32_t* record, const RecordWindow& window,
                        HistogramWorkspace& ws) {
    constexpr uint32_t kSampleBits = Samples - 1;
    constexpr uint32_t kCheckMask = (0x1Fu << 20) | (kSampleBits << 16);
    const uint32_t base0 = daq::adcValue(record[window.from]);
    const int count = window.to - window.from + 1;
    for (int c = window.firstChannel; c < HistogramWorkspace::kChannels; ++c) {
        uint32_t* bins = ws.histogram.data() + static_cast<size_t>(c) * kHistogramBins;
        const uint32_t* words = record + c * Samples;
        char* out = nullptr;
        size_t written = 0;
        if constexpr (Lists) {
            if (count > 0) {
                out = ws.valueLists[c].reserve(static_cast<size_t>(count) * kValueLineBytes + 1);
            }
        }
        const char* failure = nullptr;
        for (int s = window.from; s <= window.to; ++s) {
            const uint32_t w = words[s];
            const uint32_t expected = (static_cast<uint32_t>(c) << 20) | (uint32_t(s) << 16);
            if ((w & kCheckMask) != expected) [[unlikely]] {
                failure =
                    daq::channel(w) != static_cast<uint32_t>(c) ? kChannelError : kSampleError;
                break;
            }
            const Correction k = correctValue(Mode, daq::adcValue(w), window.baseLine, base0);
            if (k.kind == Correction::Fail) [[unlikely]] {
                failure = modeErrorText(Mode);
                break;
            }
            if (k.kind == Correction::Count) {
                ++bins[k.bin];
            }
            if constexpr (Lists) {
                copyValueLine(out + written, k.listed);
                written += kValueLineBytes;
            }
        }
        if constexpr (Lists) {
            ws.valueLists[c].commit(written);
        }
        if (failure != nullptr) {
            return failure;
        }
    }
    return nullptr;
}

using RecordCounter = const char* (*)(const uint32_t*, const RecordWindow&, HistogramWorkspace&);

template <int Samples, bool Lists>
RecordCounter counterForMode(int32_t mode) {
    switch (mode) {
        case kModeNone:
            return countRecord<Samples, Lists, kModeNone>;
        case kModeMerge:
            return countRecord<Samples, Lists, kModeMerge>;
        case kModeSwap:
            return countRecord<Samples, Lists, kModeSwap>;
        case kModeCh0Base:
            return countRecord<Samples, Lists, kModeCh0Base>;
        default:
            return countRecord<Samples, Lists, -1>;
    }
}

template <int Samples>
RecordCounter counterFor(int32_t mode, bool lists) {
    return lists ? counterForMode<Samples, true>(mode) : counterForMode<Samples, false>(mode);
}

// Opens the 32 value lists of a stem; on failure shows the message and closes what was opened.
bool openValueLists(RunState& state, const std::string& stem, HistogramWorkspace& ws) {
    for (int c = 0; c < HistogramWorkspace::kChannels; ++c) {
        std::string path = stem + "_" + std::to_string(c) + ".txt";
        if (!ws.valueLists[c].open(path)) {
            state.op->error(cantOpen(path, std::strerror(errno)));
            ws.discardValueLists();
            return false;
        }
    }
    return true;
}

// Puts the value lists in place; a list that could not be written in full is a failure, not a
// success, and is not put in place.
bool finishValueLists(RunState& state, const std::string& stem, HistogramWorkspace& ws) {
    bool ok = true;
    for (int c = 0; c < HistogramWorkspace::kChannels; ++c) {
        if (!ok) {
            ws.valueLists[c].discard();
        } else if (!ws.valueLists[c].close()) {
            state.op->error("Can't write file: " + stem + "_" + std::to_string(c) + ".txt");
            ok = false;
        }
    }
    return ok;
}

bool writeSpectra(RunState& state, const std::string& stem, int firstChannel, bool reversed,
                  const HistogramWorkspace& ws) {
    for (int c = firstChannel; c < HistogramWorkspace::kChannels; ++c) {
        std::string path = stem + "_" + std::to_string(c) + ".spe";
        if (!writeSpectrum(path, c, ws.counts(c), reversed, ws.clock)) {
            state.op->error(cantOpen(path, std::strerror(errno)));
            return false;
        }
    }
    return true;
}

// Starts one input file: zeroed counts, progress range, open value lists.
bool beginFile(RunState& state, const std::string& fileName, int fifo, HistogramWorkspace& ws,
               std::string& stem) {
    state.progress.histogramFifo.store(fifo);
    if (!ws.reader.open(fileName)) {
        state.op->error(cantOpen(fileName, ws.reader.failure()));
        return false;
    }
    if (ws.inputOpened) {
        ws.inputOpened(fileName);
    }
    stem = histogramStem(fileName);
    if (!state.settings.histogramsOnly && !openValueLists(state, stem, ws)) {
        ws.reader.close();
        return false;
    }
    std::fill(ws.histogram.begin(), ws.histogram.end(), 0u);
    state.progress.bytesProcessed.store(0);
    state.progress.histogramTotal.store(ws.reader.total());
    return true;
}

// What becomes of a file whose reading fails before its end: nothing, or spectra and value lists
// of the records counted up to there. Either way the file's result is a failure.
enum class OnReadError { Abandon, KeepCounts };

// Counts every record of a file begun with beginFile, then closes its value lists and writes its
// spectra from window.firstChannel on. A record that fails its check leaves no output of the file.
bool countFile(RunState& state, const std::string& fileName, const std::string& stem,
               size_t recordBytes, RecordCounter count, const RecordWindow& window, bool reversed,
               OnReadError onReadError, HistogramWorkspace& ws) {
    const uint64_t total = ws.reader.total();
    uint64_t done = 0;
    bool complete = true;
    while (done < total) {
        if (state.progress.histogramStopRequested.load(std::memory_order_relaxed)) {
            ws.reader.close();
            ws.discardValueLists();
            return false;
        }
        const uint32_t* record = ws.reader.next();
        if (record == nullptr && onReadError == OnReadError::KeepCounts) {
            state.op->error(std::string(kReadError) + "\n" +
                            recordPlace(fileName, done / recordBytes + 1, recordBytes));
            complete = false;
            break;
        }
        const char* failure = kReadError;
        if (record != nullptr) {
            done += recordBytes;
            state.progress.bytesProcessed.store(done, std::memory_order_relaxed);
            failure = count(record, window, ws);
        } else {
            done += recordBytes;  // the record that could not be read
        }
        if (failure != nullptr) {
            state.op->error(std::string(failure) + "\n" +
                            recordPlace(fileName, done / recordBytes, recordBytes));
            ws.reader.close();
            ws.discardValueLists();
            return false;
        }
    }
    ws.reader.close();
    if (!finishValueLists(state, stem, ws)) {
        return false;
    }
    return writeSpectra(state, stem, window.firstChannel, reversed, ws) && complete;
}

}  // namespace

HistogramWorkspace::HistogramWorkspace(size_t recordBytes, size_t chunkBytes)
    : histogram(static_cast<size_t>(kChannels) * kHistogramBins), reader(recordBytes, chunkBytes) {}

void HistogramWorkspace::discardValueLists() {
    for (auto& list : valueLists) {
        list.discard();
    }
}

std::optional<std::string> validateHistogramFields(const RunState& state) {
    const int last = state.settings.adcRev1 ? daq::kFifoSamples - 1 : daq::kLegacySamples - 1;
    auto range = [](const char* field, int lo, int hi) {
        return std::string(field) + ": enter an integer between " + std::to_string(lo) + " and " +
               std::to_string(hi) + ".";
    };
    if (state.settings.samplesFrom < 0 || state.settings.samplesFrom > last) {
        return range("Samples from", 0, last);
    }
    if (state.settings.samplesTo < 1 || state.settings.samplesTo > last) {
        return range("Samples to", 1, last);
    }
    return std::nullopt;
}

std::string histogramStem(const std::string& path) {
    return std::filesystem::path(path).replace_extension().string();
}

bool histogramFile(RunState& state, const std::string& fileName, int fifo, HistogramWorkspace& ws) {
    if (auto message = validateHistogramFields(state)) {
        state.op->error(*message);
        return false;
    }
    std::string stem;
    if (!beginFile(state, fileName, fifo, ws, stem)) {
        return false;
    }
    const int firstChannel = state.settings.histogramMode == kModeCh0Base ? 1 : 0;
    const RecordWindow window{
        firstChannel, state.settings.samplesFrom, state.settings.samplesTo,
        state.settings.baseLine[static_cast<size_t>(fifo) % RunState::kFifoCount]};
    const RecordCounter count =
        counterFor<daq::kFifoSamples>(state.settings.histogramMode, !state.settings.histogramsOnly);
    return countFile(state, fileName, stem, daq::kFifoRecordBytes, count, window, false,
                     OnReadError::Abandon, ws);
}

bool FifoHistogramWorker(RunState& state, const SpectrumClock& clock) {
    DoneOnExit done(state);
    if (auto message = validateHistogramFields(state)) {
        state.op->error(*message);
        return false;
    }
    HistogramWorkspace ws(daq::kFifoRecordBytes);
    ws.clock = clock;
    for (int k = 0; k < daq::kFifoCount; ++k) {
        if (state.settings.taDaqEnable[static_cast<size_t>(k)] &&
            !histogramFile(state, daq::fifoFileName(state.settings.filenameClr, k), k, ws)) {
            return false;
        }
    }
    return true;
}

bool LegacyHistogramWorker(RunState& state, const SpectrumClock& clock) {
    DoneOnExit done(state);
    HistogramWorkspace ws(daq::kLegacyRecordBytes);
    ws.clock = clock;
    return legacyHistogramFile(state, ws);
}

bool legacyHistogramFile(RunState& state, HistogramWorkspace& ws) {
    if (auto message = validateHistogramFields(state)) {
        state.op->error(*message);
        return false;
    }
    std::string stem;
    if (!beginFile(state, state.settings.filenameClr, -1, ws, stem)) {
        return false;
    }
    // The older layout has no base-line correction: every mode counts the raw value.
    const RecordWindow window{0, state.settings.samplesFrom, state.settings.samplesTo, 0};
    const RecordCounter count =
        counterFor<daq::kLegacySamples>(kModeNone, !state.settings.histogramsOnly);
    // The spectra still get what was counted up to a read error.
    return countFile(state, state.settings.filenameClr, stem, daq::kLegacyRecordBytes, count,
                     window, state.settings.histogramMode == kModeSwap, OnReadError::KeepCounts,
                     ws);
}

}  // namespace tarvo
