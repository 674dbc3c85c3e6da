#include "acquisition/MainDialogRules.h"

#include <limits>

namespace tarvo {

ControlEnabling enablingFor(const EnablingInputs& in) {
    ControlEnabling e;
    const int32_t type = in.acquisitionType;
    e.start = in.idle;
    e.filenameVisible = !in.adcRev1;
    e.filename = in.idle && !in.adcRev1;
    e.filenameClr = in.idle && in.hidle;
    e.genChannels = in.hidle;
    e.taDaqEnable = in.adcRev1 && in.idle && in.hidle;
    e.spyFifo = in.adcRev1;
    e.typeCombo = in.adcRev1 && in.idle;
    e.channel = in.adcRev1 && in.idle && type != kTypeNormalReadout && type != kTypeShiftIn &&
                type >= 0 && type < kAcquisitionTypeCount;
    e.softTrigger = type == kTypeTestModeSetUp;
    e.instrumentGroupVisible = type == kTypeSequenceTestAuto;
    e.instrumentControls = e.instrumentGroupVisible && in.idle;
    e.name = e.instrumentGroupVisible;
    e.taMenuItems = in.adcRev1;
    e.filenameClrLabel = in.adcRev1 ? "Filename" : "Filename clr";
    return e;
}

int displayPointsFor(int32_t acquisitionType, int sequencePoints) {
    switch (acquisitionType) {
        case kTypeNormalReadout:
        case kTypeShiftIn:
            return 256;
        case kTypeSequenceTest:
        case kTypeSequenceTestAuto:
            return sequencePoints;
        default:
            return 512;
    }
}

AxisRange xRangeFor(bool adcRev1, int32_t acquisitionType, int sequencePoints) {
    if (!adcRev1) {
        return {0, 512};
    }
    return {0, static_cast<double>(displayPointsFor(acquisitionType, sequencePoints))};
}

std::optional<AxisRange> adjustYAxis(uint32_t lo, uint32_t hi, AxisRange current) {
    const double a = current.lower;
    const double b = current.upper;
    const double span = static_cast<double>(hi) - static_cast<double>(lo);
    // A flat picture has no span to compare with: the ratio is taken as unbounded, so the rule
    // below decides by where the value lies.
    const double r = span != 0 ? (b - a) / span : std::numeric_limits<double>::infinity();
    if (!(r < 1 || r > 1.4 || a > lo || hi > b)) {
        return std::nullopt;
    }
    if (1.2 * span >= 10) {
        return AxisRange{lo - 0.12 * span, hi + 0.12 * span};
    }
    if (lo < a || hi > b) {
        const int64_t m = static_cast<int64_t>(lo) + (static_cast<int64_t>(hi) - lo) / 2;
        return AxisRange{static_cast<double>(m - 5), static_cast<double>(m + 5)};
    }
    return current;
}

}  // namespace tarvo
