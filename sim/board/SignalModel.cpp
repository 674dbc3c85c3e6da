#include "board/SignalModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vmesim::board {

namespace {

// Semi-gaussian shaper (CR-RC^2) normalised to a peak of 1 at x = 1 (x = time / peaking time).
double shaper(double x) {
    if (x <= 0.0) {
        return 0.0;
    }
    return x * x * std::exp(2.0 * (1.0 - x));
}

uint32_t fixed16(double v) {
    return static_cast<uint32_t>(std::lround(v * 65536.0));
}

uint32_t clampAdc(int v) {
    return static_cast<uint32_t>(std::clamp(v, 0, static_cast<int>(kAdcMax)));
}

}  // namespace

SignalModel::SignalModel(uint64_t seed) {
    FastRng rng(seed ^ 0x5EED0F0E0E0Dull);
    for (auto& section : pedestal_) {
        for (int& p : section) {
            p = 940 + static_cast<int>(rng.below(121));
        }
    }
    for (auto& section : noise16_) {
        for (int& n : section) {
            n = 48 + static_cast<int>(rng.below(81));  // sigma 3 .. 8 counts
        }
    }
    gauss_.resize(kNoiseTable + kLongestRun);
    for (size_t i = 0; i < kNoiseTable; i += 2) {
        const double u1 = 1.0 - rng.uniform();
        const double u2 = rng.uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        gauss_[i] =
            static_cast<int16_t>(std::lround(256.0 * r * std::cos(2 * std::numbers::pi * u2)));
        gauss_[i + 1] =
            static_cast<int16_t>(std::lround(256.0 * r * std::sin(2 * std::numbers::pi * u2)));
    }
    // The tail repeats the head, so that a run may start anywhere in the table.
    std::copy_n(gauss_.begin(), kLongestRun, gauss_.begin() + kNoiseTable);
    // Three lines over a flat continuum, in the proportions of a calibration source.
    struct Line {
        double weight, centre, sigma;
    };
    static constexpr Line kLines[] = {{0.35, 150, 6}, {0.25, 360, 10}, {0.15, 640, 14}};
    for (uint16_t& h : hitHeight_) {
        double pick = rng.uniform();
        double height = -1;
        for (const Line& line : kLines) {
            if (pick < line.weight) {
                const double u1 = 1.0 - rng.uniform();
                const double u2 = rng.uniform();
                height = line.centre + line.sigma * std::sqrt(-2.0 * std::log(u1)) *
                                           std::cos(2 * std::numbers::pi * u2);
                break;
            }
            pick -= line.weight;
        }
        if (height < 0) {
            height = 20 + 680 * rng.uniform();
        }
        h = static_cast<uint16_t>(std::lround(std::max(height, 0.0)));
    }
    // The hold catches the shaper near its peak; the samples around it fall off a little.
    for (size_t s = 0; s < readoutWeight_.size(); ++s) {
        readoutWeight_[s] = fixed16(shaper(0.7 + 0.1 * static_cast<double>(s)));
    }
    for (size_t s = 0; s < streamWeight_.size(); ++s) {
        streamWeight_[s] = fixed16(shaper(0.4 + 0.1 * static_cast<double>(s)));
    }
    // The monitor waveform: the pulse starts at sample 48 and peaks 80 samples later.
    for (size_t i = 0; i < waveform_.size(); ++i) {
        waveform_[i] = fixed16(shaper((static_cast<double>(i) - 48.0) / 80.0));
    }
}

const int16_t* SignalModel::noiseRun(FastRng& rng) const {
    return gauss_.data() + rng.below(kNoiseTable);
}

void SignalModel::setTestPulseVolts(double volts) {
    testPulseVolts_ = volts;
    testPulseCounts_ = static_cast<int>(std::lround(volts * kCountsPerVolt));
}

int SignalModel::adcShiftFor(uint32_t offsetAdc) {
    return (static_cast<int>(offsetAdc & 0xFFFF) - 32768) / 16;
}

int SignalModel::baseOf(unsigned fifo, unsigned channel, const FrontEndConfig& fe,
                        int adcShift) const {
    return pedestal_[fifo][channel] + static_cast<int>(fe.dacOffset(channel)) * kDacOffsetStep +
           adcShift;
}

// A disabled channel's preamplifier is off: its output stays at the base line. In test mode the
// inputs are switched to the calibration line, so only the test pulse reaches the shapers.
int SignalModel::amplitudeOf(unsigned channel, const FrontEndConfig& fe, FastRng& rng) const {
    if (fe.disables(channel)) {
        return 0;
    }
    const int gain = static_cast<int>(fe.gainFactor());
    if (fe.testsChannel(channel)) {
        return fe.signalSign() * testPulseCounts_ * gain;
    }
    if (fe.testMode()) {
        return 0;
    }
    const uint64_t r = rng.next();
    if ((r & 3) != 0) {  // a hit in one channel of four per event
        return 0;
    }
    return fe.signalSign() * hitHeight_[(r >> 2) & 0xFFF] * gain;
}

void SignalModel::fillReadoutRecord(uint32_t* out, unsigned tag, unsigned fifo,
                                    const FrontEndConfig& fe, int adcShift, FastRng& rng) const {
    for (unsigned c = 0; c < kChannels; ++c) {
        const int base = baseOf(fifo, c, fe, adcShift);
        const int64_t amp = amplitudeOf(c, fe, rng);
        const int sigma16 = noise16_[fifo][c];
        const int16_t* gauss = noiseRun(rng);
        for (unsigned s = 0; s < 8; ++s) {
            const int signal = static_cast<int>((amp * readoutWeight_[s]) >> 16);
            const int noise = (gauss[s] * sigma16) >> 12;
            out[c * 8 + s] = dataWord(tag, fifo, c, s, clampAdc(base + signal + noise));
        }
    }
}

void SignalModel::fillWaveform(uint32_t* out, unsigned tag, unsigned fifo, unsigned channel,
                               const FrontEndConfig& fe, int adcShift, FastRng& rng) const {
    const int base = baseOf(fifo, channel, fe, adcShift);
    const int64_t amp = amplitudeOf(channel, fe, rng);
    const int sigma16 = noise16_[fifo][channel];
    const int16_t* gauss = noiseRun(rng);
    for (unsigned i = 0; i < waveform_.size(); ++i) {
        const int signal = static_cast<int>((amp * waveform_[i]) >> 16);
        const int noise = (gauss[i] * sigma16) >> 12;
        out[i] = dataWord(tag, fifo, channel, i & 7u, clampAdc(base + signal + noise));
    }
}

void SignalModel::fillStreamBlock(uint32_t* out, unsigned tag, const FrontEndConfig& fe,
                                  int adcShift, FastRng& rng) const {
    for (unsigned c = 0; c < kChannels; ++c) {
        const int base = baseOf(0, c, fe, adcShift);
        const int64_t amp = amplitudeOf(c, fe, rng);
        const int sigma16 = noise16_[0][c];
        const int16_t* gauss = noiseRun(rng);
        for (unsigned s = 0; s < 16; ++s) {
            const int signal = static_cast<int>((amp * streamWeight_[s]) >> 16);
            const int noise = (gauss[s] * sigma16) >> 12;
            out[c * 16 + s] = streamWord(tag, c, s, clampAdc(base + signal + noise));
        }
    }
}

}  // namespace vmesim::board
