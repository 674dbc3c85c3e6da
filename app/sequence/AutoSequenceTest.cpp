// "Sequence Test Auto": runs a sequence file against a bench instrument and the board, and writes
// one results table per enabled TA.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "sequence/SequenceResultFiles.h"
#include "sequence/SequenceScript.h"
#include "sequence/SequenceTestWorkers.h"
#include "shell/Operator.h"

namespace tarvo {
namespace {

using std::chrono::milliseconds;

constexpr int kChannels = 32;
constexpr int kFifos = 8;
constexpr int kRelaySlot = 6;
constexpr double kRelayOnVolts = 2.499;
constexpr double kSearchStartVolts = 2.499;
constexpr const char* kAbortQuestion = "Abort Sequence Test ?";

// One section's measured values, [channel][FIFO].
using MeasureValues = std::array<std::array<uint32_t, kFifos>, kChannels>;

// What ended a step early.
enum class StepEnd { Continue, Abort };

class AutoSequenceTest {
  public:
    AutoSequenceTest(RunState& state, SequenceTestSetup& setup)
        : state_(state),
          setup_(setup),
          ownBoard_(state),
          board_(setup.board != nullptr ? *setup.board : ownBoard_),
          clock_(setup.clock != nullptr ? *setup.clock : realSequenceClock()) {}

    int run();

  private:
    bool openInstrument();
    bool sendCommands(const _VISACMDLIST& section);
    StepEnd measureChannel(const _VISACMDLIST& section, int c);
    StepEnd averagedStep(const _VISACMDLIST& section, int c);
    StepEnd triggerStep(const _VISACMDLIST& section, int c);
    StepEnd thresholdStep(const _VISACMDLIST& section, int c);
    StepEnd sequenceStep(int c);
    void disableAllSections();
    void keepStop(int32_t warmUpResult);
    bool confirmAbort();
    void requestThreshold(int slot, double volts);
    void postCell(int row, int column, CellValue value);
    void writeWaveform(const char* suffix, int c, const AveragedEventDetail& detail, bool averages);
    void writeResults();
    int finishAbort(bool clearStatus);
    void closeAll();

    void error(const std::string& text) {
        if (state_.op != nullptr) {
            state_.op->error(text);
        }
    }

    RunState& state_;
    SequenceTestSetup& setup_;
    RunStateBoard ownBoard_;
    SequenceBoard& board_;
    SequenceClock& clock_;

