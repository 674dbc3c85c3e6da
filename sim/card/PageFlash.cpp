#include "card/PageFlash.h"

#include <algorithm>

namespace vmesim {

namespace {
constexpr uint8_t kWritePage = 0x82;
constexpr uint8_t kReadPage = 0xD2;
constexpr uint8_t kErasePage = 0x81;
constexpr size_t kReadHeader = 8;
constexpr size_t kWriteHeader = 4;
}  // namespace

uint32_t PageFlash::pageNumber(const std::vector<uint8_t>& command) {
    return static_cast<uint32_t>(command[1]) << 7 | command[2] >> 1;
}

void PageFlash::setEnable(bool on) {
    if (enabled_ && !on) {
        finishCommand();
    }
    if (on && !enabled_) {
        command_.clear();
        readOffset_ = 0;
    }
    enabled_ = on;
}

void PageFlash::writeByte(uint8_t byte) {
    if (enabled_) {
        command_.push_back(byte);
    }
}

uint8_t PageFlash::readByte() {
    if (!enabled_ || command_.size() < kReadHeader || command_[0] != kReadPage) {
        return 0xFF;
    }
    auto data = page(pageNumber(command_));
    // Reading on past the end of a page wraps to its start, as the chip's buffer does.
    uint8_t byte = data[readOffset_ % kPageSize];
    ++readOffset_;
    return byte;
}

std::array<uint8_t, PageFlash::kPageSize> PageFlash::page(uint32_t number) const {
    auto it = pages_.find(number);
    if (it != pages_.end()) {
        return it->second;
    }
    std::array<uint8_t, kPageSize> erased;
    erased.fill(0xFF);
    return erased;
}

void PageFlash::finishCommand() {
    if (command_.size() < 3) {
        return;
    }
    uint32_t number = pageNumber(command_);
    if (command_[0] == kWritePage && command_.size() >= kWriteHeader + kPageSize) {
        std::array<uint8_t, kPageSize> data;
        std::copy_n(command_.begin() + kWriteHeader, kPageSize, data.begin());
        pages_[number] = data;
    } else if (command_[0] == kErasePage && command_.size() >= kWriteHeader) {
        pages_.erase(number);
    }
}

}  // namespace vmesim
