#pragma once

#include <string>

namespace tarvo {

// The file in the virtual crate's folder that names its pulse generator's resource.
inline constexpr const char* kSimGeneratorFile = "generator-resource";

// The resource name of the generator the crate in $KOVRAVME_SIM_DIR advertises, or "".
std::string simulatedGeneratorResource();

}  // namespace tarvo
