#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace tarvo {

// The hand-off from a worker to the display: the worker fills the buffers only while
// DisplayReadyEvent is reset and sets it afterwards; the display reads them and resets it.
struct DisplayBuffers {
    static constexpr int kFifoCount = 8;
    static constexpr int kSpyWords = 512;

    std::array<std::array<uint32_t, kSpyWords>, kFifoCount> SpyBuffer{};
    std::array<std::array<uint32_t, kSpyWords>, kFifoCount> SumBuffer{};
    std::atomic<uint32_t> sumCount{0};
    std::atomic<bool> resetScale{false};
    std::atomic<int32_t> wordsPerFifo{512};  // words per FIFO of the event being shown

    // The find-peak summary, written by the worker at its end and read by the window.
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
