#pragma once

#include <cstdint>
#include <string>

#include "acquisition/RunState.h"
#include "board/VmeBus.h"

namespace tarvo {

// Register access at the run state's base address through its bridge handle, and the error box
// every failed board operation shows.
class BoardAccess {
  public:
    explicit BoardAccess(RunState& state);

    int32_t read(uint32_t offset, uint32_t& value);
    int32_t write(uint32_t offset, uint32_t value);
    int32_t blockRead(uint32_t offset, uint32_t* words, int32_t bytes, int32_t& count);

    // Shows the text with the error icon (nothing when no operator is attached).
    void error(const std::string& text);

    RunState& state() { return state_; }

  private:
    RunState& state_;
    VmeBus& bus_;
};

}  // namespace tarvo
