#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/CellSink.h"
#include "acquisition/RunState.h"
#include "i2c/ThresholdSink.h"
#include "instruments/Instrument.h"
#include "sequence/SequenceBoard.h"
#include "sequence/SequenceClock.h"

namespace tarvo::test {

// A bench for the sequence-test workers in the test's own process: a board whose reads give
// values made from the channel and FIFO, a pulse of `pulseVolts` that fires a read when it is
// above the threshold last requested for the slot of the section under test, results that the
// test scripts, and a log of every call in order.
class ScriptedBench : public SequenceBoard, public ThresholdSink, public SequenceClock {
  public:
    explicit ScriptedBench(RunState& state) : state_(state) {}

    // The values an averaged read gives for channel c (the last readout-mode channel), FIFO k.
    static uint32_t mean(int c, int k) { return 1000 + 10 * c + k; }
    static uint32_t peak(int c, int k) { return 3000 + 10 * c + k; }
    static uint32_t peakNeg(int c, int k) { return 500 + 10 * c + k; }
    // Per-sample averages and last-event words of FIFO 8 in the detail.
    static uint32_t average(int c, int i) { return 100 * c + i; }
    static uint32_t rawWord(int c, int i) { return 0xFE000000u | (0x2000u + 16 * c + i); }

    double pulseVolts = 0.8;
    // Results of the measuring averaged reads (display flag set) and of the event reads, in
    // order; 0 (with the values above) once used up. A measuring read that finds StopEvent set
    // takes it and reports a stop, as the board's reads do. A scripted result still writes the
    // outputs, so a test sees whether the worker keeps or clears them.
    std::deque<int32_t> averagedResults;
    std::deque<int32_t> eventResults;
    // Results of the warm-up averaged reads (display flag clear), in order.
    std::deque<int32_t> warmUpResults;

    std::vector<std::string> calls;  // "reset", "setup 1 5 0", "mode 8 5", "avg 3 1000 0", ...
    std::vector<std::pair<int, double>> thresholdRequests;
    std::map<int, double> slots;
    std::chrono::milliseconds slept{0};

    void systemReset() override;
    void setupTaChannelTest(int ta, int32_t channel, int negative) override;
    void setReadoutMode(uint32_t mode, uint32_t channel) override;
    int32_t readEvents(int32_t count, uint32_t timeLimitMs, bool display) override;
    int32_t readAveragedEvents(int32_t count, uint32_t timeLimitMs, bool display, uint32_t* means,
                               uint32_t* peaks, uint32_t* peakNegs,
                               AveragedEventDetail* detail) override;
    bool setThreshold(int slot, double volts) override;
    void sleep(std::chrono::milliseconds duration) override { slept += duration; }

    // The calls whose text starts with the prefix.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const;

  private:
    RunState& state_;
    int channel_ = 0;
    int section_ = -1;
};

// Instruments that record what they are sent; opening names in `absent` fails, and a write of
// `refused` fails.
class RecordingInstruments : public ResourceManager {
  public:
    std::vector<std::string> opened;
    std::vector<std::string> written;  // every write, in order
    std::vector<std::string> absent;
    std::string refused;
    int openConnections = 0;

    std::vector<std::string> findResources(const std::string&) override { return {"SIM::INSTR"}; }
    std::unique_ptr<Instrument> open(const std::string& resource, std::string& error) override;
};

struct RecordedCell {
    int row;
    int column;
    CellValue value;
    bool operator==(const RecordedCell&) const = default;
};

class RecordingCells : public CellSink {
  public:
    std::vector<RecordedCell> cells;
    void postCell(int row, int column, CellValue value) override {
        cells.push_back({row, column, std::move(value)});
    }
};

}  // namespace tarvo::test

namespace tarvo::test {

// A resource manager that hands out the recorder's instruments.
class ForwardingManager : public ResourceManager {
  public:
    explicit ForwardingManager(RecordingInstruments& to) : to_(to) {}
    std::vector<std::string> findResources(const std::string& e) override {
        return to_.findResources(e);
    }
    std::unique_ptr<Instrument> open(const std::string& r, std::string& error) override {
        return to_.open(r, error);
    }

  private:
    RecordingInstruments& to_;
};

}  // namespace tarvo::test
