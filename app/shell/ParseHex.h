#pragma once

#include <cstdint>
#include <string_view>

namespace tarvo {

// The hexadecimal reading of "Base Address (hex)" and the stored "BaseAddr": blanks and tabs
// before the first digit are skipped, a blank or tab after a digit ends the number, the value
// wraps at 32 bits, and any other character (or an empty text) gives 0.
uint32_t ParseHex(std::string_view text);

}  // namespace tarvo
