#pragma once

#include <cstdint>
#include <vector>

namespace vmesim {

// Something the PCI card reaches over its optical link: a bridge (by board number) or the link
// device. It takes one request as the library builds it and returns the reply bytes (data, then
// the status word), or nothing for a request that has no reply.
class LinkStation {
  public:
    virtual ~LinkStation() = default;
    virtual std::vector<uint8_t> exchange(const std::vector<uint8_t>& request) = 0;
    // VME interrupt levels waiting on this station (bit n-1 for level n).
    virtual uint8_t pendingInterrupts() { return 0; }
    // Raises a VME interrupt at `level` (1..7) on this station; false when it cannot.
    virtual bool raiseInterrupt(uint8_t level) {
        (void)level;
        return false;
    }
};

}  // namespace vmesim
