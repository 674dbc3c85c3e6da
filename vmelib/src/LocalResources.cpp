#include "CApiGuard.h"
#include "HandleTable.h"
#include "KOVRAVMElib.h"
#include "RegisterAccess.h"

using namespace kovravme;

namespace {

// Bridge registers; the set/clear pairs change only the bits written as 1.
constexpr uint16_t kOutputSet = 10;
constexpr uint16_t kOutputClear = 16;
constexpr uint16_t kMultiplexerSet = 11;
constexpr uint16_t kMultiplexerClear = 17;
constexpr uint16_t kOutputConfSet = 12;
constexpr uint16_t kOutputConfClear = 18;
constexpr uint16_t kLedPolaritySet = 13;
constexpr uint16_t kLedPolarityClear = 19;
constexpr uint16_t kPulserA = 22;  // period/width, then count/unit at +1
constexpr uint16_t kPulserB = 25;
constexpr uint16_t kScaler = 28;
constexpr uint16_t kDisplayFirst = 32;
constexpr uint16_t kMonitorAddressLow = 40;
constexpr uint16_t kMonitorAddressHigh = 41;
constexpr uint16_t kMonitorFlags = 44;

// Output-register bits behind the pulser and scaler shortcuts.
constexpr uint16_t kPulserStartBit[2] = {0x01, 0x04};
constexpr uint16_t kPulserStopBit[2] = {0x02, 0x08};
constexpr uint16_t kScalerGateBit = 0x10;
constexpr uint16_t kScalerResetBit = 0x20;

// Multiplexer fields.
constexpr int kPulserStartShift[2] = {3, 6};
constexpr int kPulserResetShift[2] = {5, 8};
constexpr uint16_t kPulserFieldMask[2] = {0x0038, 0x01C0};
constexpr uint16_t kScalerGateSource = 0x0200;
constexpr uint16_t kScalerHitSource = 0x0400;
constexpr uint16_t kScalerResetSource = 0x0800;
constexpr uint16_t kScalerFieldMask = kScalerGateSource | kScalerHitSource | kScalerResetSource;
constexpr uint16_t kScalerLimitMask = 0x03FF;
constexpr uint16_t kScalerAutoReset = 0x0400;

constexpr int kOutputCount = 5;
constexpr int kInputCount = 2;
constexpr int kInputLedShift = 5;

uint16_t bit(int position) {
    return static_cast<uint16_t>(1u << position);
}

// Output source codes: the argument values 0, 3, 4, 6 are coded 3, 1, 0, 2.
int outputSourceCode(int32_t source) {
    switch (source) {
        case 0:
            return 3;
        case 3:
            return 1;
        case 4:
            return 0;
        case 6:
            return 2;
        default:
            return -1;
    }
}

int32_t outputSourceFromCode(int code) {
    static constexpr int32_t kSources[4] = {4, 3, 6, 0};
    return kSources[code & 3];
}

// Writes `bits` through a set port and the other bits of `field` through its clear port.
bool writeField(Session& s, uint16_t setPort, uint16_t clearPort, uint16_t field, uint16_t bits) {
    return s.writeRegister(setPort, bits) &&
           s.writeRegister(clearPort, static_cast<uint16_t>(field & ~bits));
}

bool writeLedPolarity(Session& s, int position, int32_t ledPolarity) {
    return s.writeRegister(ledPolarity != 0 ? kLedPolaritySet : kLedPolarityClear, bit(position));
}

ErrorCode pulseOutputs(int32_t handle, uint16_t mask) {
    return bridgeRegisterOperation(handle, [&](Session& s) {
        return s.writeRegister(kOutputSet, mask) && s.writeRegister(kOutputClear, mask);
    });
}

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_SetOutputRegister(int32_t handle, uint16_t mask) {
    return guarded([&]() -> ErrorCode {
        return bridgeRegisterOperation(handle, [&](Session& s) {
            return s.writeRegister(kOutputSet, mask) &&
                   s.writeRegister(kOutputClear, static_cast<uint16_t>(~mask));
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_ClearOutputRegister(int32_t handle, uint16_t mask) {
    return guarded([&]() -> ErrorCode {
        return bridgeRegisterOperation(
            handle, [&](Session& s) { return s.writeRegister(kOutputClear, mask); });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_PulseOutputRegister(int32_t handle, uint16_t mask) {
    return guarded([&]() -> ErrorCode { return pulseOutputs(handle, mask); });
}

KOVRAVME_API ErrorCode KOVRAVME_StartPulser(int32_t handle, int32_t pulser) {
    return guarded([&]() -> ErrorCode {
        if (pulser != 0 && pulser != 1) {
            return InvalidParam;
        }
        return pulseOutputs(handle, kPulserStartBit[pulser]);
    });
}

KOVRAVME_API ErrorCode KOVRAVME_StopPulser(int32_t handle, int32_t pulser) {
    return guarded([&]() -> ErrorCode {
        if (pulser != 0 && pulser != 1) {
            return InvalidParam;
        }
        return pulseOutputs(handle, kPulserStopBit[pulser]);
    });
}

KOVRAVME_API ErrorCode KOVRAVME_EnableScalerGate(int32_t handle) {
    return guarded(
        [&]() -> ErrorCode { return KOVRAVME_SetOutputRegister(handle, kScalerGateBit); });
}

KOVRAVME_API ErrorCode KOVRAVME_DisableScalerGate(int32_t handle) {
    return guarded(
        [&]() -> ErrorCode { return KOVRAVME_ClearOutputRegister(handle, kScalerGateBit); });
}

KOVRAVME_API ErrorCode KOVRAVME_ResetScalerCount(int32_t handle) {
    return guarded([&]() -> ErrorCode { return pulseOutputs(handle, kScalerResetBit); });
}

KOVRAVME_API ErrorCode KOVRAVME_SetPulserConf(int32_t handle, int32_t pulser, uint8_t period,
                                              uint8_t width, int32_t unit, uint8_t count,
                                              int32_t startSource, int32_t resetSource) {
    return guarded([&]() -> ErrorCode {
        if (pulser != 0 && pulser != 1) {
            return InvalidParam;
        }
        // Reset source 1 belongs to pulser A, 2 to pulser B.
        bool resetOk = resetSource == 0 || (pulser == 0 && resetSource == 1) ||
                       (pulser == 1 && resetSource == 2);
        if (unit < 0 || unit > 3 || startSource < 0 || startSource > 3 || !resetOk) {
            return InvalidParam;
        }
        uint16_t first = pulser == 0 ? kPulserA : kPulserB;
        auto sources =
            static_cast<uint16_t>(startSource << kPulserStartShift[pulser] |
                                  (resetSource != 0 ? 1 : 0) << kPulserResetShift[pulser]);
        return bridgeRegisterOperation(handle, [&](Session& s) {
            return s.writeRegister(first, static_cast<uint16_t>(period | width << 8)) &&
                   s.writeRegister(first + 1, static_cast<uint16_t>(count | unit << 8)) &&
                   writeField(s, kMultiplexerSet, kMultiplexerClear, kPulserFieldMask[pulser],
                              sources);
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_GetPulserConf(int32_t handle, int32_t pulser, uint8_t* period,
                                              uint8_t* width, int32_t* unit, uint8_t* count,
                                              int32_t* startSource, int32_t* resetSource) {
    return guarded([&]() -> ErrorCode {
        if ((pulser != 0 && pulser != 1) || period == nullptr || width == nullptr ||
            unit == nullptr || count == nullptr || startSource == nullptr ||
            resetSource == nullptr) {
            return InvalidParam;
        }
        uint16_t first = pulser == 0 ? kPulserA : kPulserB;
        return bridgeRegisterOperation(handle, [&](Session& s) {
            uint16_t timing = 0;
            uint16_t counting = 0;
            uint16_t multiplexer = 0;
            if (!s.readRegister(first, timing) || !s.readRegister(first + 1, counting) ||
                !s.readRegister(kMultiplexerSet, multiplexer)) {
                return false;
            }
            *period = static_cast<uint8_t>(timing);
            *width = static_cast<uint8_t>(timing >> 8);
            *count = static_cast<uint8_t>(counting);
            *unit = (counting >> 8) & 3;
            *startSource = (multiplexer >> kPulserStartShift[pulser]) & 3;
            *resetSource = (multiplexer & bit(kPulserResetShift[pulser])) ? pulser + 1 : 0;
            return true;
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_SetScalerConf(int32_t handle, int16_t limit, int16_t autoReset,
                                              int32_t hitSource, int32_t gateSource,
                                              int32_t resetSource) {
    return guarded([&]() -> ErrorCode {
        if (limit < 0 || limit > kScalerLimitMask || (hitSource != 1 && hitSource != 3) ||
            (gateSource != 0 && gateSource != 2) || (resetSource != 0 && resetSource != 2)) {
            return InvalidParam;
        }
        // Auto reset is on or off; any other bits of the argument would land in foreign fields.
        auto scaler = static_cast<uint16_t>(limit | (autoReset != 0 ? kScalerAutoReset : 0));
        auto sources = static_cast<uint16_t>((hitSource == 3 ? kScalerHitSource : 0) |
                                             (gateSource == 2 ? kScalerGateSource : 0) |
                                             (resetSource == 2 ? kScalerResetSource : 0));
        return bridgeRegisterOperation(handle, [&](Session& s) {
            return s.writeRegister(kScaler, scaler) &&
                   writeField(s, kMultiplexerSet, kMultiplexerClear, kScalerFieldMask, sources);
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_GetScalerConf(int32_t handle, int16_t* limit, int16_t* autoReset,
                                              int32_t* hitSource, int32_t* gateSource,
                                              int32_t* resetSource) {
    return guarded([&]() -> ErrorCode {
        if (limit == nullptr || autoReset == nullptr || hitSource == nullptr ||
            gateSource == nullptr || resetSource == nullptr) {
            return InvalidParam;
        }
        return bridgeRegisterOperation(handle, [&](Session& s) {
            uint16_t scaler = 0;
            uint16_t multiplexer = 0;
            if (!s.readRegister(kScaler, scaler) || !s.readRegister(kMultiplexerSet, multiplexer)) {
                return false;
            }
            *limit = static_cast<int16_t>(scaler & kScalerLimitMask);
            *autoReset = static_cast<int16_t>(scaler & kScalerAutoReset);
            *hitSource = (multiplexer & kScalerHitSource) ? 3 : 1;
            *gateSource = (multiplexer & kScalerGateSource) ? 2 : 0;
            *resetSource = (multiplexer & kScalerResetSource) ? 2 : 0;
            return true;
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_SetOutputConf(int32_t handle, int32_t output, int32_t polarity,
                                              int32_t ledPolarity, int32_t source) {
    return guarded([&]() -> ErrorCode {
        int code = outputSourceCode(source);
        if (output < 0 || output >= kOutputCount || (polarity != 0 && polarity != 1) || code < 0) {
            return InvalidParam;
        }
        auto field = static_cast<uint16_t>(3 << (2 * output) | bit(output + 10));
        auto bits = static_cast<uint16_t>(code << (2 * output) | polarity << (output + 10));
        return bridgeRegisterOperation(handle, [&](Session& s) {
            return writeField(s, kOutputConfSet, kOutputConfClear, field, bits) &&
                   writeLedPolarity(s, output, ledPolarity);
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_GetOutputConf(int32_t handle, int32_t output, int32_t* polarity,
                                              int32_t* ledPolarity, int32_t* source) {
    return guarded([&]() -> ErrorCode {
        if (output < 0 || output >= kOutputCount || polarity == nullptr || ledPolarity == nullptr ||
            source == nullptr) {
            return InvalidParam;
        }
        return bridgeRegisterOperation(handle, [&](Session& s) {
            uint16_t conf = 0;
            uint16_t leds = 0;
            if (!s.readRegister(kOutputConfSet, conf) || !s.readRegister(kLedPolaritySet, leds)) {
                return false;
            }
            *polarity = (conf >> (output + 10)) & 1;
            *ledPolarity = (leds >> output) & 1;
            *source = outputSourceFromCode((conf >> (2 * output)) & 3);
            return true;
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_SetInputConf(int32_t handle, int32_t input, int32_t polarity,
                                             int32_t ledPolarity) {
    return guarded([&]() -> ErrorCode {
        if (input < 0 || input >= kInputCount || (polarity != 0 && polarity != 1)) {
            return InvalidParam;
        }
        return bridgeRegisterOperation(handle, [&](Session& s) {
            return writeField(s, kMultiplexerSet, kMultiplexerClear, bit(input),
                              static_cast<uint16_t>(polarity << input)) &&
                   writeLedPolarity(s, input + kInputLedShift, ledPolarity);
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_GetInputConf(int32_t handle, int32_t input, int32_t* polarity,
                                             int32_t* ledPolarity) {
    return guarded([&]() -> ErrorCode {
        if (input < 0 || input >= kInputCount || polarity == nullptr || ledPolarity == nullptr) {
            return InvalidParam;
        }
        return bridgeRegisterOperation(handle, [&](Session& s) {
            uint16_t multiplexer = 0;
            uint16_t leds = 0;
            if (!s.readRegister(kMultiplexerSet, multiplexer) ||
                !s.readRegister(kLedPolaritySet, leds)) {
                return false;
            }
            *polarity = (multiplexer >> input) & 1;
            *ledPolarity = (leds >> (input + kInputLedShift)) & 1;
            return true;
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_ReadDisplay(int32_t handle, KOVRAVME_Display* record) {
    return guarded([&]() -> ErrorCode {
        if (record == nullptr) {
            return InvalidParam;
        }
        return bridgeRegisterOperation(handle, [&](Session& s) {
            uint16_t r[6];
            for (int i = 0; i < 6; ++i) {
                if (!s.readRegister(static_cast<uint16_t>(kDisplayFirst + i), r[i])) {
                    return false;
                }
            }
            record->address = r[0] | static_cast<uint32_t>(r[1]) << 16;
            record->data = r[2] | static_cast<uint32_t>(r[3]) << 16;
            record->am = r[4] & 0x3F;
            record->irqLines = r[5] & 0x7F;
            static constexpr int kFlagBits[11][2] = {{4, 6},  {4, 7},  {4, 8},  {4, 9},
                                                     {4, 10}, {4, 11}, {5, 10}, {5, 11},
                                                     {5, 9},  {5, 7},  {5, 8}};
            for (int i = 0; i < 11; ++i) {
                record->lines[i] = (r[kFlagBits[i][0]] & bit(kFlagBits[i][1])) ? -1 : 0;
            }
            return true;
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_SetLocationMonitor(int32_t handle, uint32_t address,
                                                   AddressModifier am, int16_t flag6, int16_t flag7,
                                                   int16_t flag8) {
    return guarded([&]() -> ErrorCode {
        auto flags = static_cast<uint16_t>((am & 0x3F) | (flag6 & 1) << 6 | (flag7 & 1) << 7 |
                                           (flag8 & 1) << 8);
        return bridgeRegisterOperation(handle, [&](Session& s) {
            return s.writeRegister(kMonitorAddressLow, static_cast<uint16_t>(address)) &&
                   s.writeRegister(kMonitorAddressHigh, static_cast<uint16_t>(address >> 16)) &&
                   s.writeRegister(kMonitorFlags, flags);
        });
    });
}

}  // extern "C"
