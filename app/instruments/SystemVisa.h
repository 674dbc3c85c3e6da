#pragma once

#include <memory>
#include <string>
#include <vector>

#include "instruments/Instrument.h"

namespace tarvo {

// A VISA library installed on the system, loaded at run time so that the program needs none to
// build or run. Only the standard entry points are used: viOpenDefaultRM, viFindRsrc, viFindNext,
// viOpen, viWrite and viClose (viStatusDesc for the texts of errors, when the library has it).
class SystemVisa;

// Loads the library at `path` (a file, or a bare name looked up on the library path) and opens
// its default resource manager. The search adds the extra names to what the library lists.
// nullptr with the reason when the library is missing, lacks an entry point or refuses.
std::unique_ptr<ResourceManager> openSystemVisa(const std::string& path,
                                                std::vector<std::string> extraNames,
                                                std::string& error);

}  // namespace tarvo
