#include "board/BoardOperations.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "board/BoardAccess.h"
#include "board/BoardRegisters.h"
#include "board/FifoAverages.h"
#include "board/FifoEventReader.h"

namespace tarvo {
namespace {

// The front end needs this long after the load trigger before the mode may change again.
constexpr auto kLoadSettleTime = std::chrono::milliseconds(100);

// Steps 1 to 5 of a configuration load. On failure the message has been shown and the bridge
// result is returned; on success control1 holds the value written with the load mode.
int32_t loadSection(BoardAccess& board, int ta, const TaRegisterValues& values,
                    uint32_t& control1) {
    for (int reg = 1; reg <= board::kTaRegisterCount; ++reg) {
        int32_t result = board.write(board::taRegister(ta, reg), values[reg - 1]);
        if (result != 0) {
            board.error("FATAL: Write Reg" + std::to_string(reg) + " FAIL");
            return result;
        }
    }
    int32_t result = board.read(board::kControl1, control1);
    if (result != 0) {
        board.error("FATAL: Read Control1 FAIL");
        return result;
    }
    control1 = board::withMode(control1, board::kModeConfigLoad);
    if ((result = board.write(board::kControl1, control1)) != 0) {
        board.error("FATAL: Write Control1 FAIL");
        return result;
    }
    uint32_t control2 = 0;
    if ((result = board.read(board::kControl2, control2)) != 0) {
        board.error("FATAL: Read Control2 FAIL");
        return result;
    }
    control2 = board::withLoadSection(control2, ta);
    if ((result = board.write(board::kControl2, control2)) != 0) {
        board.error("FATAL: Write Control2 FAIL");
        return result;
    }
    if ((result = board.write(board::kSoftwareTrigger, 0)) != 0) {
        board.error("FATAL: Software Trigger FAIL");
        return result;
    }
    std::this_thread::sleep_for(kLoadSettleTime);
    return 0;
}

// Whether a bridge access failed; its failure message is shown when it did.
bool failed(BoardAccess& board, int32_t result, const char* message) {
    if (result != 0) {
        board.error(message);
    }
    return result != 0;
}

int32_t setMode(BoardAccess& board, uint32_t control1, uint32_t mode) {
    int32_t result = board.write(board::kControl1, board::withMode(control1, mode));
    if (result != 0) {
        board.error("FATAL: Write Control1 FAIL");
    }
    return result;
}

std::optional<FifoEventReader::Clock::time_point> deadlineAfter(uint32_t timeLimitMs) {
    return FifoEventReader::Clock::now() + std::chrono::milliseconds(timeLimitMs);
}

int32_t interruptedResult(ReadOutcome outcome, FifoEventReader::Clock::time_point deadline) {
    if (outcome == ReadOutcome::DeadlinePassed || FifoEventReader::Clock::now() > deadline) {
        return kReadDeadlinePassed;
    }
    return kReadStopped;
}

// The display hand-off: copies the event only while the display has drawn the previous one.
void handToDisplay(DisplayBuffers& display, const RunEvents& events, const uint32_t* area,
                   int wordsPerFifo, bool& firstCopy) {
    if (events.DisplayReadyEvent.isSet()) {
        return;
    }
    for (int k = 0; k < DisplayBuffers::kFifoCount; ++k) {
        std::copy_n(area + static_cast<size_t>(k) * wordsPerFifo, wordsPerFifo,
                    display.SpyBuffer[k].begin());
    }
    display.resetScale.store(firstCopy);
    firstCopy = false;
}

}  // namespace

int32_t LoadTaConfiguration(BoardRun run, int ta, const TaRegisterValues& values, int modeIndex) {
    BoardAccess board(run.context);
    uint32_t control1 = 0;
    if (int32_t result = loadSection(board, ta, values, control1); result != 0) {
        return result;
    }
    return setMode(board, control1, board::modeForIndex(modeIndex));
}

int32_t SetupTaChannelTest(BoardRun run, int ta, int32_t channel, int negative) {
    BoardAccess board(run.context);
    uint32_t bit = 1u << (static_cast<uint32_t>(channel) & 31u);
    TaRegisterValues values{};
    values[0] = bit;
    values[4] = channel < 0 ? 0xFFFFFFFFu : ~bit;
    values[5] = 0x10u | (negative != 0 ? 1u : 0u);
    uint32_t control1 = 0;
    if (loadSection(board, ta, values, control1) != 0) {
        return 1;
    }
    return setMode(board, control1, board::kModeMonitor) != 0 ? 1 : 0;
}

int32_t SetReadoutMode(BoardRun run, uint32_t mode, uint32_t channel) {
    BoardAccess board(run.context);
    uint32_t control1 = 0;
    uint32_t control2 = 0;
    if (failed(board, board.read(board::kControl1, control1), "FATAL: Read Control1 FAIL") ||
        failed(board, board.read(board::kControl2, control2), "FATAL: Read Control2 FAIL")) {
        return 1;
    }
    control1 = board::withMode(control1, mode);
    control2 = board::withMonitorChannel(control2, channel);
    run.channel = channel;
    if (failed(board, board.write(board::kControl2, control2), "FATAL: Write Control2 FAIL") ||
        failed(board, board.write(board::kControl1, control1), "FATAL: Write Control1 FAIL")) {
        return 1;
    }
    std::this_thread::sleep_for(kLoadSettleTime);
    return 0;
}

int32_t ReadEvents(BoardRun run, int32_t count, uint32_t timeLimitMs, bool display) {
    constexpr int kWords = 256;
    BoardAccess board(run.context);
    run.display.wordsPerFifo.store(kWords);
    run.progress.cyclesDone.store(0);
    run.display.sumCount.store(0);
    auto deadline = *deadlineAfter(timeLimitMs);
    FifoEventReader reader(board, run.progress, run.events, kWords, 2048, deadline);
    std::vector<uint32_t> area(static_cast<size_t>(DisplayBuffers::kFifoCount) * kWords);
    bool firstCopy = true;
    for (int32_t accepted = 0; accepted < count;) {
        ReadOutcome outcome = reader.readEvent(area.data());
        if (outcome != ReadOutcome::Event) {
            return interruptedResult(outcome, deadline);
        }
        if (display && !run.events.DisplayReadyEvent.isSet()) {
            handToDisplay(run.display, run.events, area.data(), kWords, firstCopy);
            run.events.DisplayReadyEvent.set();
        }
        run.progress.cyclesDone.store(++accepted);
    }
    return kReadDone;
}

int32_t ReadAveragedEvents(BoardRun run, int32_t count, uint32_t timeLimitMs, bool display,
                           uint32_t* means, uint32_t* peaks, uint32_t* peakNegs,
                           AveragedEventDetail* detail) {
    constexpr int kWords = 512;
    if (count < 1) {
        return kReadDone;
    }
    BoardAccess board(run.context);
    run.display.wordsPerFifo.store(kWords);
    run.progress.cyclesDone.store(0);
    run.display.sumCount.store(0);
    auto deadline = *deadlineAfter(timeLimitMs);
    FifoEventReader reader(board, run.progress, run.events, kWords, 4096, deadline);
    std::vector<uint32_t> area(static_cast<size_t>(DisplayBuffers::kFifoCount) * kWords);
    std::vector<uint32_t> sums(area.size(), 0);
    bool firstCopy = true;
    for (int32_t accepted = 0; accepted < count;) {
        ReadOutcome outcome = reader.readEvent(area.data());
        if (outcome != ReadOutcome::Event) {
            return interruptedResult(outcome, deadline);
        }
        for (size_t i = 0; i < area.size(); ++i) {
            sums[i] += area[i] & 0xFFF;
        }
        ++accepted;
        if (display && !run.events.DisplayReadyEvent.isSet()) {
            handToDisplay(run.display, run.events, area.data(), kWords, firstCopy);
            run.display.sumCount.store(static_cast<uint32_t>(accepted));
            for (int k = 0; k < DisplayBuffers::kFifoCount; ++k) {
                std::copy_n(sums.begin() + static_cast<ptrdiff_t>(k) * kWords, kWords,
                            run.display.SumBuffer[k].begin());
            }
            run.events.DisplayReadyEvent.set();
        }
        run.progress.cyclesDone.store(accepted);
    }
    for (int k = 0; k < DisplayBuffers::kFifoCount; ++k) {
        uint32_t* fifoSums = sums.data() + static_cast<size_t>(k) * kWords;
        FifoAverage avg = averageFifo(fifoSums, count);
        if (means != nullptr) {
            means[k] = avg.mean;
        }
        if (peaks != nullptr) {
            peaks[k] = avg.peak;
        }
        if (peakNegs != nullptr) {
            peakNegs[k] = avg.peakNeg;
        }
        if (detail != nullptr) {
            std::copy_n(fifoSums, kWords, detail->averages[k].begin());
            std::copy_n(area.begin() + static_cast<ptrdiff_t>(k) * kWords, kWords,
                        detail->lastEvent[k].begin());
        }
    }
    return kReadDone;
}

}  // namespace tarvo
