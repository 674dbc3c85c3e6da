#pragma once

#include <string>

#include "i2c/I2cAdapter.h"

namespace tarvo {

// Linux i2c-dev: every /dev/i2c-N that sysfs lists, named as sysfs names it. The folders are
// parameters so that the listing and its error paths can be checked without an adapter.
class LinuxI2cBackend : public I2cBackend {
  public:
    LinuxI2cBackend(std::string devDir = "/dev", std::string sysDir = "/sys/class/i2c-dev");

    int32_t list(std::vector<AdapterEntry>& entries) override;
    // The bus clock of an i2c-dev adapter is fixed by its driver, so clockHz stays as asked.
    int32_t open(const AdapterEntry& entry, uint32_t& clockHz,
                 std::unique_ptr<I2cLink>& link) override;

  private:
    std::string devDir_;
    std::string sysDir_;
};

}  // namespace tarvo
