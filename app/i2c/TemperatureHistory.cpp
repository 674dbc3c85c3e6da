#include "i2c/TemperatureHistory.h"

#include <cstdio>

namespace tarvo {

void TemperatureHistory::AddSample(const Sample& temperatures) {
    samples_[end_] = temperatures;
    end_ = (end_ + 1) % kSlots;
    if (end_ == start_) {
        start_ = (start_ + 1) % kSlots;
    }
}

std::vector<double> TemperatureHistory::channel(int ch) const {
    std::vector<double> values;
    values.reserve(size());
    for (uint32_t i = start_; i != end_; i = (i + 1) % kSlots) {
        values.push_back(samples_[i][size_t(ch)]);
    }
    return values;
}

std::string TemperatureHistory::graphFileText() const {
    std::string text = "VATA1";
    for (int ch = 2; ch <= kChannels; ++ch) {
        text += "\tVATA" + std::to_string(ch);
    }
    text += "\r\n";
    char field[64];
    for (uint32_t i = start_; i != end_; i = (i + 1) % kSlots) {
        for (int ch = 0; ch < kChannels; ++ch) {
            std::snprintf(field, sizeof(field), ch == 0 ? "%.1f" : "\t%.1f",
                          samples_[i][size_t(ch)]);
            text += field;
        }
        text += "\r\n";
    }
    return text;
}

bool TemperatureHistory::writeGraphFile(const std::string& path) const {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::string text = graphFileText();
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    // A full disk shows only at the flush; the operator must not be told the graph was saved.
    written = std::fclose(file) == 0 && written;
    return written;
}

double graphAxisMaximum(double current, uint32_t n) {
    if (n >= TemperatureHistory::kSlots) {
        return TemperatureHistory::kSlots;
    }
    if (double(n) > current) {
        return 2.0 * n >= TemperatureHistory::kSlots ? TemperatureHistory::kSlots : 2.0 * n;
    }
    return current;
}

}  // namespace tarvo
