#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "acquisition/CellSink.h"
#include "i2c/ThresholdSink.h"
#include "instruments/Instrument.h"
#include "sequence/SequenceBoard.h"
#include "sequence/SequenceClock.h"

namespace tarvo {

// The three tables of the manual test, kept from one run to the next and cleared when a run
// starts.
struct ManualSequenceTables {
    std::array<std::array<uint32_t, 8>, 32> baseTable{};                  // [channel][FIFO]
    std::array<std::array<std::array<uint32_t, 8>, 32>, 20> peakTable{};  // [step][channel][FIFO]
    std::array<std::array<uint32_t, 32>, 8> taTable{};                    // [TA][channel]
};

// What the sequence tests take from the main window beyond the run-state record: the instrument
// group's texts, the status text, where cells and threshold requests go, and how to reach the
// instrument. The window (or tarvo-cli) owns one for the life of the program.
class SequenceTestSetup {
  public:
    std::string commandFile;  // "Command File"
    std::string resource;     // the current item of "Visa Resource"
    std::string name;         // "Name": prefix of the result files

    CellSink* cells = nullptr;            // workbook cells, sent while the run state's excelOpen
    ThresholdSink* thresholds = nullptr;  // the I2C controls; nullptr: requests go nowhere
    // Opens the resource manager; empty: the default one (openDefaultResourceManager).
    std::function<std::unique_ptr<ResourceManager>(std::string& error)> openResourceManager;
    SequenceClock* clock = nullptr;  // nullptr: real time
    SequenceBoard* board = nullptr;  // nullptr: the run state's board

    ManualSequenceTables manualTables;

    // The status line of the sequence test, read by the window's timers.
    std::string statusText() const {
        std::lock_guard lock(mutex_);
        return statusText_;
    }
    void setStatusText(std::string text) {
        std::lock_guard lock(mutex_);
        statusText_ = std::move(text);
    }

  private:
    mutable std::mutex mutex_;
    std::string statusText_;
};

// A cell sink for runs without a workbook: counts the cells and drops them.
class CountingCellSink : public CellSink {
  public:
    void postCell(int, int, CellValue) override { ++count_; }
    int count() const { return count_; }

  private:
    std::atomic<int> count_{0};
};

}  // namespace tarvo
