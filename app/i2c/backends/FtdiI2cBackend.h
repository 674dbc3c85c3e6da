#pragma once

#include "i2c/I2cAdapter.h"

namespace tarvo {

// FTDI's multi-protocol chips through libftdi1: one entry per MPSSE channel (FT2232H and FT4232H
// channels A and B, FT232H channel A), I2C on the MPSSE engine.
class FtdiI2cBackend : public I2cBackend {
  public:
    int32_t list(std::vector<AdapterEntry>& entries) override;
    int32_t open(const AdapterEntry& entry, uint32_t& clockHz,
                 std::unique_ptr<I2cLink>& link) override;
};

}  // namespace tarvo
