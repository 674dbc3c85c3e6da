#include "shell/ProgramVersion.h"

#include <cstdio>

namespace tarvo {

std::array<int, 4> programVersion() {
    return {TARVO_VERSION_MAJOR, TARVO_VERSION_MINOR, TARVO_VERSION_BUILD,
            TARVO_VERSION_REVISION + 0};
}

std::string programVersionText() {
    auto v = programVersion();
    char text[64];
    std::snprintf(text, sizeof text, "Nimbra DAQ, Version %d.%d.%d.%d", v[0], v[1], v[2], v[3]);
    return text;
}

}  // namespace tarvo
