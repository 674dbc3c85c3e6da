#include "spreadsheet/OfficeOptions.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace tarvo {
namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

bool isExecutable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

// The office reads the profile folder as a URL: bytes outside the unreserved set are escaped.
std::string fileUrl(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : std::filesystem::absolute(path).lexically_normal().string()) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            url.push_back(c);
        } else {
            url.push_back('%');
            url.push_back(kHex[byte >> 4]);
            url.push_back(kHex[byte & 0x0F]);
        }
    }
    return url;
}

}  // namespace

OfficeOptions::OfficeOptions() : programDir(TARVO_OFFICE_PROGRAM_DIR) {}

OfficeOptions OfficeOptions::fromEnvironment() {
    OfficeOptions options;
    if (auto value = environment("TARVO_OFFICE_PROGRAM_DIR")) {
        options.programDir = *value;
    }
    if (auto value = environment("TARVO_OFFICE_PIPE")) {
        options.pipeName = *value;
    }
    if (auto value = environment("TARVO_OFFICE_PROFILE")) {
        options.profileDir = *value;
    }
    if (auto value = environment("TARVO_OFFICE_HEADLESS")) {
        options.headless = *value != "0";
    }
    return options;
}

bool OfficeOptions::runHeadless() const {
    if (headless) {
        return *headless;
    }
    return !environment("DISPLAY") && !environment("WAYLAND_DISPLAY");
}

std::string OfficeOptions::sofficeCommand() const {
    return soffice.empty() ? programDir + "/soffice" : soffice;
}

std::string OfficeOptions::bootstrapIni() const {
    return programDir + "/fundamentalrc";
}

bool OfficeOptions::officeInstalled() const {
    return isExecutable(sofficeCommand()) && std::filesystem::exists(bootstrapIni());
}

std::string OfficeOptions::acceptString() const {
    return "pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext";
}

std::vector<std::string> OfficeOptions::startArguments() const {
    std::vector<std::string> args;
    if (runHeadless()) {
        args = {"--headless", "--invisible", "--nodefault"};
    } else {
        // The empty document that --calc opens gives way to the workbook loaded next.
        args = {"--calc"};
    }
    args.insert(args.end(), {"--norestore", "--nologo"});
    args.push_back("--accept=" + acceptString());
    if (!profileDir.empty()) {
        args.push_back("-env:UserInstallation=" + fileUrl(profileDir));
    }
    return args;
}

}  // namespace tarvo
