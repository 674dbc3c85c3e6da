#pragma once

#include <array>
#include <optional>
#include <string>

namespace tarvo::cli {

// Parses a --ta list ("1,4,8": TA sections 1..8) into the enable flags. Nothing on success, else
// what is wrong with the list; an empty list is wrong, as a run that enables nothing is a mistake.
std::optional<std::string> parseTaList(const std::string& text, std::array<bool, 8>& enable);

}  // namespace tarvo::cli
