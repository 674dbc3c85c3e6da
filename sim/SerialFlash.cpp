#include "SerialFlash.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace vmesim {

namespace {
constexpr uint8_t kProgramPage = 0x82;
constexpr uint8_t kErasePage = 0x81;
constexpr uint8_t kReadPage = 0xD2;
constexpr size_t kAddressBytes = 4;  // opcode and three address bytes
constexpr size_t kReadDummyBytes = 4;
}  // namespace

SerialFlash::SerialFlash(std::string path)
    : path_(std::move(path)), image_(kPageCount * kPageSize, 0xFF) {
    if (path_.empty()) {
        return;
    }
    std::ifstream in(path_, std::ios::binary);
    if (in) {
        in.read(reinterpret_cast<char*>(image_.data()), std::streamsize(image_.size()));
    }
}

SerialFlash::Location SerialFlash::location() const {
    size_t page = (size_t(command_[1]) << 7 | command_[2] >> 1) % kPageCount;
    size_t offset = (size_t(command_[2] & 1) << 8 | command_[3]) % kPageSize;
    return {page, offset};
}

void SerialFlash::select(bool selected) {
    if (selected == selected_) {
        return;
    }
    selected_ = selected;
    if (selected) {
        command_.clear();
        reading_ = false;
        buffer_.fill(0xFF);
    } else {
        finishCommand();
        command_.clear();
        reading_ = false;
    }
}

void SerialFlash::writeByte(uint8_t byte) {
    if (!selected_) {
        return;
    }
    if (command_.size() < kAddressBytes) {
        command_.push_back(byte);
        if (command_.size() == kAddressBytes) {
            writeOffset_ = location().offset;
        }
        return;
    }
    if (command_[0] == kProgramPage) {
        // Data beyond the page end wrap to its start, as the chip's page buffer does.
        buffer_[writeOffset_] = byte;
        writeOffset_ = (writeOffset_ + 1) % kPageSize;
    } else if (command_[0] == kReadPage && !reading_) {
        command_.push_back(byte);
        if (command_.size() == kAddressBytes + kReadDummyBytes) {
            Location at = location();
            readPage_ = at.page;
            readOffset_ = at.offset;
            reading_ = true;
        }
    }
}

uint8_t SerialFlash::readByte() {
    if (!selected_ || !reading_) {
        return 0xFF;
    }
    // A read past the end of the page wraps to its start, as a page read on the chip does.
    uint8_t byte = image_[readPage_ * kPageSize + readOffset_];
    readOffset_ = (readOffset_ + 1) % kPageSize;
    return byte;
}

void SerialFlash::finishCommand() {
    if (command_.size() < kAddressBytes) {
        return;
    }
    Location at = location();
    uint8_t* page = image_.data() + at.page * kPageSize;
    if (command_[0] == kProgramPage) {
        std::copy(buffer_.begin(), buffer_.end(), page);
        ++programmed_;
        persist(at.page);
    } else if (command_[0] == kErasePage) {
        std::fill(page, page + kPageSize, 0xFF);
        ++erased_;
        persist(at.page);
    }
}

void SerialFlash::persist(size_t page) {
    if (path_.empty()) {
        return;
    }
    // Write the whole image when the file is new or of another size, so it always holds every
    // page; afterwards only the changed page.
    std::error_code error;
    bool whole = std::filesystem::file_size(path_, error) != image_.size() || error;
    std::FILE* f = whole ? nullptr : std::fopen(path_.c_str(), "r+b");
    if (!f) {
        f = std::fopen(path_.c_str(), "w+b");
        if (!f) {
            return;
        }
        std::fwrite(image_.data(), 1, image_.size(), f);
    } else {
        std::fseek(f, long(page * kPageSize), SEEK_SET);
        std::fwrite(image_.data() + page * kPageSize, 1, kPageSize, f);
    }
    std::fclose(f);
}

}  // namespace vmesim
