#include <gtest/gtest.h>

#include <functional>

#include "BridgeFixture.h"

namespace nimbra::test {
namespace {

using Registers = BridgeTest;

TEST_F(Registers, ControlSettersChangeOnlyTheirFieldAndWriteNoReplyRead) {
    ASSERT_EQ(KOVRAVME_WriteRegister(handle_, 1, 0x0200), Success);
    ASSERT_EQ(KOVRAVME_SetTimeout(handle_, 1), Success);
    ASSERT_EQ(KOVRAVME_WriteRegister(handle_, 1, 0x0002), Success);
    ASSERT_EQ(KOVRAVME_SystemReset(handle_), Success);
    // Register write: 0x0080 + register, value; read: 0x4080 + register. Writes get no reply.
    EXPECT_EQ(requests(7), hexes({"8100 0002", "8140", "8100 0003", "8100 0200", "8140",
                                  "8100 8200", "8100 0200"}));
    EXPECT_EQ(replies(7), hexes({"", "00020000", "", "", "02000000", "", ""}));
}

TEST_F(Registers, TheFifoModeReadsAsMinusOneWhenOn) {
    ASSERT_EQ(KOVRAVME_WriteRegister(handle_, 1, 0x0200), Success);
    int16_t mode = 0;
    ASSERT_EQ(KOVRAVME_GetFIFOMode(handle_, &mode), Success);
    EXPECT_EQ(mode, -1);
    ASSERT_EQ(KOVRAVME_SetFIFOMode(handle_, 0), Success);
    ASSERT_EQ(KOVRAVME_GetFIFOMode(handle_, &mode), Success);
    EXPECT_EQ(mode, 0);
    // Any non-zero value turns it on.
    ASSERT_EQ(KOVRAVME_SetFIFOMode(handle_, 7), Success);
    ASSERT_EQ(KOVRAVME_GetFIFOMode(handle_, &mode), Success);
    EXPECT_EQ(mode, -1);
    uint16_t control = 0;
    ASSERT_EQ(KOVRAVME_ReadRegister(handle_, 1, &control), Success);
    EXPECT_EQ(control, 0x0200);
}

TEST_F(Registers, EveryControlSetterRoundTripsOverItsLegalValues) {
    using Setter = ErrorCode (*)(int32_t, int32_t);
    using Getter = ErrorCode (*)(int32_t, int32_t*);
    struct Field {
        Setter set;
        Getter get;
        int32_t values;
    };
    const Field fields[] = {{KOVRAVME_SetArbiterType, KOVRAVME_GetArbiterType, 2},
                            {KOVRAVME_SetRequesterType, KOVRAVME_GetRequesterType, 2},
                            {KOVRAVME_SetReleaseType, KOVRAVME_GetReleaseType, 2},
                            {KOVRAVME_SetBusReqLevel, KOVRAVME_GetBusReqLevel, 4},
                            {KOVRAVME_SetTimeout, KOVRAVME_GetTimeout, 2}};
    for (const Field& field : fields) {
        for (int32_t value = field.values - 1; value >= 0; --value) {
            ASSERT_EQ(field.set(handle_, value), Success);
            int32_t back = -1;
            ASSERT_EQ(field.get(handle_, &back), Success);
            EXPECT_EQ(back, value);
        }
        EXPECT_EQ(field.set(handle_, field.values), InvalidParam);
        EXPECT_EQ(field.set(handle_, -1), InvalidParam);
        EXPECT_EQ(field.get(handle_, nullptr), InvalidParam);
    }
    // Setting them all leaves each one standing.
    ASSERT_EQ(KOVRAVME_SetArbiterType(handle_, 1), Success);
    ASSERT_EQ(KOVRAVME_SetRequesterType(handle_, 1), Success);
    ASSERT_EQ(KOVRAVME_SetReleaseType(handle_, 1), Success);
    ASSERT_EQ(KOVRAVME_SetBusReqLevel(handle_, 2), Success);
    ASSERT_EQ(KOVRAVME_SetTimeout(handle_, 1), Success);
    ASSERT_EQ(KOVRAVME_SetFIFOMode(handle_, 1), Success);
    uint16_t control = 0;
    ASSERT_EQ(KOVRAVME_ReadRegister(handle_, 1, &control), Success);
    EXPECT_EQ(control, 0x0002 | 0x0004 | 0x0008 | 0x0020 | 0x0100 | 0x0200);
}

TEST_F(Registers, PulserConfigurationRoundTrips) {
    for (int32_t pulser : {0, 1}) {
        for (int32_t unit = 0; unit < 4; ++unit) {
            for (int32_t start = 0; start < 4; ++start) {
                for (int32_t reset : {0, pulser + 1}) {
                    uint8_t period = static_cast<uint8_t>(17 * unit + start + 1);
                    uint8_t width = static_cast<uint8_t>(255 - period);
                    uint8_t count = static_cast<uint8_t>(reset * 100 + unit);
                    ASSERT_EQ(KOVRAVME_SetPulserConf(handle_, pulser, period, width, unit, count,
                                                     start, reset),
                              Success);
                    uint8_t p = 0, w = 0, c = 0;
                    int32_t u = -1, s = -1, r = -1;
                    ASSERT_EQ(KOVRAVME_GetPulserConf(handle_, pulser, &p, &w, &u, &c, &s, &r),
                              Success);
                    EXPECT_EQ(p, period);
                    EXPECT_EQ(w, width);
                    EXPECT_EQ(u, unit);
                    EXPECT_EQ(c, count);
                    EXPECT_EQ(s, start);
                    EXPECT_EQ(r, reset);
                }
            }
        }
    }
    // Pulser A's sources survive a configuration of pulser B.
    ASSERT_EQ(KOVRAVME_SetPulserConf(handle_, 0, 1, 2, 3, 4, 2, 1), Success);
    ASSERT_EQ(KOVRAVME_SetPulserConf(handle_, 1, 1, 2, 3, 4, 0, 0), Success);
    uint8_t p, w, c;
    int32_t u, s, r;
    ASSERT_EQ(KOVRAVME_GetPulserConf(handle_, 0, &p, &w, &u, &c, &s, &r), Success);
    EXPECT_EQ(s, 2);
    EXPECT_EQ(r, 1);
}

TEST_F(Registers, ScalerConfigurationRoundTrips) {
    for (int16_t limit : {0, 1, 512, 1023}) {
        for (int16_t autoReset : {0, 1}) {
            for (int32_t hit : {1, 3}) {
                for (int32_t gate : {0, 2}) {
                    for (int32_t reset : {0, 2}) {
                        ASSERT_EQ(
                            KOVRAVME_SetScalerConf(handle_, limit, autoReset, hit, gate, reset),
                            Success);
                        int16_t l = -1, a = -1;
                        int32_t h = -1, g = -1, r = -1;
                        ASSERT_EQ(KOVRAVME_GetScalerConf(handle_, &l, &a, &h, &g, &r), Success);
                        EXPECT_EQ(l, limit);
                        EXPECT_EQ(a, autoReset ? 0x400 : 0);
                        EXPECT_EQ(h, hit);
                        EXPECT_EQ(g, gate);
                        EXPECT_EQ(r, reset);
                    }
                }
            }
        }
    }
}

TEST_F(Registers, OutputAndInputConfigurationRoundTripAndLeaveTheirNeighboursAlone) {
    for (int32_t output = 0; output < 5; ++output) {
        for (int32_t source : {0, 3, 4, 6}) {
            for (int32_t polarity : {0, 1}) {
                for (int32_t led : {0, 1}) {
                    ASSERT_EQ(KOVRAVME_SetOutputConf(handle_, output, polarity, led, source),
                              Success);
                    int32_t p = -1, l = -1, s = -1;
                    ASSERT_EQ(KOVRAVME_GetOutputConf(handle_, output, &p, &l, &s), Success);
                    EXPECT_EQ(p, polarity);
                    EXPECT_EQ(l, led);
                    EXPECT_EQ(s, source);
                }
            }
        }
    }
    for (int32_t input = 0; input < 2; ++input) {
        for (int32_t polarity : {0, 1}) {
            for (int32_t led : {0, 1}) {
                ASSERT_EQ(KOVRAVME_SetInputConf(handle_, input, polarity, led), Success);
                int32_t p = -1, l = -1;
                ASSERT_EQ(KOVRAVME_GetInputConf(handle_, input, &p, &l), Success);
                EXPECT_EQ(p, polarity);
                EXPECT_EQ(l, led);
            }
        }
    }
    // Configuring one line, pulser or scaler changes no other's settings.
    ASSERT_EQ(KOVRAVME_SetOutputConf(handle_, 1, 1, 1, 3), Success);
    ASSERT_EQ(KOVRAVME_SetInputConf(handle_, 0, 1, 1), Success);
    ASSERT_EQ(KOVRAVME_SetPulserConf(handle_, 0, 9, 9, 1, 9, 3, 1), Success);
    ASSERT_EQ(KOVRAVME_SetOutputConf(handle_, 2, 0, 0, 4), Success);
    ASSERT_EQ(KOVRAVME_SetInputConf(handle_, 1, 1, 0), Success);
    ASSERT_EQ(KOVRAVME_SetScalerConf(handle_, 10, 0, 3, 2, 0), Success);
    int32_t p, l, s;
    ASSERT_EQ(KOVRAVME_GetOutputConf(handle_, 1, &p, &l, &s), Success);
    EXPECT_EQ(std::vector<int32_t>({p, l, s}), std::vector<int32_t>({1, 1, 3}));
    ASSERT_EQ(KOVRAVME_GetInputConf(handle_, 0, &p, &l), Success);
    EXPECT_EQ(std::vector<int32_t>({p, l}), std::vector<int32_t>({1, 1}));
    uint8_t period, width, count;
    int32_t unit, start, reset;
    ASSERT_EQ(KOVRAVME_GetPulserConf(handle_, 0, &period, &width, &unit, &count, &start, &reset),
              Success);
    EXPECT_EQ(std::vector<int32_t>({start, reset}), std::vector<int32_t>({3, 1}));
}

TEST_F(Registers, IllegalValuesAreRefusedBeforeAnyExchange) {
    uint8_t b;
    int16_t h;
    int32_t i;
    const std::vector<std::function<ErrorCode()>> calls = {
        [&] { return KOVRAVME_SetBusReqLevel(handle_, 4); },
        [&] { return KOVRAVME_SetArbiterType(handle_, 2); },
        [&] { return KOVRAVME_SetScalerConf(handle_, 1024, 0, 1, 0, 0); },
        [&] { return KOVRAVME_SetScalerConf(handle_, -1, 0, 1, 0, 0); },
        [&] { return KOVRAVME_SetScalerConf(handle_, 5, 0, 2, 0, 0); },
        [&] { return KOVRAVME_SetScalerConf(handle_, 5, 0, 1, 1, 0); },
        [&] { return KOVRAVME_SetScalerConf(handle_, 5, 0, 1, 0, 1); },
        [&] { return KOVRAVME_SetPulserConf(handle_, 1, 1, 1, 0, 1, 0, 1); },
        [&] { return KOVRAVME_SetPulserConf(handle_, 0, 1, 1, 0, 1, 0, 2); },
        [&] { return KOVRAVME_SetPulserConf(handle_, 2, 1, 1, 0, 1, 0, 0); },
        [&] { return KOVRAVME_SetPulserConf(handle_, 0, 1, 1, 4, 1, 0, 0); },
        [&] { return KOVRAVME_SetPulserConf(handle_, 0, 1, 1, 0, 1, 4, 0); },
        [&] { return KOVRAVME_GetPulserConf(handle_, 2, &b, &b, &i, &b, &i, &i); },
        [&] { return KOVRAVME_SetOutputConf(handle_, 5, 0, 0, 0); },
        [&] { return KOVRAVME_SetOutputConf(handle_, 0, 0, 0, 1); },
        [&] { return KOVRAVME_SetOutputConf(handle_, 0, 2, 0, 0); },
        [&] { return KOVRAVME_GetOutputConf(handle_, -1, &i, &i, &i); },
        [&] { return KOVRAVME_SetInputConf(handle_, 2, 0, 0); },
        [&] { return KOVRAVME_SetInputConf(handle_, 0, 3, 0); },
        [&] { return KOVRAVME_GetInputConf(handle_, 0, nullptr, &i); },
        [&] { return KOVRAVME_StartPulser(handle_, 2); },
        [&] { return KOVRAVME_StopPulser(handle_, -1); },
        [&] { return KOVRAVME_GetScalerConf(handle_, &h, nullptr, &i, &i, &i); },
        [&] { return KOVRAVME_GetFIFOMode(handle_, nullptr); },
        [&] { return KOVRAVME_ReadDisplay(handle_, nullptr); },
        [&] { return KOVRAVME_WriteRegister(handle_, 0x80, 1); },
        [&] { return KOVRAVME_ReadRegister(handle_, 0x4001, nullptr); },
        [&] { return KOVRAVME_IRQCheck(handle_, nullptr); },
        [&] { return KOVRAVME_IRQWait(handle_, 1, 10); },
        [&] { return KOVRAVME_IRQWait(handle_, 0, 10); },
        [&] { return KOVRAVME_IRQEnable(handle_, 1); },
        [&] { return KOVRAVME_IRQDisable(handle_, 1); },
    };
    for (size_t k = 0; k < calls.size(); ++k) {
        EXPECT_EQ(calls[k](), InvalidParam) << "call " << k;
    }
    uint16_t value = 0;
    ASSERT_EQ(KOVRAVME_ReadRegister(handle_, 2, &value), Success);
    EXPECT_EQ(requests(), hexes({"8240"}));
}

TEST_F(Registers, OutputRegisterPortsAndShortcuts) {
    ASSERT_EQ(KOVRAVME_SetOutputRegister(handle_, 0x0005), Success);
    ASSERT_EQ(KOVRAVME_ClearOutputRegister(handle_, 0x0004), Success);
    ASSERT_EQ(KOVRAVME_PulseOutputRegister(handle_, 0x0040), Success);
    ASSERT_EQ(KOVRAVME_StartPulser(handle_, 1), Success);
    ASSERT_EQ(KOVRAVME_StopPulser(handle_, 0), Success);
    ASSERT_EQ(KOVRAVME_EnableScalerGate(handle_), Success);
    ASSERT_EQ(KOVRAVME_DisableScalerGate(handle_), Success);
    ASSERT_EQ(KOVRAVME_ResetScalerCount(handle_), Success);
    // Register 10 sets, register 16 clears.
    EXPECT_EQ(requests(14), hexes({
                                "8a00 0500",
                                "9000 faff",  // set 0x0005
                                "9000 0400",  // clear 0x0004
                                "8a00 4000",
                                "9000 4000",  // pulse 0x0040
                                "8a00 0400",
                                "9000 0400",  // start pulser B
                                "8a00 0200",
                                "9000 0200",  // stop pulser A
                                "8a00 1000",
                                "9000 efff",  // scaler gate on
                                "9000 1000",  // scaler gate off
                                "8a00 2000",
                                "9000 2000",  // scaler reset
                            }));
}

TEST_F(Registers, LocationMonitorAndDisplay) {
    ASSERT_EQ(KOVRAVME_SetLocationMonitor(handle_, 0x12345678, AmA24UserData, 1, 0, 3), Success);
    // Registers 40, 41, 44; flags reduced to their low bit.
    EXPECT_EQ(requests(3), hexes({"a800 7856", "a900 3412", "ac00 7901"}));
    uint32_t value = 0xA1B2C3D4;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, 0x00100050, &value, AmA32SuperData, D32), Success);
    KOVRAVME_Display display{};
    ASSERT_EQ(KOVRAVME_ReadDisplay(handle_, &display), Success);
    EXPECT_EQ(display.address, 0x00100050u);
    EXPECT_EQ(display.data, 0xA1B2C3D4u);
    EXPECT_EQ(display.am, static_cast<uint32_t>(AmA32SuperData));
    std::vector<std::string> sent = requests(10);
    ASSERT_EQ(sent.size(), 10u);
    EXPECT_EQ(std::vector<std::string>(sent.begin() + 4, sent.end()),
              hexes({"a040", "a140", "a240", "a340", "a440", "a540"}));
    // The flags mirror register 36 bits 6..11 and register 37 bits 10, 11, 9, 7, 8.
    std::vector<std::string> answers = replies(10);
    uint16_t r36 = static_cast<uint16_t>(std::stoul(answers[8].substr(0, 2), nullptr, 16) |
                                         std::stoul(answers[8].substr(2, 2), nullptr, 16) << 8);
    uint16_t r37 = static_cast<uint16_t>(std::stoul(answers[9].substr(0, 2), nullptr, 16) |
                                         std::stoul(answers[9].substr(2, 2), nullptr, 16) << 8);
    const int bits[11][2] = {{36, 6},  {36, 7},  {36, 8}, {36, 9}, {36, 10}, {36, 11},
                             {37, 10}, {37, 11}, {37, 9}, {37, 7}, {37, 8}};
    for (int k = 0; k < 11; ++k) {
        uint16_t reg = bits[k][0] == 36 ? r36 : r37;
        EXPECT_EQ(display.lines[k], (reg >> bits[k][1]) & 1 ? -1 : 0) << k;
    }
    EXPECT_EQ(display.irqLines, static_cast<uint32_t>(r37 & 0x7F));
}

TEST_F(Registers, RegisterAccessOnAHandleThatIsNotOpenIsACommunicationError) {
    uint16_t value = 0;
    int32_t field = 0;
    EXPECT_EQ(KOVRAVME_ReadRegister(55, 1, &value), CommError);
    EXPECT_EQ(KOVRAVME_SetTimeout(55, 1), CommError);
    EXPECT_EQ(KOVRAVME_GetTimeout(-3, &field), CommError);
}

}  // namespace
}  // namespace nimbra::test
