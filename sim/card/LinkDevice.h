#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "SerialFlash.h"
#include "card/LinkStation.h"

namespace vmesim {

// The device on the optical link that has registers but no VME side. It answers the register
// requests of the bridge's wire format: register 4 is its firmware release, registers 2 (data)
// and 3 (enable) drive its serial flash, every other register reads back what was written.
class LinkDevice : public LinkStation {
  public:
    static constexpr uint16_t kFirmwareRelease = 0x0201;

    std::vector<uint8_t> exchange(const std::vector<uint8_t>& request) override;

    uint16_t registerValue(uint16_t reg);
    const SerialFlash& flash() const { return flash_; }

  private:
    uint16_t readRegister(uint16_t reg);
    void writeRegister(uint16_t reg, uint16_t value);

    std::mutex mutex_;
    std::map<uint16_t, uint16_t> registers_;
    SerialFlash flash_;
};

}  // namespace vmesim
