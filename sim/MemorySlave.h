#pragma once

#include <cstdint>
#include <vector>

#include "VmeSlave.h"

namespace vmesim {

// Plain RAM on the bus (`--memory ADDR:SIZE`): answers every address modifier inside its window.
// Values are kept little-endian, so a block read returns the bytes in the order a block write
// stored them whatever the item width.
class MemorySlave : public VmeSlave {
  public:
    MemorySlave(uint32_t base, uint32_t size);

    bool claims(uint32_t address, uint32_t am) const override;
    bool read(uint32_t address, uint32_t am, unsigned bytes, Access access,
              uint64_t& value) override;
    bool write(uint32_t address, uint32_t am, unsigned bytes, Access access,
               uint64_t value) override;
    void addStats(std::map<std::string, uint64_t>& counts) const override;

    uint32_t base() const { return base_; }
    uint32_t size() const { return uint32_t(bytes_.size()); }

  private:
    bool inside(uint32_t address, unsigned bytes) const;

    uint32_t base_;
    std::vector<uint8_t> bytes_;
    uint64_t reads_ = 0;
    uint64_t writes_ = 0;
};

}  // namespace vmesim
