#include "board/BoardBus.h"

#include "KOVRAVMElib.h"
#include "board/BoardRegisters.h"

namespace tarvo {
namespace {

class LibraryBus : public BoardBus {
  public:
    int32_t readCycle(int32_t handle, uint32_t address, uint32_t& value) override {
        return KOVRAVME_ReadCycle(handle, address, &value, board::kAddressModifier,
                                  board::kDataWidth);
    }
    int32_t writeCycle(int32_t handle, uint32_t address, uint32_t value) override {
        return KOVRAVME_WriteCycle(handle, address, &value, board::kAddressModifier,
                                   board::kDataWidth);
    }
    int32_t bltReadCycle(int32_t handle, uint32_t address, uint32_t* words, int32_t bytes,
                         int32_t& count) override {
        count = 0;
        return KOVRAVME_BLTReadCycle(handle, address, words, bytes, board::kAddressModifier,
                                     board::kDataWidth, &count);
    }
};

}  // namespace

BoardBus& libraryBus() {
    static LibraryBus bus;
    return bus;
}

}  // namespace tarvo
