// "Sequence Test": the operator sets the pulse generator by hand between prompts; base line,
// twenty pulse amplitudes and the trigger rate of each TA, written as one table per enabled TA.
#include <algorithm>
#include <cstdio>

#include "sequence/SequenceResultFiles.h"
#include "sequence/SequenceTestWorkers.h"
#include "shell/Operator.h"

namespace tarvo {
namespace {

constexpr int kChannels = 32;
constexpr int kFifos = 8;
constexpr int kAmplitudeSteps = 10;

enum class Output { Means, Peaks, PeakNegs };

class ManualSequenceTest {
  public:
    ManualSequenceTest(RunState& state, SequenceTestSetup& setup)
        : state_(state),
          tables_(setup.manualTables),
          ownBoard_(state),
          board_(setup.board != nullptr ? *setup.board : ownBoard_),
          clock_(setup.clock != nullptr ? *setup.clock : realSequenceClock()) {}

    int run();

  private:
    bool prompt(const std::string& text) {
        return state_.op != nullptr && state_.op->askOkCancel(text);
    }
    // Measures all channels into the table rows; false when the operator chose to abort.
    bool measureChannels(Output output, std::array<std::array<uint32_t, 8>, 32>& rows,
                         const char* format);
    void measureTriggerRates();
    void writeResults();

    RunState& state_;
    ManualSequenceTables& tables_;
    RunStateBoard ownBoard_;
    SequenceBoard& board_;
    SequenceClock& clock_;
};

int ManualSequenceTest::run() {
    tables_ = ManualSequenceTables{};
    auto aborted = [this] {
        state_.events.AcquisitionDoneEvent.set();
        return 1;
    };
    if (prompt("Base line measure\nPlease Set 0mV Amplitude") &&
        !measureChannels(Output::Means, tables_.baseTable, "FIFO%d Average=%d\n")) {
        return aborted();
    }
    for (int a = 100; a <= 100 * kAmplitudeSteps; a += 100) {
        if (prompt(formatText("Peak measure\nPlease Set %dmV Amplitude", a)) &&
            !measureChannels(Output::Peaks, tables_.peakTable[a / 100 - 1], "FIFO%d Peak=%d\n")) {
            return aborted();
        }
    }
    for (int a = 100; a <= 100 * kAmplitudeSteps; a += 100) {
        if (prompt(formatText("Peak measure\nPlease Set -%dmV Amplitude", a)) &&
            !measureChannels(Output::PeakNegs, tables_.peakTable[9 + a / 100],
                             "FIFO%d PeakNeg=%d\n")) {
            return aborted();
        }
    }
    if (prompt("TA measure\nPlease remove trigger signal")) {
        measureTriggerRates();
    }
    writeResults();
    state_.events.AcquisitionDoneEvent.set();
    return 0;
}

bool ManualSequenceTest::measureChannels(Output output,
                                         std::array<std::array<uint32_t, 8>, 32>& rows,
                                         const char* format) {
    const int64_t limit =
        std::max<int64_t>(1000, 20 * static_cast<int64_t>(state_.settings.cycleCount));
    for (int c = 0; c < kChannels; ++c) {
        uint32_t* row = rows[c].data();
        board_.systemReset();
        board_.setReadoutMode(8, static_cast<uint32_t>(c));
        // A stop during the warm-up is kept for the measuring read, so the question comes.
        if (board_.readAveragedEvents(2, 1000, false, nullptr, nullptr, nullptr, nullptr) ==
            kReadStopped) {
            state_.events.StopEvent.set();
        }
        const int32_t r = board_.readAveragedEvents(
            state_.settings.cycleCount, static_cast<uint32_t>(std::min<int64_t>(limit, UINT32_MAX)),
            true, output == Output::Means ? row : nullptr, output == Output::Peaks ? row : nullptr,
            output == Output::PeakNegs ? row : nullptr, nullptr);
        std::string text;
        for (int k = 0; k < kFifos; ++k) {
            text += formatText(format, k + 1, static_cast<int>(row[k]));
        }
        state_.display.setPeakText(text);
        if (r != kReadDone && state_.op != nullptr &&
            state_.op->askYesNo("DAQ Error\n\nAbort Sequence Test ?")) {
            return false;
        }
    }
    return true;
}

void ManualSequenceTest::measureTriggerRates() {
    for (int t = 0; t < kFifos; ++t) {
        if (!state_.settings.taDaqEnable[t]) {
            continue;
        }
        for (int c = 0; c < kChannels; ++c) {
            board_.systemReset();
            board_.setupTaChannelTest(t, c, 0);
            clock_.sleep(std::chrono::milliseconds(100));
            board_.setReadoutMode(1, static_cast<uint32_t>(c));
            board_.readEvents(2, 1000, false);
            board_.readEvents(10000, 10000, true);
            tables_.taTable[t][c] = static_cast<uint32_t>(state_.progress.cyclesDone.load());
        }
    }
}

void ManualSequenceTest::writeResults() {
    const std::filesystem::path folder =
        sequenceResultsFolder(state_.settings.filenameClr, state_.op);
    for (int t = 0; t < kFifos; ++t) {
        if (!state_.settings.taDaqEnable[t]) {
            continue;
        }
        const std::string path = (folder / formatText("SequenceTest_%d.txt", t + 1)).string();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            if (state_.op != nullptr) {
                state_.op->error(formatText("Open file %s ERROR", path.c_str()));
            }
            continue;
        }
        std::fputs(
            "CH\tTA\tBase\tPk100\tPk200\tPk300\tPk400\tPk500\tPk600\tPk700\tPk800\tPk900\tPk1000"
            "\tPk-100\tPk-200\tPk-300\tPk-400\tPk-500\tPk-600\tPk-700\tPk-800\tPk-900\tPk-1000\r\n",
            file);
        for (int c = 0; c < kChannels; ++c) {
            std::string peaks;
            for (const auto& step : tables_.peakTable) {
                peaks += formatText("\t%d", static_cast<int>(step[c][t]));
            }
            std::fprintf(file, "%d\t%d\t%d%s\r\n", c, static_cast<int>(tables_.taTable[t][c]),
                         static_cast<int>(tables_.baseTable[c][t]), peaks.c_str());
        }
        std::fclose(file);
    }
}

}  // namespace

int RunManualSequenceTest(RunState& state, SequenceTestSetup& setup) {
    return ManualSequenceTest(state, setup).run();
}

}  // namespace tarvo
