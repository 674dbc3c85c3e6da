#include "shell/SystemError.h"

#include <cstring>

namespace tarvo {
namespace {

thread_local SystemError lastError;

}  // namespace

void SetLastSystemError(int code, std::string text) {
    lastError.code = code;
    lastError.text = std::move(text);
}

SystemError GetLastSystemError() {
    return lastError;
}

std::string SystemErrorText(int code, const std::string& recorded) {
    if (!recorded.empty()) {
        return recorded;
    }
    if (code == kAborted) {
        return "Operation aborted";
    }
    // strerror invents "Unknown error N" for codes it does not know; those have no text.
    if (strerrorname_np(code) == nullptr) {
        return {};
    }
    char buffer[256];
    return strerror_r(code, buffer, sizeof buffer);
}

void AppendSystemError(const std::string& prefix, std::string& out) {
    const SystemError error = GetLastSystemError();
    std::string text = SystemErrorText(error.code, error.text);
    out = prefix + " ->" + std::to_string(error.code) + "\n";
    if (!text.empty()) {
        out += text + "\n";
    }
}

}  // namespace tarvo
