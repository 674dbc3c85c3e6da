#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {

// How the program reaches the office: the pipe it listens on, the installation it is started
// from, and the profile it runs with. The defaults drive the user's own office with the user's
// profile; tests and scripts give a profile folder and a pipe name of their own.
struct OfficeOptions {
    std::string programDir;  // the office's program folder (soffice, fundamentalrc)
    std::string soffice;     // the start command; empty: programDir/soffice
    std::string pipeName = "tarvo_office";
    std::string profileDir;        // empty: the user's own profile
    std::optional<bool> headless;  // nothing: headless when there is no display
    std::chrono::milliseconds startTimeout{90000};

    OfficeOptions();

    // The defaults, overridden by TARVO_OFFICE_PIPE, TARVO_OFFICE_PROFILE,
    // TARVO_OFFICE_HEADLESS (1 or 0) and TARVO_OFFICE_PROGRAM_DIR when they are set.
    static OfficeOptions fromEnvironment();

    bool runHeadless() const;
    std::string sofficeCommand() const;
    std::string bootstrapIni() const;
    // True when the office is installed where these options look for it.
    bool officeInstalled() const;
    std::vector<std::string> startArguments() const;
    // The address the office accepts connections on, as its --accept option and the resolver
    // spell it.
    std::string acceptString() const;
};

}  // namespace tarvo
