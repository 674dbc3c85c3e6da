#include "board/BenchCoupling.h"

namespace vmesim::board::bench {

double calibrationVolts(const BenchState::Snapshot& bench) {
    return bench.generatorOn ? bench.generatorVolts : 0.0;
}

double discriminatorVolts(const FrontEndConfig& fe, double pulseVolts) {
    const double direction = fe.invertingGain() ? -1.0 : 1.0;
    return direction * static_cast<double>(fe.gainFactor()) * pulseVolts;
}

TriggerSource triggerSource(const FrontEndConfig& fe, double thresholdVolts,
                            const BenchState::Snapshot& bench) {
    const uint32_t enabled = ~fe.disableMask();
    if (enabled == 0) {
        return TriggerSource::None;
    }
    if (!fe.testMode()) {
        return TriggerSource::Input;
    }
    if ((fe.testMask() & enabled) == 0) {
        return TriggerSource::None;
    }
    if (thresholdVolts <= 0.0) {
        return TriggerSource::Noise;
    }
    if (bench.generatorOn && discriminatorVolts(fe, calibrationVolts(bench)) > thresholdVolts) {
        return TriggerSource::Pulse;
    }
    return TriggerSource::None;
}

}  // namespace vmesim::board::bench
