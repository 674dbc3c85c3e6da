#pragma once

#include <cstdint>
#include <optional>

namespace tarvo {

// The main window's rules, kept free of widgets: which controls are usable, what the graph's
// axes show.

constexpr int32_t kTypeNormalReadout = 0;
constexpr int32_t kTypeTestModeSetUp = 1;
constexpr int32_t kTypeMonitor = 2;
constexpr int32_t kTypeShiftIn = 3;
constexpr int32_t kTypeFindPeak = 4;
constexpr int32_t kTypeSequenceTest = 5;
constexpr int32_t kTypeSequenceTestAuto = 6;
constexpr int32_t kAcquisitionTypeCount = 7;

struct EnablingInputs {
    bool idle = true;   // acquisitionIdle
    bool hidle = true;  // histogramIdle
    bool adcRev1 = false;
    int32_t acquisitionType = 0;
};

struct ControlEnabling {
    bool start = false;  // also "VME Reset", "ADC Rev1", "Base Address (hex)", "Cycle"
    bool filename = false;
    bool filenameVisible = false;
    bool filenameClr = false;  // the field and its "..."
    bool genChannels = false;  // also "Samples from to"
    bool taDaqEnable = false;
    bool spyFifo = false;
    bool typeCombo = false;
    bool channel = false;
    bool softTrigger = false;
    bool instrumentGroupVisible = false;  // "Visa Resource", "Command File", "Name"
    bool instrumentControls = false;      // list, "Refr.", command file text, "...", "Edit"
    bool name = false;
    bool taMenuItems = false;           // "TA 1 Setting" .. "TA 8 Setting"
    const char* filenameClrLabel = "";  // "Filename" with "ADC Rev1", else "Filename clr"
};

ControlEnabling enablingFor(const EnablingInputs& in);

struct AxisRange {
    double lower = 0;
    double upper = 0;
    bool operator==(const AxisRange&) const = default;
};

// Points one picture of the acquisition type shows (256, 512, or the sequence test's count).
int displayPointsFor(int32_t acquisitionType, int sequencePoints);

// The graph's X range: by acquisition type with "ADC Rev1", 0..512 without it.
AxisRange xRangeFor(bool adcRev1, int32_t acquisitionType, int sequencePoints);

// The Y-axis adjustment for running minimum lo and maximum hi against the axis's current range:
// the new range, or nothing when the axis stays as it is.
std::optional<AxisRange> adjustYAxis(uint32_t lo, uint32_t hi, AxisRange current);

}  // namespace tarvo
