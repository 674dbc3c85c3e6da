#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "board/ReadoutBoard.h"

namespace simboard {

using vmesim::Access;
using vmesim::board::BoardOptions;
using vmesim::board::ReadoutBoard;

constexpr uint32_t kAm = 0x09;

// Drives a board the way the bus does, with D32 cycles at base + offset.
struct BoardHarness {
    explicit BoardHarness(BoardOptions options = {}) : board(std::move(options)) {}

    uint32_t base() const { return board.base(); }

    bool readReg(uint32_t offset, uint32_t& value) {
        uint64_t v = 0;
        const bool ok = board.read(base() + offset, kAm, 4, Access::Single, v);
        value = static_cast<uint32_t>(v);
        return ok;
    }
    uint32_t reg(uint32_t offset) {
        uint32_t v = 0;
        EXPECT_TRUE(readReg(offset, v)) << "offset 0x" << std::hex << offset;
        return v;
    }
    bool writeReg(uint32_t offset, uint32_t value) {
        return board.write(base() + offset, kAm, 4, Access::Single, value);
    }
    void setReg(uint32_t offset, uint32_t value) {
        EXPECT_TRUE(writeReg(offset, value)) << "offset 0x" << std::hex << offset;
    }
    uint32_t status() { return reg(0x1000); }

    // A block read of `words` items stepping the address from `offset`; stops at the first bus
    // error like the bus does and returns what arrived.
    std::vector<uint32_t> block(uint32_t offset, size_t words, bool* busError = nullptr) {
        std::vector<uint32_t> out;
        for (size_t i = 0; i < words; ++i) {
            uint64_t v = 0;
            if (!board.read(base() + offset + static_cast<uint32_t>(4 * (i % 0x1000)), kAm, 4,
                            Access::Block, v)) {
                if (busError) {
                    *busError = true;
                }
                return out;
            }
            out.push_back(static_cast<uint32_t>(v));
        }
        if (busError) {
            *busError = false;
        }
        return out;
    }

    // Sets Control1 bits 0..3 (and, for the monitor and test modes, the channel fields).
    void setMode(uint32_t mode, uint32_t control2 = 0) {
        setReg(0x10C, control2);
        setReg(0x108, mode);
    }

    // Writes the six registers of a section and loads them the way the application does.
    void loadSection(unsigned ta, const std::array<uint32_t, 6>& regs, uint32_t mode = 0) {
        for (unsigned r = 0; r < 6; ++r) {
            setReg(0x20 * ta + 4 * r, regs[r]);
        }
        setReg(0x108, (reg(0x108) & ~0xFu) | 0x2);
        setReg(0x10C, (reg(0x10C) & ~0x7000u) | (ta << 12));
        setReg(0xA00, 0);
        setReg(0x108, (reg(0x108) & ~0xFu) | mode);
    }

    // Waits for a ready status and reads one whole event of 8 x wordsPerFifo words.
    std::vector<uint32_t> event(size_t wordsPerFifo, uint32_t* statusOut = nullptr) {
        const uint32_t s = status();
        EXPECT_EQ(s & 0xC0000000u, 0x80000000u) << "status 0x" << std::hex << s;
        if (statusOut) {
            *statusOut = s;
        }
        return block(0x1000, 8 * wordsPerFifo);
    }

    ReadoutBoard board;
};

inline unsigned tagOf(uint32_t w) {
    return (w >> 28) & 7;
}
inline unsigned fifoOf(uint32_t w) {
    return (w >> 25) & 7;
}
inline unsigned channelOf(uint32_t w) {
    return (w >> 20) & 31;
}
inline unsigned sampleOf(uint32_t w) {
    return (w >> 16) & 7;
}
inline unsigned adcOf(uint32_t w) {
    return w & 0x1FFF;
}

}  // namespace simboard
