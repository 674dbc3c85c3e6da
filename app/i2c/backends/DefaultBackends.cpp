#include "i2c/backends/FtdiI2cBackend.h"
#include "i2c/backends/LinuxI2cBackend.h"
#include "i2c/backends/SimI2cBackend.h"

namespace tarvo {

std::vector<std::unique_ptr<I2cBackend>> defaultI2cBackends() {
    std::vector<std::unique_ptr<I2cBackend>> backends;
    backends.push_back(std::make_unique<SimI2cBackend>());
    backends.push_back(std::make_unique<FtdiI2cBackend>());
    backends.push_back(std::make_unique<LinuxI2cBackend>());
    return backends;
}

}  // namespace tarvo
