#pragma once

#include <stdexcept>

namespace tarvo {

// A failure the office reported; what() is the office's own text.
class AutomationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace tarvo
