#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <thread>

#include "KOVRAVMElib.h"
#include "acquisition/AcquisitionWorkers.h"
#include "acquisition/DaqFileLayout.h"
#include "acquisition/DaqFileWriter.h"
#include "acquisition/LegacyBlockAssembler.h"
#include "board/BoardAccess.h"
#include "board/BoardRegisters.h"

namespace tarvo {

int LegacyReadoutWorker(RunState& state) {
    BoardAccess board(state.boardContext());
    DaqFileWriter raw;
    DaqFileWriter clean;
    auto finish = [&](int result) {
        for (DaqFileWriter* file : {&raw, &clean}) {
            std::string reason;
            if (file->isOpen() && !file->close(reason)) {
                board.error(daqWriteFailedMessage(file->path(), reason));
                result = 1;
            }
        }
        state.events.AcquisitionDoneEvent.set();
        return result;
    };

    std::string reason;
    if (!raw.open(state.settings.filename, DaqFileWriter::Sharing::DenyWriters, 0, reason)) {
        board.error(daqOpenFailedMessage(state.settings.filename, reason));
        return finish(1);
    }
    if (!clean.open(state.settings.filenameClr, DaqFileWriter::Sharing::Shared,
                    daq::kLegacyRecordBytes, reason)) {
        board.error(daqOpenFailedMessage(state.settings.filenameClr, reason));
        return finish(1);
    }

    state.display.wordsPerFifo.store(daq::kLegacyRecordWords);
    std::array<uint32_t, daq::kLegacyRecordWords> buffer{};
    LegacyBlockAssembler assembler;
    bool writeFailed = false;
    auto writeBlock = [&](const LegacyBlockAssembler::Block& block) {
        std::string why;
        if (!clean.append(block.data(), daq::kLegacyRecordBytes, why)) {
            board.error(daqWriteFailedMessage(clean.path(), why));
            writeFailed = true;
            return false;
        }
        if (!state.events.DisplayReadyEvent.isSet()) {
            std::copy(block.begin(), block.end(), state.display.SpyBuffer[0].begin());
            state.events.DisplayReadyEvent.set();
        }
        state.progress.cyclesDone.fetch_add(1);
        return true;
    };

    const int32_t cycleCount = state.settings.cycleCount;
    while (state.progress.cyclesDone.load() < cycleCount) {
        if (state.events.StopEvent.isSet()) {
            state.events.StopEvent.reset();
            return finish(1);
        }
        int32_t count = 0;
        int32_t result = board.blockRead(board::kStreamPort, buffer.data(),
                                         static_cast<int32_t>(sizeof buffer), count);
        count = std::clamp<int32_t>(count, 0, static_cast<int32_t>(sizeof buffer));
        if (count > 0) {
            uint32_t lost = 0;
            bool fed =
                assembler.feed(buffer.data(), static_cast<size_t>(count) / 4, writeBlock, lost);
            state.progress.eventsLost.fetch_add(lost);
            if (!fed || writeFailed) {
                return finish(1);
            }
            std::string why;
            if (!raw.append(buffer.data(), static_cast<size_t>(count), why)) {
                board.error(daqWriteFailedMessage(raw.path(), why));
                return finish(1);
            }
        }
        if (result == BusError) {
            state.progress.busErrorCount.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else if (result != Success) {
            state.progress.lastError.store(result);
        }
    }
    return finish(0);
}

}  // namespace tarvo
