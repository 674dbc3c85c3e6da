#pragma once

#include <cstdint>

namespace tarvo {

// The three bridge calls every board access goes through (D32, A32 user data). The board context
// points at the bridge library's implementation; tests put a model of the board behind it.
class BoardBus {
  public:
    virtual ~BoardBus() = default;
    virtual int32_t readCycle(int32_t handle, uint32_t address, uint32_t& value) = 0;
    virtual int32_t writeCycle(int32_t handle, uint32_t address, uint32_t value) = 0;
    // Reads up to `bytes` bytes into `words`; `count` receives the bytes that arrived, also when
    // the result is an error.
    virtual int32_t bltReadCycle(int32_t handle, uint32_t address, uint32_t* words, int32_t bytes,
                                 int32_t& count) = 0;
};

// The bridge library (KOVRAVME_ReadCycle, KOVRAVME_WriteCycle, KOVRAVME_BLTReadCycle).
BoardBus& libraryBus();

}  // namespace tarvo
