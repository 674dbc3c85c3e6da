#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "board/BoardMap.h"
#include "board/FastRng.h"
#include "board/FrontEndConfig.h"

namespace vmesim::board {

// What the front ends put into an event: a pedestal and noise of its own for every channel, hits
// drawn from a few pulse-height lines over a continuum (so a histogram of a run shows peaks), the
// test pulse on the channels of the test mask, and the shaper's pulse shape for the monitor
// waveform. Everything random is drawn from tables built once from the seed, so that filling an
// event costs a few integer operations per word.
class SignalModel {
  public:
    explicit SignalModel(uint64_t seed);

    // Amplitude of the test pulse at the front-end input; 1 V gives 1000 ADC counts at gain 1x.
    // A negative amplitude is a pulse of the other sign.
    void setTestPulseVolts(double volts);
    double testPulseVolts() const { return testPulseVolts_; }

    // ADC counts the pedestals move by for an OffsetADC value (32768 leaves them in place).
    static int adcShiftFor(uint32_t offsetAdc);

    // One FIFO's record of a read-out event: 32 channels x 8 samples, word i = channel * 8 +
    // sample.
    void fillReadoutRecord(uint32_t* out, unsigned tag, unsigned fifo, const FrontEndConfig& fe,
                           int adcShift, FastRng& rng) const;

    // One FIFO's 512 words in the monitor and test modes: the shaper output of one channel sampled
    // 512 times in a row, word i = time sample i. The channel bits name that channel and the
    // sample bits carry the low three bits of the time index (the sampler's cell counter).
    void fillWaveform(uint32_t* out, unsigned tag, unsigned fifo, unsigned channel,
                      const FrontEndConfig& fe, int adcShift, FastRng& rng) const;

    // One 512-word block of the older single-stream layout: 32 channels x 16 samples, word i =
    // channel * 16 + sample, from the front end of section 0.
    void fillStreamBlock(uint32_t* out, unsigned tag, const FrontEndConfig& fe, int adcShift,
                         FastRng& rng) const;

    // Nominal pedestal and noise (in ADC counts) of a channel, before trims and OffsetADC.
    int pedestal(unsigned fifo, unsigned channel) const { return pedestal_[fifo][channel]; }
    double noiseSigma(unsigned fifo, unsigned channel) const {
        return noise16_[fifo][channel] / 16.0;
    }

    static constexpr int kDacOffsetStep = 16;  // ADC counts per step of a channel's 3-bit trim
    static constexpr int kCountsPerVolt = 1000;

  private:
    int baseOf(unsigned fifo, unsigned channel, const FrontEndConfig& fe, int adcShift) const;
    // Signed pulse height of one channel in this event (0 for no pulse).
    int amplitudeOf(unsigned channel, const FrontEndConfig& fe, FastRng& rng) const;

    std::array<std::array<int, kChannels>, kSections> pedestal_{};
    std::array<std::array<int, kChannels>, kSections> noise16_{};  // sigma x 16
    // Standard normal samples x 256. A channel's noise in one event is a run of consecutive
    // entries from a random start, which costs one random number per channel instead of one per
    // word.
    static constexpr size_t kNoiseTable = 1 << 16;
    static constexpr size_t kLongestRun = 512;
    const int16_t* noiseRun(FastRng& rng) const;
    std::vector<int16_t> gauss_;
    std::array<uint16_t, 4096> hitHeight_{};   // pulse heights at gain 1x
    std::array<uint32_t, 8> readoutWeight_{};  // shaper at the 8 held samples, x 65536
    std::array<uint32_t, 16> streamWeight_{};  // the older board's 16 samples, x 65536
    std::array<uint32_t, 512> waveform_{};     // shaper response over 512 samples, x 65536
    double testPulseVolts_ = 0.4;
    int testPulseCounts_ = 400;
};

}  // namespace vmesim::board
