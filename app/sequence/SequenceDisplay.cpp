#include "sequence/SequenceDisplay.h"

#include <algorithm>
#include <filesystem>

#include "instruments/Instrument.h"

namespace tarvo {

std::vector<std::string> listVisaResources(std::string& error) {
    auto manager = openDefaultResourceManager(error);
    if (manager == nullptr) {
        return {};
    }
    return manager->findResources("?*");
}

std::string sequenceWorkbookPath(const std::string& filenameClr, const std::string& name) {
    // The name is data, not a format: a '%' in it stays as typed.
    return (std::filesystem::path(filenameClr).parent_path() / (name + "SequenceTest_8.xls"))
        .string();
}

int visaResourceSelection(const std::vector<std::string>& items, const std::string& preferred,
                          int previousIndex) {
    if (!preferred.empty()) {
        auto it = std::find(items.begin(), items.end(), preferred);
        if (it != items.end()) {
            return static_cast<int>(it - items.begin());
        }
    }
    if (previousIndex >= 0 && previousIndex < static_cast<int>(items.size())) {
        return previousIndex;
    }
    return -1;
}

int graphXRange(int32_t acquisitionType, bool adcRev1, int32_t sequencePoints) {
    if (!adcRev1) {
        return 512;
    }
    switch (acquisitionType) {
        case 0:
        case 3:
            return 256;
        case 5:
        case 6:
            return sequencePoints;
        default:
            return 512;
    }
}

}  // namespace tarvo
