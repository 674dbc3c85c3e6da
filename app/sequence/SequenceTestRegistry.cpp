#include <map>
#include <mutex>

#include "acquisition/AcquisitionRun.h"
#include "sequence/SequenceTestWorkers.h"
#include "shell/Operator.h"

namespace tarvo {
namespace {

std::mutex registryMutex;
std::map<const RunState*, SequenceTestSetup*>& setups() {
    static std::map<const RunState*, SequenceTestSetup*> all;
    return all;
}

// A worker started without a setup has no file, instrument or sinks to work with.
int withSetup(RunState& state, int (*run)(RunState&, SequenceTestSetup&)) {
    SequenceTestSetup* setup = sequenceTestSetupOf(state);
    if (setup == nullptr) {
        if (state.op != nullptr) {
            state.op->error("Sequence Test: no test set-up attached");
        }
        state.events.AcquisitionDoneEvent.set();
        return 1;
    }
    return run(state, *setup);
}

}  // namespace

void attachSequenceTestSetup(const RunState& state, SequenceTestSetup* setup) {
    std::lock_guard lock(registryMutex);
    if (setup != nullptr) {
        setups()[&state] = setup;
    } else {
        setups().erase(&state);
    }
}

SequenceTestSetup* sequenceTestSetupOf(const RunState& state) {
    std::lock_guard lock(registryMutex);
    auto it = setups().find(&state);
    return it != setups().end() ? it->second : nullptr;
}

int SequenceTestWorker(RunState& state) {
    return withSetup(state, RunManualSequenceTest);
}

int AutoSequenceTestWorker(RunState& state) {
    return withSetup(state, RunAutoSequenceTest);
}

void registerSequenceTestWorkers() {
    registerSequenceWorker(5, SequenceTestWorker);
    registerSequenceWorker(6, AutoSequenceTestWorker);
}

}  // namespace tarvo
