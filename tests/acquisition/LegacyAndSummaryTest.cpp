#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "acquisition/FindPeakSummary.h"
#include "acquisition/LegacyBlockAssembler.h"

namespace tarvo {
namespace {

std::vector<uint32_t> run(uint32_t tag, size_t n, uint32_t first = 0) {
    std::vector<uint32_t> words;
    for (size_t i = 0; i < n; ++i) {
        words.push_back((tag << 28) | static_cast<uint32_t>(first + i));
    }
    return words;
}

struct Collected {
    std::vector<LegacyBlockAssembler::Block> blocks;
    LegacyBlockAssembler::BlockSink sink() {
        return [this](const LegacyBlockAssembler::Block& b) {
            blocks.push_back(b);
            return true;
        };
    }
};

std::vector<uint32_t> concat(std::initializer_list<std::vector<uint32_t>> parts) {
    std::vector<uint32_t> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TEST(LegacyBlockAssembler, EventsSpanningTransfersAndFragments) {
    LegacyBlockAssembler assembler;
    Collected out;
    uint32_t lost = 0;
    // A fragment of 100 words, then an event split over two transfers, then the next tag.
    auto first = concat({run(0xA, 100), run(0xB, 300)});
    auto second = concat({run(0xB, 212, 300), run(0xC, 5)});
    ASSERT_TRUE(assembler.feed(first.data(), first.size(), out.sink(), lost));
    ASSERT_TRUE(assembler.feed(second.data(), second.size(), out.sink(), lost));
    EXPECT_EQ(lost, 1u);
    ASSERT_EQ(out.blocks.size(), 1u);
    EXPECT_EQ(out.blocks[0][0], 0xB0000000u);
    EXPECT_EQ(out.blocks[0][511], 0xB0000000u | 511);
}

TEST(LegacyBlockAssembler, FullBlockAtTransferEndIsWrittenAndAFiveHundredThirteenthWordDropsIt) {
    LegacyBlockAssembler assembler;
    Collected out;
    uint32_t lost = 0;
    auto exact = run(0x3, 512);
    ASSERT_TRUE(assembler.feed(exact.data(), exact.size(), out.sink(), lost));
    EXPECT_EQ(out.blocks.size(), 1u);
    // Same tag straight after: the next block starts empty, so this is a fresh event.
    auto again = run(0x3, 512, 1000);
    ASSERT_TRUE(assembler.feed(again.data(), again.size(), out.sink(), lost));
    EXPECT_EQ(out.blocks.size(), 2u);
    EXPECT_EQ(lost, 0u);

    // 513 words of one tag inside one transfer: the 512 are discarded, the 513th starts over.
    LegacyBlockAssembler second;
    Collected out2;
    auto tooLong = concat({run(0x5, 513), run(0x5, 511, 2000), run(0x6, 1)});
    ASSERT_TRUE(second.feed(tooLong.data(), tooLong.size(), out2.sink(), lost));
    EXPECT_EQ(lost, 1u);
    ASSERT_EQ(out2.blocks.size(), 1u);
    EXPECT_EQ(out2.blocks[0][0], 0x50000000u | 512);
}

TEST(LegacyBlockAssembler, RefusingSinkStopsAtOnce) {
    LegacyBlockAssembler assembler;
    uint32_t lost = 0;
    int calls = 0;
    auto words = concat({run(1, 512), run(2, 512), run(3, 1)});
    EXPECT_FALSE(assembler.feed(
        words.data(), words.size(),
        [&](const LegacyBlockAssembler::Block&) {
            ++calls;
            return false;
        },
        lost));
    EXPECT_EQ(calls, 1);
}

TEST(FindPeakSummary, FormatsEightLines) {
    std::vector<uint32_t> sums(8 * 512, 0);
    for (int k = 0; k < 8; ++k) {
        for (int i = 0; i < 512; ++i) {
            sums[k * 512 + i] = 3 * (1000 + k);  // average 1000 + k over 3 cycles
        }
        sums[k * 512 + 7] = 3 * 2500;
        sums[k * 512 + 9] = 3 * 12;
    }
    std::string text = findPeakSummary(sums.data(), 3);
    EXPECT_EQ(text.substr(0, 43), "FIFO1 Peak=2500 PeakNeg=  12 Average=1001\nF");
    EXPECT_NE(text.find("FIFO8 Peak=2500 PeakNeg=  12 Average=1008\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);
}

TEST(FindPeakSummary, NoCyclesGivesZerosInsteadOfDividingByZero) {
    std::vector<uint32_t> sums(8 * 512, 0);
    std::string text = findPeakSummary(sums.data(), 0);
    EXPECT_EQ(text.substr(0, 36), "FIFO1 Peak=   0 PeakNeg=   0 Average");
    EXPECT_EQ(findPeakSummary(sums.data(), -5), text);
}

}  // namespace
}  // namespace tarvo
