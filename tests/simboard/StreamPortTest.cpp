#include <gtest/gtest.h>

#include "BoardHarness.h"

namespace simboard {
namespace {

struct TagRun {
    unsigned tag;
    std::vector<uint32_t> words;
};

// Splits a stream into runs of one top nibble, the way the older reader sees blocks.
std::vector<TagRun> runsOf(const std::vector<uint32_t>& stream) {
    std::vector<TagRun> runs;
    for (uint32_t w : stream) {
        if (runs.empty() || runs.back().tag != w >> 28) {
            runs.push_back({w >> 28, {}});
        }
        runs.back().words.push_back(w);
    }
    return runs;
}

TEST(BoardStreamPort, BlocksOf512WordsWithAdvancingTagsAndSomeFragments) {
    BoardHarness h;
    std::vector<uint32_t> stream;
    // Reads of 2048 bytes, as the older reader makes them, so blocks straddle transfers.
    for (int t = 0; t < 400; ++t) {
        const auto part = h.block(0x8000, 512);
        ASSERT_EQ(part.size(), 512u);
        stream.insert(stream.end(), part.begin(), part.end());
    }
    auto runs = runsOf(stream);
    runs.pop_back();  // the block still being read
    size_t whole = 0, fragments = 0;
    for (size_t r = 0; r < runs.size(); ++r) {
        const TagRun& run = runs[r];
        if (r > 0) {
            ASSERT_EQ(run.tag, (runs[r - 1].tag + 1) & 0xF) << "run " << r;
        }
        ASSERT_LE(run.words.size(), 512u);
        (run.words.size() == 512 ? whole : fragments) += 1;
        // Whole or cut short, a block starts at channel 0 sample 0 and is channel-major.
        for (size_t i = 0; i < run.words.size(); ++i) {
            const uint32_t w = run.words[i];
            ASSERT_EQ((w >> 20) & 31, i / 16) << "run " << r << " word " << i;
            ASSERT_EQ((w >> 16) & 15, i % 16) << "run " << r << " word " << i;
            ASSERT_EQ((w >> 25) & 7, 0u);
        }
    }
    EXPECT_GT(fragments, 3u);
    EXPECT_GT(whole, 10 * fragments);
    EXPECT_EQ(h.board.stream().fragmentsRead(), fragments);
    EXPECT_EQ(h.board.stream().blocksRead(), whole);
}

TEST(BoardStreamPort, StreamIsPacedByTheEventRate) {
    uint64_t clock = 0;
    BoardOptions options;
    options.eventRateHz = 100;
    options.clockNs = [&clock] { return clock; };
    BoardHarness h(options);
    bool busError = false;
    const auto first = h.block(0x8000, 2000, &busError);
    EXPECT_TRUE(busError);
    EXPECT_GE(first.size(), 1u);
    EXPECT_LE(first.size(), 512u);
    EXPECT_TRUE(h.block(0x8000, 10, &busError).empty());
    clock += 10'000'000;
    const auto second = h.block(0x8000, 2000, &busError);
    EXPECT_TRUE(busError);
    EXPECT_EQ(second.front() >> 28, ((first.front() >> 28) + 1) & 0xF);
    EXPECT_EQ(h.board.counts().streamEmptyReads, 3u);
    EXPECT_EQ(h.board.counts().busErrorsInjected, 0u);
}

}  // namespace
}  // namespace simboard
