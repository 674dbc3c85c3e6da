// Compiled by the layer tests only: the acquisition layer must not see the histogram layer.
#include "histogram/HistogramJob.h"

int probeHistogramTick() {
    return static_cast<int>(tarvo::HistogramTick{}.position);
}