    std::vector<_VISACMDLIST> sections_;
    std::vector<MeasureValues> results_;
    size_t section_ = 0;
    std::unique_ptr<ResourceManager> resourceManager_;
    std::unique_ptr<Instrument> instrument_;
    std::FILE* waveform_ = nullptr;
};

int AutoSequenceTest::run() {
    int lineNo = 0;
    if (!LoadSequenceFile(setup_.commandFile, &lineNo, sections_)) {
        if (lineNo == 0) {
            error(formatText("Open File %s Error or File Empty", setup_.commandFile.c_str()));
        } else {
            error(formatText("Error on file %s line %d", setup_.commandFile.c_str(), lineNo));
        }
        setup_.setStatusText("");
        state_.events.AcquisitionDoneEvent.set();
        return 0;
    }
    results_.assign(sections_.size(), MeasureValues{});
    if (!openInstrument()) {
        return finishAbort(true);
    }

    for (section_ = 0; section_ < sections_.size(); ++section_) {
        const _VISACMDLIST& section = sections_[section_];
        const int column = static_cast<int>(section_) + 1;
        if (!sendCommands(section)) {
            return finishAbort(true);
        }
        setup_.setStatusText(formatText("Executing Sequence %s\n", section.name.c_str()));
        clock_.sleep(milliseconds(500));
        postCell(1, column, section.name);
        if (state_.vmeHandle == -1) {
            error("Invalid VME HANDLE");
            state_.events.AcquisitionDoneEvent.set();
            closeAll();
            return 1;
        }
        for (int c = 0; c < kChannels; ++c) {
            if (measureChannel(section, c) == StepEnd::Abort) {
                const MeasureKind kind = section.measure;
                return finishAbort(kind == MeasureKind::Average || kind == MeasureKind::Peak ||
                                   kind == MeasureKind::PeakNeg || kind == MeasureKind::Sequence);
            }
            if (section.measure == MeasureKind::Sequence) {
                break;  // one raw event of channel 0, and no value cell
            }
            postCell(c + 2, column, static_cast<int32_t>(results_[section_][c][7]));
        }
        if (waveform_ != nullptr) {
            std::fclose(waveform_);
            waveform_ = nullptr;
        }
    }

    closeAll();
    writeResults();
    setup_.setStatusText("");
    state_.events.AcquisitionDoneEvent.set();
    return 0;
}

bool AutoSequenceTest::openInstrument() {
    const std::string& resource = setup_.resource;
    if (resource.empty()) {
        error("Sequence Test: no VISA resource selected");
        return false;
    }
    std::string why;
    resourceManager_ = setup_.openResourceManager ? setup_.openResourceManager(why)
                                                  : openDefaultResourceManager(why);
    if (resourceManager_ != nullptr) {
        instrument_ = resourceManager_->open(resource, why);
    }
    if (instrument_ == nullptr) {
        error(formatText("Open VISA resource %s FAIL\n%s", resource.c_str(), why.c_str()));
        return false;
    }
    return true;
}

bool AutoSequenceTest::sendCommands(const _VISACMDLIST& section) {
    for (const std::string& command : section.commands) {
        std::string why;
        if (!instrument_->write(command + "\n", why)) {
            error(formatText("Write to VISA resource %s FAIL\n%s\n%s", setup_.resource.c_str(),
                             command.c_str(), why.c_str()));
            return false;
        }
    }
    return true;
}

StepEnd AutoSequenceTest::measureChannel(const _VISACMDLIST& section, int c) {
    switch (section.measure) {
        case MeasureKind::Average:
        case MeasureKind::Peak:
        case MeasureKind::PeakNeg:
            return averagedStep(section, c);
        case MeasureKind::Trigger:
            return triggerStep(section, c);
        case MeasureKind::Threshold:
        case MeasureKind::ThresholdNeg:
            return thresholdStep(section, c);
        case MeasureKind::Sequence:
            return sequenceStep(c);
        case MeasureKind::None:
            break;
    }
    return StepEnd::Continue;
}

StepEnd AutoSequenceTest::averagedStep(const _VISACMDLIST& section, int c) {
    auto& values = results_[section_][c];
    board_.systemReset();
    board_.setReadoutMode(8, static_cast<uint32_t>(c));
    keepStop(board_.readAveragedEvents(3, 1000, false, nullptr, nullptr, nullptr, nullptr));
    const int64_t limit =
        std::max<int64_t>(5000, 50 * static_cast<int64_t>(state_.settings.cycleCount));
    AveragedEventDetail detail;
    const MeasureKind kind = section.measure;
    const int32_t r = board_.readAveragedEvents(
        state_.settings.cycleCount, static_cast<uint32_t>(std::min<int64_t>(limit, UINT32_MAX)),
        true, kind == MeasureKind::Average ? values.data() : nullptr,
        kind == MeasureKind::Peak ? values.data() : nullptr,
        kind == MeasureKind::PeakNeg ? values.data() : nullptr, &detail);
    if (r == kReadDone && kind != MeasureKind::Average) {
        writeWaveform("Peak.txt", c, detail, true);
    }
    const char* format = kind == MeasureKind::Average ? "FIFO%d Average=%d\n"
                         : kind == MeasureKind::Peak  ? "FIFO%d Peak=%d\n"
                                                      : "FIFO%d PeakNeg=%d\n";
    std::string text;
    for (int k = 0; k < kFifos; ++k) {
        text += formatText(format, k + 1, static_cast<int>(values[k]));
    }
    state_.display.setPeakText(text);
    if (r == kReadDone) {
        return StepEnd::Continue;
    }
    if (r == kReadStopped && confirmAbort()) {
        return StepEnd::Abort;
    }
    values.fill(0);
    return StepEnd::Continue;
}

void AutoSequenceTest::disableAllSections() {
    for (int k = 0; k < kFifos; ++k) {
        board_.setupTaChannelTest(k, -1, 0);
        clock_.sleep(milliseconds(100));
    }
}

StepEnd AutoSequenceTest::triggerStep(const _VISACMDLIST& section, int c) {
    const int t = section.taIndex;
    requestThreshold(t, section.threshold);
    board_.systemReset();
    if (c == 0) {
        disableAllSections();
    }
    board_.setupTaChannelTest(t & 3, c, 0);
    clock_.sleep(milliseconds(100));
    board_.setReadoutMode(1, static_cast<uint32_t>(c));
    keepStop(board_.readEvents(3, 1000, false));
    const int32_t r = board_.readEvents(200, 1000, true);
    results_[section_][c][t] = static_cast<uint32_t>(state_.progress.cyclesDone.load());
    if (r == kReadStopped && confirmAbort()) {
        return StepEnd::Abort;
    }
    return StepEnd::Continue;
}

// A binary search for the DAC code at which events stop coming: a read that sees an event within
// 100 ms raises the threshold, any other lowers it.
StepEnd AutoSequenceTest::thresholdStep(const _VISACMDLIST& section, int c) {
    const int t = section.taIndex;
    requestThreshold(t, kSearchStartVolts);
    if (section.rele == 1) {
        requestThreshold(kRelaySlot, kRelayOnVolts);
    } else if (section.rele == 0) {
        requestThreshold(kRelaySlot, 0.0);
    }
    board_.systemReset();
    if (c == 0) {
        disableAllSections();
    }
    board_.setupTaChannelTest(t & 3, c, section.measure == MeasureKind::ThresholdNeg ? 1 : 0);
    clock_.sleep(milliseconds(100));
    board_.setReadoutMode(1, static_cast<uint32_t>(c));

    int32_t hi = 65536;
    int32_t lo = 32767;
    int32_t mid = 0;
    int direction = 0;
    while (hi - lo >= 2) {
        if (direction == 0) {
            mid = lo + (hi - lo) / 2;
        } else if (direction < 0) {
            hi = mid;
            mid = lo + (hi - lo) / 2;
        } else {
            lo = mid;
            mid = mid + (hi - mid) / 2;
        }
        requestThreshold(t, mid * 5.0 * (1.0 / 65536) - 2.5);
        clock_.sleep(milliseconds(100));
        keepStop(board_.readEvents(3, 100, false));
        const int32_t r = board_.readEvents(1, 100, true);
        direction = r == kReadDone ? 1 : -1;
        if (r == kReadStopped && confirmAbort()) {
            return StepEnd::Abort;
        }
    }
    results_[section_][c][t] = static_cast<uint32_t>(mid);
    return StepEnd::Continue;
}

StepEnd AutoSequenceTest::sequenceStep(int c) {
    auto& values = results_[section_][c];
    board_.systemReset();
    board_.setReadoutMode(0, static_cast<uint32_t>(c));
    keepStop(board_.readAveragedEvents(3, 1000, false, nullptr, nullptr, nullptr, nullptr));
    const int64_t limit =
        std::max<int64_t>(5000, 50 * static_cast<int64_t>(state_.settings.cycleCount));
    AveragedEventDetail detail;
    const int32_t r = board_.readAveragedEvents(
        state_.settings.cycleCount, static_cast<uint32_t>(std::min<int64_t>(limit, UINT32_MAX)),
        true, nullptr, values.data(), nullptr, &detail);
    if (r == kReadDone) {
        writeWaveform("Seq.txt", c, detail, false);
    }
    if (r == kReadStopped && confirmAbort()) {
        return StepEnd::Abort;
    }
    return StepEnd::Continue;
}

// A stop that ends the read before the measuring one belongs to the step: it is raised again so
// the measuring read ends at once and the operator is asked, instead of being lost.
void AutoSequenceTest::keepStop(int32_t warmUpResult) {
    if (warmUpResult == kReadStopped) {
        state_.events.StopEvent.set();
    }
}

bool AutoSequenceTest::confirmAbort() {
    return state_.op != nullptr && state_.op->askYesNo(kAbortQuestion);
}

void AutoSequenceTest::requestThreshold(int slot, double volts) {
    if (setup_.thresholds != nullptr) {
        (void)setup_.thresholds->setThreshold(slot, volts);
    }
}

void AutoSequenceTest::postCell(int row, int column, CellValue value) {
    if (state_.excelOpen && setup_.cells != nullptr) {
        setup_.cells->postCell(row, column, std::move(value));
    }
}

// Channel 0's good read starts the file; later good reads of the section add to it.
void AutoSequenceTest::writeWaveform(const char* suffix, int c, const AveragedEventDetail& detail,
                                     bool averages) {
    if (c == 0) {
        if (waveform_ != nullptr) {
            std::fclose(waveform_);
        }
        const std::string path = setup_.name + suffix;
        waveform_ = std::fopen(path.c_str(), "wb");
        if (waveform_ == nullptr) {
            error(formatText("Open file %s ERROR", path.c_str()));
        }
    }
    if (waveform_ == nullptr) {
        return;
    }
    if (averages) {
        for (uint32_t v : detail.averages[7]) {
            std::fprintf(waveform_, "%u\t", v);
        }
        std::fputs("\r\n", waveform_);
    }
    for (uint32_t w : detail.lastEvent[7]) {
        std::fprintf(waveform_, "%u\t", w & 0x1FFFu);
    }
    std::fputs("\r\n", waveform_);
}

void AutoSequenceTest::writeResults() {
    const std::filesystem::path folder =
        sequenceResultsFolder(state_.settings.filenameClr, state_.op);
    for (int t = 0; t < kFifos; ++t) {
        if (!state_.settings.taDaqEnable[t]) {
            continue;
        }
        std::string path =
            (folder / formatText("%sSequenceTest_%d.txt", setup_.name.c_str(), t + 1)).string();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        bool lastTry = false;
        while (file == nullptr) {
            error(formatText("Open file %s ERROR", path.c_str()));
            if (lastTry) {
                break;
            }
            auto chosen = state_.op != nullptr
                              ? state_.op->chooseSaveFile(
                                    path, "", "Sequence File (*.txt)|*.txt|All File (*.*)|*.*||")
                              : std::nullopt;
            if (chosen) {
                path = *chosen;
            } else {
                lastTry = true;
            }
            file = std::fopen(path.c_str(), "wb");
        }
        if (file == nullptr) {
            continue;
        }
        std::fputs("CH", file);
        for (const _VISACMDLIST& section : sections_) {
            std::fprintf(file, "\t%s", section.name.c_str());
        }
        std::fputs("\r\n", file);
        for (int c = 0; c < kChannels; ++c) {
            std::fprintf(file, "%d", c);
            for (const MeasureValues& values : results_) {
                std::fprintf(file, "\t%u", values[c][t]);
            }
            std::fputs("\r\n", file);
        }
        std::fclose(file);
    }
}

int AutoSequenceTest::finishAbort(bool clearStatus) {
    if (clearStatus) {
        setup_.setStatusText("");
    }
    state_.events.AcquisitionDoneEvent.set();
    closeAll();
    return 1;
}

void AutoSequenceTest::closeAll() {
    instrument_.reset();
    resourceManager_.reset();
    if (waveform_ != nullptr) {
        std::fclose(waveform_);
        waveform_ = nullptr;
    }
}

}  // namespace

int RunAutoSequenceTest(RunState& state, SequenceTestSetup& setup) {
    return AutoSequenceTest(state, setup).run();
}

}  // namespace tarvo
