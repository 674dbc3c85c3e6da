#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/AcquisitionWorkers.h"
#include "acquisition/DaqFileLayout.h"
#include "acquisition/DaqFileWriter.h"
#include "acquisition/DaqRunJournal.h"
#include "acquisition/FindPeakSummary.h"
#include "board/BoardAccess.h"
#include "board/BoardRegisters.h"
#include "board/FifoEventReader.h"

namespace tarvo {
namespace {

enum class FifoWorkerKind { Readout, Monitor, FindPeak };

// Sets Control1 and Control2 for the acquisition type; the bits not named stay as read.
bool setUpBoard(BoardAccess& board, int32_t type, uint32_t channel) {
    uint32_t control1 = 0;
    uint32_t control2 = 0;
    if (board.read(board::kControl1, control1) != 0) {
        board.error("FATAL: Read Control1 FAIL");
        return false;
    }
    if (board.read(board::kControl2, control2) != 0) {
        board.error("FATAL: Read Control2 FAIL");
        return false;
    }
    switch (type) {
        case 1:
            control1 = board::withMode(control1, board::kModeTestSetUp);
            control2 = board::withTestChannel(control2, channel);
            break;
        case 2:
        case 4:
            control1 = board::withMode(control1, board::kModeMonitor);
            control2 = board::withMonitorChannel(control2, channel);
            break;
        case 3:
            control1 = board::withMode(control1, board::kModeShiftIn);
            break;
        default:
            control1 = board::withMode(control1, board::kModeNormal);
            break;
    }
    if (board.write(board::kControl2, control2) != 0) {
        board.error("FATAL: Write Control2 FAIL");
        return false;
    }
    if (board.write(board::kControl1, control1) != 0) {
        board.error("FATAL: Write Control1 FAIL");
        return false;
    }
    return true;
}

// The FIFO files of the enabled TA sections, open for one run, with the journal that keeps them
// in step when a run is killed between the writes of one event.
class FifoFiles {
  public:
    explicit FifoFiles(BoardAccess& board) : board_(board) {}
    ~FifoFiles() { closeAll(); }

    bool openEnabled(const RunState& state) {
        std::string failedPath;
        std::string why;
        if (!journal_.open(state.settings.filenameClr, failedPath, why)) {
            board_.error(daqOpenFailedMessage(failedPath, why));
            return false;
        }
        FifoRecordCounts start;
        start.fill(-1);
        for (int k = 0; k < daq::kFifoCount; ++k) {
            if (!state.settings.taDaqEnable[k]) {
                continue;
            }
            std::string path = daq::fifoFileName(state.settings.filenameClr, k);
            std::string reason;
            files_[k].emplace();
            if (!files_[k]->open(path, DaqFileWriter::Sharing::DenyWriters, daq::kFifoRecordBytes,
                                 reason)) {
                files_[k].reset();
                board_.error(daqOpenFailedMessage(path, reason));
                closeAll();
                return false;
            }
            start[static_cast<size_t>(k)] =
                static_cast<int64_t>(files_[k]->size() / daq::kFifoRecordBytes);
        }
        if (!journal_.recordStart(start, why)) {
            board_.error(
                daqWriteFailedMessage(DaqRunJournal::pathFor(state.settings.filenameClr), why));
            closeAll();
            return false;
        }
        return true;
    }

    // Appends the event to every open file, or to none: when one write fails, the records this
    // event already left in the other files are taken back, so all files keep the same events.
    bool appendEvent(const uint32_t* area) {
        std::array<size_t, daq::kFifoCount> sizes{};
        for (int k = 0; k < daq::kFifoCount; ++k) {
            if (!files_[k]) {
                continue;
            }
            sizes[k] = files_[k]->size();
            std::string reason;
            if (!files_[k]->append(area + static_cast<size_t>(k) * daq::kFifoRecordWords,
                                   daq::kFifoRecordBytes, reason)) {
                board_.error(daqWriteFailedMessage(files_[k]->path(), reason));
                for (int j = 0; j < k; ++j) {
                    if (files_[j]) {
                        files_[j]->truncate(sizes[j], reason);
                    }
                }
                closeAll();
                return false;
            }
        }
        return true;
    }

    // Flushes and closes; a failure to get the data onto the disk is reported like a failed write.
    bool closeAll() {
        bool ok = true;
        for (auto& file : files_) {
            if (!file) {
                continue;
            }
            std::string reason;
            if (!file->close(reason)) {
                board_.error(daqWriteFailedMessage(file->path(), reason));
                ok = false;
            }
            file.reset();
        }
        journal_.close();
        return ok;
    }

  private:
    BoardAccess& board_;
    DaqRunJournal journal_;
    std::array<std::optional<DaqFileWriter>, daq::kFifoCount> files_;
};

int runFifoWorker(RunState& state, FifoWorkerKind kind) {
    const bool readout = kind == FifoWorkerKind::Readout;
    const bool findPeak = kind == FifoWorkerKind::FindPeak;
    const int words = readout ? 256 : 512;
    BoardAccess board(state.boardContext());
    auto finish = [&state](int result) {
        state.events.AcquisitionDoneEvent.set();
        return result;
    };

    if (!setUpBoard(board, state.settings.acquisitionType, state.settings.channel)) {
        return finish(1);
    }
    state.display.wordsPerFifo.store(words);
    FifoFiles files(board);
    if (readout && !files.openEnabled(state)) {
        return finish(1);
    }

    FifoEventReader reader(board, state.progress, state.events, words, readout ? 2048 : 4096);
    std::vector<uint32_t> area(static_cast<size_t>(RunState::kFifoCount) * words);
    std::vector<uint32_t> sums(findPeak ? area.size() : 0, 0);
    bool firstHandOff = true;
    const int32_t cycleCount = state.settings.cycleCount;
    while (state.progress.cyclesDone.load() < cycleCount) {
        if (reader.readEvent(area.data()) != ReadOutcome::Event) {
            files.closeAll();
            return finish(1);
        }
        if (findPeak) {
            for (size_t i = 0; i < area.size(); ++i) {
                sums[i] += area[i] & 0xFFF;
            }
        }
        if (!state.events.DisplayReadyEvent.isSet()) {
            for (int k = 0; k < RunState::kFifoCount; ++k) {
                std::copy_n(area.begin() + static_cast<ptrdiff_t>(k) * words, words,
                            state.display.SpyBuffer[k].begin());
            }
            if (findPeak) {
                for (int k = 0; k < RunState::kFifoCount; ++k) {
                    std::copy_n(sums.begin() + static_cast<ptrdiff_t>(k) * words, words,
                                state.display.SumBuffer[k].begin());
                }
                state.display.sumCount.store(
                    static_cast<uint32_t>(state.progress.cyclesDone.load() + 1));
                state.display.resetScale.store(firstHandOff);
                firstHandOff = false;
            }
            state.events.DisplayReadyEvent.set();
        }
        if (readout && !files.appendEvent(area.data())) {
            return finish(1);
        }
        state.progress.cyclesDone.fetch_add(1);
    }
    if (!files.closeAll()) {
        return finish(1);
    }
    if (findPeak) {
        state.display.setPeakText(findPeakSummary(sums.data(), cycleCount));
    }
    return finish(0);
}

}  // namespace

int FifoReadoutWorker(RunState& state) {
    return runFifoWorker(state, FifoWorkerKind::Readout);
}

int MonitorWorker(RunState& state) {
    return runFifoWorker(state, FifoWorkerKind::Monitor);
}

int FindPeakWorker(RunState& state) {
    return runFifoWorker(state, FifoWorkerKind::FindPeak);
}

}  // namespace tarvo
