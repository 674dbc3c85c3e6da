#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "shell/ManualResetEvent.h"

namespace tarvo {

class Operator;
class VmeBus;

// The run-state record: the main window's fields that it shares with the acquisition and
// histogram workers. The window owns one RunState and hands it to a worker as its only argument.
// Counters a worker writes while a timer reads them are atomic; shared texts are guarded.
struct RunState {
    static constexpr int kFifoCount = 8;
    static constexpr int kSpyWords = 512;

    // Bridge and board.
    int32_t vmeHandle = -1;
    VmeBus* bus = nullptr;  // how board accesses reach the bridge; nullptr: the bridge library
    uint32_t baseAddress = 0x03030000;
    bool adcRev1 = true;
    int32_t acquisitionType = 0;
    uint32_t channel = 0;
    uint32_t offsetAdc = 32768;

    // Run progress and errors.
    int32_t cycleCount = 1;
    std::atomic<int32_t> cyclesDone{0};
    std::atomic<uint32_t> busErrorCount{0};
    std::atomic<uint32_t> eventsLost{0};
    std::atomic<int32_t> lastError{0};
    std::atomic<bool> acquisitionIdle{true};

    // DAQ files.
    std::array<bool, kFifoCount> taDaqEnable{true, true, true, true, true, true, true, true};
    std::string filename;  // "Filename": raw stream file of the older layout
    std::string
        filenameClr;  // "Filename clr": FIFO files' base name, clean file of the older layout

    // Display hand-off (guarded by DisplayReadyEvent, see the workers).
    std::array<std::array<uint32_t, kSpyWords>, kFifoCount> SpyBuffer{};
    std::array<std::array<uint32_t, kSpyWords>, kFifoCount> SumBuffer{};
    std::atomic<uint32_t> sumCount{0};
    std::atomic<bool> resetScale{false};
    std::atomic<int32_t> wordsPerFifo{512};  // words per FIFO of the event being shown

    // Histogram generation.
    int32_t samplesFrom = 0;
    int32_t samplesTo = 15;
    int32_t histogramMode = 0;
    std::array<uint32_t, kFifoCount> baseLine{};
    bool histogramsOnly = false;
    std::atomic<uint64_t> bytesProcessed{0};
    std::atomic<bool> histogramIdle{true};
    // The histogram progress bar's range and the input being read (FIFO index, -1 for the
    // older layout's clean file), set by the histogram worker for each file.
    std::atomic<uint64_t> histogramTotal{0};
    std::atomic<int32_t> histogramFifo{-1};

    bool excelOpen = false;

    // The four manual-reset events of a run.
    ManualResetEvent StopEvent;
    ManualResetEvent AcquisitionDoneEvent;
    ManualResetEvent HistogramDoneEvent;
    ManualResetEvent DisplayReadyEvent;

    // Who the workers report to; set by the owner before a worker starts.
    Operator* op = nullptr;

    std::string peakText() const {
        std::lock_guard lock(textMutex_);
        return peakText_;
    }
    void setPeakText(std::string text) {
        std::lock_guard lock(textMutex_);
        peakText_ = std::move(text);
    }

  private:
    mutable std::mutex textMutex_;
    std::string peakText_;
};

}  // namespace tarvo
