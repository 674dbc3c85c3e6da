#include "FakeAdapter.h"

namespace nimbra::test {

std::string hexOf(const std::vector<uint8_t>& bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += kHex[b >> 4];
        text += kHex[b & 0xF];
    }
    return text;
}

int32_t FakeLink::write(std::span<const uint8_t> bytes, bool stop) {
    std::string text = "W " + hexOf({bytes.begin(), bytes.end()}) + (stop ? "" : " nostop");
    int32_t status = record_->fail(record_->transactions.size(), text);
    record_->transactions.push_back(text);
    if (bytes.size() >= 2) {
        lastCommand_ = bytes[1];
    }
    return status;
}

int32_t FakeLink::read(uint8_t addressByte, std::span<uint8_t> buffer) {
    std::string text = "R " + hexOf({addressByte});
    int32_t status = record_->fail(record_->transactions.size(), text);
    record_->transactions.push_back(text);
    if (status == tarvo::kI2cSuccess) {
        std::vector<uint8_t> answer = record_->answer(lastCommand_);
        for (size_t i = 0; i < buffer.size() && i < answer.size(); ++i) {
            buffer[i] = answer[i];
        }
    }
    return status;
}

std::vector<tarvo::AdapterEntry> fakeEntries(const std::vector<std::string>& names) {
    std::vector<tarvo::AdapterEntry> entries;
    for (size_t i = 0; i < names.size(); ++i) {
        entries.push_back({"fake" + std::to_string(i), names[i], int32_t(100 + i),
                           std::string(1, char('A' + i)), "fake"});
    }
    return entries;
}

}  // namespace nimbra::test
