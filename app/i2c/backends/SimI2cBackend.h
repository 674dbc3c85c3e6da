#pragma once

#include <string>

#include "i2c/I2cAdapter.h"

namespace tarvo {

// The virtual crate's I2C adapter: the socket DIR/i2c-0 of vmecrate-sim --i2c (see
// docs/virtual-crate-i2c.md). DIR is $KOVRAVME_SIM_DIR unless given.
class SimI2cBackend : public I2cBackend {
  public:
    SimI2cBackend();
    explicit SimI2cBackend(std::string dir);

    int32_t list(std::vector<AdapterEntry>& entries) override;
    int32_t open(const AdapterEntry& entry, uint32_t& clockHz,
                 std::unique_ptr<I2cLink>& link) override;

  private:
    std::string socketPath() const;

    std::string dir_;
};

}  // namespace tarvo
