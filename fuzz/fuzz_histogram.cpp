// Runs the histogram readers of both layouts on an arbitrary DAQ file.
// Input: 7 bytes of fields, then the file contents.
//   byte 0: bit 0 FIFO layout, bit 1 histograms only, bits 2-4 mode (0..7, 4..7 unknown modes)
//   byte 1: samplesFrom, byte 2: samplesTo (signed, so invalid windows are tried too)
//   bytes 3-6: the base line, little-endian
// The reader fetches one record per read, so its buffer is exactly one record and any access
// outside the record is caught. Checked: no crash, and a failure is reported exactly when the
// worker says it failed.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "acquisition/DaqFileLayout.h"
#include "acquisition/RunState.h"
#include "histogram/HistogramWorker.h"
#include "shell/Operator.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Made once per process and removed at exit; kept on the heap so it outlives the exit handler.
const std::string& folder() {
    static const std::string* path = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "fuzz-histogram-XXXXXX").string();
        check(::mkdtemp(pattern.data()) != nullptr);
        auto* made = new std::string(pattern);
        std::atexit([] { std::filesystem::remove_all(folder()); });
        return made;
    }();
    return *path;
}

std::tm fixedTime() {
    return std::tm{};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kFields = 7;
    constexpr size_t kMaxFile = 16 * tarvo::daq::kLegacyRecordBytes;
    if (size < kFields || size > kFields + kMaxFile) {
        return 0;
    }
    tarvo::ScriptedOperator op;
    tarvo::RunState state;
    state.op = &op;
    state.settings.adcRev1 = (data[0] & 1) != 0;
    state.settings.histogramsOnly = (data[0] & 2) != 0;
    state.settings.histogramMode = (data[0] >> 2) & 7;
    state.settings.samplesFrom = static_cast<int8_t>(data[1]);
    state.settings.samplesTo = static_cast<int8_t>(data[2]);
    state.settings.baseLine.fill(uint32_t(data[3]) | uint32_t(data[4]) << 8 |
                                 uint32_t(data[5]) << 16 | uint32_t(data[6]) << 24);
    state.settings.filenameClr = folder() + "/daq.bin";
    state.settings.taDaqEnable.fill(false);
    state.settings.taDaqEnable[0] = true;

    const uint64_t recordBytes =
        state.settings.adcRev1 ? tarvo::daq::kFifoRecordBytes : tarvo::daq::kLegacyRecordBytes;
    const std::string input = state.settings.adcRev1
                                  ? tarvo::daq::fifoFileName(state.settings.filenameClr, 0)
                                  : state.settings.filenameClr;
    std::ofstream(input, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + kFields),
               static_cast<std::streamsize>(size - kFields));

    // Kept between inputs, as a run keeps it between files.
    static tarvo::HistogramWorkspace fifoWs(tarvo::daq::kFifoRecordBytes,
                                            tarvo::daq::kFifoRecordBytes);
    static tarvo::HistogramWorkspace legacyWs(tarvo::daq::kLegacyRecordBytes,
                                              tarvo::daq::kLegacyRecordBytes);
    tarvo::HistogramWorkspace& ws = state.settings.adcRev1 ? fifoWs : legacyWs;
    ws.clock = fixedTime;
    const bool ok = state.settings.adcRev1 ? tarvo::histogramFile(state, input, 0, ws)
                                           : tarvo::legacyHistogramFile(state, ws);
    const size_t errors = op.texts("error").size();
    check(ok ? errors == 0 : errors >= 1);
    check(op.entries().size() == errors);  // nothing but error boxes
    check(state.progress.bytesProcessed.load() <= (size - kFields) / recordBytes * recordBytes);
    return 0;
}
