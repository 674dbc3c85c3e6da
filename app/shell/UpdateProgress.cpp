#include "shell/UpdateProgress.h"

namespace tarvo {

std::uint32_t ProgressRoutine(std::uint64_t total, std::uint64_t transferred, std::uint32_t reason,
                              const std::string& destination, UpdateProgress& window) {
    if (reason == kStreamStart) {
        window.setRange(0, static_cast<std::uint32_t>(total));
        window.setPosition(static_cast<std::uint32_t>(transferred));
        window.setText("Updating " + destination);
        return kProgressContinue;
    }
    window.setPosition(static_cast<std::uint32_t>(transferred));
    return window.abortRequested() ? kProgressCancel : kProgressContinue;
}

}  // namespace tarvo
