#pragma once

#include <string>

namespace tarvo {

// Whether a resource name matches a search expression of the VISA kind: "?" is any one
// character, "*" repeats what comes before it zero or more times and "+" one or more times,
// "[...]" is one of a set ("[^...]" none of it, "a-z" a range), anything else stands for itself
// without regard to case. "?*" matches every name.
bool matchesVisaExpression(const std::string& expression, const std::string& name);

}  // namespace tarvo
