#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "instruments/BuiltinResourceManager.h"
#include "instruments/Instrument.h"
#include "instruments/SimGenerator.h"
#include "instruments/SystemVisa.h"

namespace tarvo {
namespace {

constexpr const char* kDefaultVisaLibrary = "libvisa.so";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Names an operator adds by hand, for instruments no search can find (a LAN instrument).
std::vector<std::string> configuredNames() {
    std::vector<std::string> names;
    std::stringstream in(environment("TARVO_VISA_RESOURCES"));
    std::string name;
    while (std::getline(in, name, ',')) {
        const auto first = name.find_first_not_of(" \t");
        const auto last = name.find_last_not_of(" \t");
        if (first != std::string::npos) {
            names.push_back(name.substr(first, last - first + 1));
        }
    }
    return names;
}

}  // namespace

std::string simulatedGeneratorResource() {
    const std::string dir = environment("KOVRAVME_SIM_DIR");
    if (dir.empty()) {
        return "";
    }
    std::ifstream in(std::filesystem::path(dir) / kSimGeneratorFile);
    std::string name;
    std::getline(in, name);
    return name;
}

std::unique_ptr<ResourceManager> openDefaultResourceManager(std::string& error) {
    std::vector<std::string> extra;
    if (std::string generator = simulatedGeneratorResource(); !generator.empty()) {
        extra.push_back(generator);
    }
    for (std::string& name : configuredNames()) {
        extra.push_back(std::move(name));
    }
    const std::string chosen = environment("TARVO_VISA_LIBRARY");
    if (!chosen.empty()) {
        return openSystemVisa(chosen, std::move(extra), error);
    }
    // A system library on the library path is used when it loads; without one the built-in
    // resources serve.
    std::string why;
    if (auto visa = openSystemVisa(kDefaultVisaLibrary, extra, why)) {
        return visa;
    }
    return std::make_unique<BuiltinResourceManager>(std::move(extra));
}

}  // namespace tarvo
