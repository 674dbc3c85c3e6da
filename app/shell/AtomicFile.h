#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tarvo {

// Replaces a file's whole content so that a crash at any moment leaves either the old file or
// the new one: the data go to a temporary file in the same folder, are flushed to the disk and
// renamed over the old name, then the folder itself is flushed. The folder is created when
// missing. Returns an empty text on success, else why it failed (the old file is then intact).
//
// afterPartialWrite, when given, is called once half of the data is in the temporary file; the
// crash tests end the process there.
std::string writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                                const std::function<void()>& afterPartialWrite = nullptr);

}  // namespace tarvo
