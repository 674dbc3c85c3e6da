#pragma once

#include <cstdint>
#include <string>

#include "board/BoardBus.h"
#include "board/BoardContext.h"

namespace tarvo {

// Register access at the board's base address through its bridge handle, and the error box
// every failed board operation shows.
class BoardAccess {
  public:
    explicit BoardAccess(const BoardContext& context);

    int32_t read(uint32_t offset, uint32_t& value);
    int32_t write(uint32_t offset, uint32_t value);
    int32_t blockRead(uint32_t offset, uint32_t* words, int32_t bytes, int32_t& count);

    // Shows the text with the error icon (nothing when no operator is attached).
    void error(const std::string& text);

  private:
    BoardContext context_;
    BoardBus& bus_;
};

}  // namespace tarvo
