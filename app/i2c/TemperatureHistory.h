#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// The recent reading cycles of the eight VATA temperatures: a ring of 2048 slots of which one
// always stays free, so it holds the last 2047 cycles (about 2 h 50 min at one per 5 s).
class TemperatureHistory {
  public:
    static constexpr uint32_t kSlots = 2048;
    static constexpr int kChannels = 8;
    using Sample = std::array<double, kChannels>;

    void AddSample(const Sample& temperatures);

    uint32_t size() const { return (end_ + kSlots - start_) % kSlots; }
    bool empty() const { return start_ == end_; }
    uint32_t start() const { return start_; }
    uint32_t end() const { return end_; }
    // Sample i counted from the oldest (0 <= i < size()).
    const Sample& at(uint32_t i) const { return samples_[(start_ + i) % kSlots]; }
    // One channel's values, oldest first.
    std::vector<double> channel(int ch) const;

    // The graph file: a header line "VATA1\tVATA2..." then one line per sample, oldest first,
    // "%.1f" fields separated by tabs, lines ended CR LF. False when the file cannot be written.
    bool writeGraphFile(const std::string& path) const;
    std::string graphFileText() const;

  private:
    std::vector<Sample> samples_ = std::vector<Sample>(kSlots, Sample{});
    uint32_t start_ = 0;
    uint32_t end_ = 0;
};

// The graph's X axis after a redraw with n samples per line: it doubles to cover n (2048 at
// most) and never shrinks.
double graphAxisMaximum(double current, uint32_t n);

}  // namespace tarvo
