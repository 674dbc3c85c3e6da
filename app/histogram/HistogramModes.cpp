#include "histogram/HistogramModes.h"

namespace tarvo {

const char* modeErrorText(int32_t mode) {
    switch (mode) {
        case kModeMerge:
            return "Fatal Histogram Merge error ";
        case kModeSwap:
            return "Fatal Histogram Swap error ";
        case kModeCh0Base:
            return "Fatal Histogram Data-Base error ";
        default:
            return "";
    }
}

}  // namespace tarvo
