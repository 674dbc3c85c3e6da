#include "Options.h"

#include <gtest/gtest.h>

#include <vector>

namespace vmesim {
namespace {

Options parse(std::vector<const char*> args) {
    args.insert(args.begin(), "vmecrate-sim");
    return parseOptions(int(args.size()), args.data());
}

TEST(OptionsTest, NumbersAreReadAsCReadsThem) {
    EXPECT_EQ(parseNumber("0x10", "n"), 16u);
    EXPECT_EQ(parseNumber("010", "n"), 8u);
    EXPECT_EQ(parseNumber("10", "n"), 10u);
    EXPECT_EQ(parseNumber("0XFFFFFFFF", "n"), 0xFFFFFFFFu);
    for (const char* bad : {"", "-1", "0x", "12abc", "0x100000000", " 5", "+5", "09"}) {
        EXPECT_THROW(parseNumber(bad, "n"), OptionError) << bad;
    }
}

TEST(OptionsTest, EveryOptionOfTheCommandLine) {
    Options o = parse({"--dir", "/tmp/x", "--trace", "t.txt", "--memory", "0x1000:0x100",
                       "--memory=0:4096", "--delay-us", "250", "--irq", "0x44", "--flash", "f.bin",
                       "--stats", "s.json", "--idle-timeout-ms", "750"});
    EXPECT_EQ(o.dir, "/tmp/x");
    EXPECT_EQ(o.tracePath, "t.txt");
    ASSERT_EQ(o.memories.size(), 2u);
    EXPECT_EQ(o.memories[0].address, 0x1000u);
    EXPECT_EQ(o.memories[0].size, 0x100u);
    EXPECT_EQ(o.memories[1].address, 0u);
    EXPECT_EQ(o.memories[1].size, 4096u);
    EXPECT_EQ(o.delayUs, 250u);
    EXPECT_EQ(o.irqLevels, 0x44);
    EXPECT_EQ(o.flashPath, "f.bin");
    EXPECT_EQ(o.statsPath, "s.json");
    EXPECT_EQ(o.idleTimeoutMs, 750u);
    EXPECT_EQ(parse({"--dir", "d"}).idleTimeoutMs, 5000u);
}

TEST(OptionsTest, UnusableCommandLinesAreRefused) {
    EXPECT_THROW(parse({}), OptionError);                                         // no --dir
    EXPECT_THROW(parse({"--dir"}), OptionError);                                  // no value
    EXPECT_THROW(parse({"--dir", "d", "--trace", "--stats", "s"}), OptionError);  // value missing
    EXPECT_THROW(parse({"--dir", "d", "--bogus"}), OptionError);
    EXPECT_THROW(parse({"--dir", "d", "--memory", "0x1000"}), OptionError);
    EXPECT_THROW(parse({"--dir", "d", "--memory", "0x1000:0"}), OptionError);
    EXPECT_THROW(parse({"--dir", "d", "--memory", "0xFFFFF000:0x2000"}), OptionError);
    EXPECT_THROW(parse({"--dir", "d", "--irq", "0x80"}), OptionError);
    EXPECT_THROW(parse({"--dir", "d", "--help=yes"}), OptionError);
    EXPECT_NO_THROW(parse({"--dir", "d", "--memory", "0xFFFFF000:0x1000"}));
    EXPECT_TRUE(parse({"--help"}).help);
}

}  // namespace
}  // namespace vmesim
