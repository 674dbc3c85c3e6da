#include "sequence/SequenceResultFiles.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "shell/Operator.h"

namespace tarvo {

std::filesystem::path sequenceResultsFolder(const std::string& filenameClr, Operator* op) {
    std::filesystem::path folder = std::filesystem::path(filenameClr).parent_path();
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec) && op != nullptr) {
        auto chosen = op->chooseFolder(
            formatText("Folder %s not found\nPlease select destination folder to save measured "
                       "data",
                       folder.string().c_str()),
            "");
        if (chosen) {
            folder = *chosen;
        }
    }
    return folder;
}

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(static_cast<size_t>(length > 0 ? length : 0) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    return std::string(text.data(), static_cast<size_t>(length > 0 ? length : 0));
}

}  // namespace tarvo
