#include <gtest/gtest.h>

#include "generator/PulseGenerator.h"

namespace vmesim::generator {
namespace {

TEST(PulseGenerator, SetsTheBenchInShortAndLongForms) {
    BenchState bench;
    PulseGenerator g(bench);
    EXPECT_EQ(g.execute("*IDN?"), PulseGenerator::kIdentity);
    EXPECT_FALSE(bench.snapshot().generatorOn);

    EXPECT_EQ(g.execute("VOLT 0.8"), std::nullopt);
    EXPECT_DOUBLE_EQ(bench.snapshot().generatorVolts, 0.8);
    g.execute(":SOURce1:VOLTage:LEVel:IMMediate:AMPLitude 250 mV");
    EXPECT_DOUBLE_EQ(bench.snapshot().generatorVolts, 0.25);
    g.execute("volt:offs -0.1V");
    EXPECT_DOUBLE_EQ(bench.snapshot().generatorOffsetVolts, -0.1);
    g.execute("FREQ 2.5kHz");
    EXPECT_DOUBLE_EQ(bench.snapshot().generatorHz, 2500);
    g.execute("sour:freq:cw 1MHZ");  // mega, as SCPI reads it
    EXPECT_DOUBLE_EQ(bench.snapshot().generatorHz, 1e6);
    g.execute("OUTPut:STATe ON");
    EXPECT_TRUE(bench.snapshot().generatorOn);
    g.execute("OUTP 0");
    EXPECT_FALSE(bench.snapshot().generatorOn);

    // Several commands on a line; the answers of its queries joined by ";".
    EXPECT_EQ(g.execute("VOLT 1.5;OUTP ON;VOLT?;OUTP?"), "+1.500000E+00;1");
    EXPECT_TRUE(g.errors().empty());

    g.execute("*RST");
    auto s = bench.snapshot();
    EXPECT_FALSE(s.generatorOn);
    EXPECT_DOUBLE_EQ(s.generatorVolts, PulseGenerator::kDefaultVolts);
    EXPECT_DOUBLE_EQ(s.generatorOffsetVolts, 0.0);
    EXPECT_DOUBLE_EQ(s.generatorHz, PulseGenerator::kDefaultHz);
}

TEST(PulseGenerator, WhatItCannotUseGoesToTheErrorQueueAndChangesNothing) {
    BenchState bench;
    PulseGenerator g(bench);
    g.execute("VOLT 0.5");
    for (const char* bad : {"VOLT 7", "VOLT 1 kHz", "VOLT", "VOLT abc", "FREQ 0", "OUTP maybe",
                            "PULS:WIDT 1e-6", "VOLTAG 1", "OUTP2 ON"}) {
        g.execute(bad);
        EXPECT_DOUBLE_EQ(bench.snapshot().generatorVolts, 0.5) << bad;
        EXPECT_FALSE(bench.snapshot().generatorOn) << bad;
    }
    EXPECT_EQ(g.execute("SYST:ERR?"), "-222,\"Data out of range\"");
    EXPECT_EQ(g.execute("SYSTem:ERRor:NEXT?"), "-131,\"Invalid suffix\"");
    EXPECT_EQ(g.execute("SYST:ERR?"), "-109,\"Missing parameter\"");
    EXPECT_EQ(g.execute("SYST:ERR?"), "-104,\"Data type error\"");
    EXPECT_EQ(g.execute("SYST:ERR?"), "-222,\"Data out of range\"");
    EXPECT_EQ(g.execute("SYST:ERR?"), "-104,\"Data type error\"");
    EXPECT_EQ(g.execute("SYST:ERR?"), "-113,\"Undefined header\"");
    EXPECT_EQ(g.execute("SYST:ERR?"), "-113,\"Undefined header\"");
    EXPECT_EQ(g.execute("SYST:ERR?"), "-113,\"Undefined header\"");
    EXPECT_EQ(g.execute("SYST:ERR?"), "+0,\"No error\"");
    EXPECT_EQ(g.execute("VOLT MAX;VOLT?"), "+5.000000E+00");
}

}  // namespace
}  // namespace vmesim::generator
