#pragma once

#include "acquisition/RunState.h"
#include "sequence/SequenceTestSetup.h"

namespace tarvo {

// The sequence-test workers of the acquisition types "Sequence Test" (5) and "Sequence Test
// Auto" (6). Each takes the run state as its only argument, finds the setup attached to it, sets
// AcquisitionDoneEvent on every way out and returns 0 when it ran to its end (a sequence file
// that does not load included) and 1 when it stopped early.
int SequenceTestWorker(RunState& state);
int AutoSequenceTestWorker(RunState& state);

// The same with the setup given.
int RunManualSequenceTest(RunState& state, SequenceTestSetup& setup);
int RunAutoSequenceTest(RunState& state, SequenceTestSetup& setup);

// The owner of a run state attaches its setup before starting a sequence test (nullptr detaches).
// A worker without a setup reports it and ends.
void attachSequenceTestSetup(const RunState& state, SequenceTestSetup* setup);
SequenceTestSetup* sequenceTestSetupOf(const RunState& state);

// Registers the two workers for acquisition types 5 and 6.
void registerSequenceTestWorkers();

}  // namespace tarvo
