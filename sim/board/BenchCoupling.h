#pragma once

#include "bench/BenchState.h"
#include "board/FrontEndConfig.h"

namespace vmesim::board {

// How the bench's analog side reaches a TA section, when the crate has a pulse generator. The
// generator's output drives the calibration line of every front end: a channel in the test mask
// (and not disabled) of a section in test mode sees each pulse, with the amplitude the generator
// is set to, signed by the section's polarity and gain sign and scaled by its gain, as the
// board's own calibration pulser would be. The calibration input is AC-coupled, so the
// generator's offset moves nothing.
//
// Each section's discriminator looks at its shaper output in the direction the section's
// polarity expects and fires when the swing passes the threshold its DAC sets. So a pulse of
// +0.8 V at gain 1x fires a section whose threshold is below 0.8 V, in either polarity.
namespace bench {

// The test-pulse amplitude on the calibration line, in volts: 0 while the output is off.
double calibrationVolts(const BenchState::Snapshot& bench);

// The discriminator's view of one pulse in this section, in volts (positive: towards firing).
double discriminatorVolts(const FrontEndConfig& fe, double pulseVolts);

// What can fire a section in a triggered read-out mode.
enum class TriggerSource {
    None,   // no enabled channel, or test mode without an enabled channel in the test mask
    Input,  // not in test mode: the detector's signals, at the board's event rate
    Noise,  // test mode with the threshold at or below the base line: the noise fires it
    Pulse,  // test mode, and each generator pulse passes the threshold
};
TriggerSource triggerSource(const FrontEndConfig& fe, double thresholdVolts,
                            const BenchState::Snapshot& bench);

}  // namespace bench
}  // namespace vmesim::board
