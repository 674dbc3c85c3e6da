#pragma once

#include <array>
#include <cstdint>

#include "board/BoardRun.h"

namespace tarvo {

// The board operations of the main window that the TA dialog, "InitSetting" and the sequence
// tests call. They run on the caller's thread and report failures through the run's operator;
// callers pass the run-state record, which converts to the board's view of it.

using TaRegisterValues = std::array<uint32_t, 6>;  // Reg1 .. Reg6

// Writes one TA section and loads it into the front end, then sets the operating mode of the
// mode index. Result 0 or the failing bridge result.
int32_t LoadTaConfiguration(BoardRun run, int ta, const TaRegisterValues& values, int modeIndex);

// Sets one TA section up to test a single channel (channel < 0: none) and selects the monitor
// mode. Result 0, or 1 after a message.
int32_t SetupTaChannelTest(BoardRun run, int ta, int32_t channel, int negative);

// Control1 bits 0..3 = mode, Control2 bits 5..9 = channel. Result 0, or 1 after a message.
int32_t SetReadoutMode(BoardRun run, uint32_t mode, uint32_t channel);

// Results of the event reads.
constexpr int32_t kReadDone = 0;
constexpr int32_t kReadStopped = 2;
constexpr int32_t kReadDeadlinePassed = 3;

// Reads `count` events of 8 x 256 words, giving up after timeLimitMs.
int32_t ReadEvents(BoardRun run, int32_t count, uint32_t timeLimitMs, bool display);

// Per-sample averages of the last averaged read and its last raw event.
struct AveragedEventDetail {
    std::array<std::array<uint32_t, 512>, 8> averages{};
    std::array<std::array<uint32_t, 512>, 8> lastEvent{};
};

// Reads `count` events of 8 x 512 words and averages them per FIFO and sample. Each of the output
// arrays (8 values, one per FIFO) may be null. With count below 1 it returns 0 at once.
int32_t ReadAveragedEvents(BoardRun run, int32_t count, uint32_t timeLimitMs, bool display,
                           uint32_t* means, uint32_t* peaks, uint32_t* peakNegs,
                           AveragedEventDetail* detail = nullptr);

}  // namespace tarvo
