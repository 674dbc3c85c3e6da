#pragma once

#include <array>
#include <string>

namespace tarvo {

// The program's four-part version (major, minor, build, revision), fixed by the build.
std::array<int, 4> programVersion();

// "Nimbra DAQ, Version %d.%d.%d.%d".
std::string programVersionText();

}  // namespace tarvo
