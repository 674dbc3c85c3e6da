#include <gtest/gtest.h>

#include <vector>

#include "Options.h"

namespace {

vmesim::Options parse(std::vector<const char*> args) {
    args.insert(args.begin(), {"vmecrate-sim", "--dir", "/tmp/x"});
    return vmesim::parseOptions(static_cast<int>(args.size()), args.data());
}

TEST(BoardCommandLine, BoardTakesAnOptionalBaseAddress) {
    EXPECT_FALSE(parse({}).board);

    auto plain = parse({"--board", "--event-rate", "250"});
    EXPECT_TRUE(plain.board);
    EXPECT_EQ(plain.boardOptions.base, 0x03030000u);
    EXPECT_DOUBLE_EQ(plain.boardOptions.eventRateHz, 250);

    auto placed = parse({"--board", "0x04000000"});
    EXPECT_EQ(placed.boardOptions.base, 0x04000000u);
    EXPECT_EQ(parse({"--board=0x05000000"}).boardOptions.base, 0x05000000u);
}

TEST(BoardCommandLine, KnobsAndSeed) {
    auto o = parse({"--bus-error-every", "997", "--corrupt-every", "37", "--seed", "12",
                    "--event-rate", "0.5", "--board"});
    EXPECT_EQ(o.boardOptions.busErrorEvery, 997u);
    EXPECT_EQ(o.boardOptions.corruptEvery, 37u);
    EXPECT_EQ(o.boardOptions.seed, 12u);
    EXPECT_DOUBLE_EQ(o.boardOptions.eventRateHz, 0.5);
    EXPECT_EQ(parse({"--board"}).boardOptions.seed, vmesim::board::BoardOptions::kDefaultSeed);

    for (const char* bad : {"-1", "fast", "", "1e12", "nan"}) {
        EXPECT_THROW(parse({"--event-rate", bad}), vmesim::OptionError) << bad;
    }
    EXPECT_THROW(parse({"--corrupt-every", "x"}), vmesim::OptionError);
    EXPECT_THROW(parse({"--board", "0x1zz"}), vmesim::OptionError);
}

}  // namespace
