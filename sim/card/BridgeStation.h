#pragma once

#include <span>

#include "Bridge.h"
#include "VmeBus.h"
#include "card/LinkStation.h"

namespace vmesim {

// A bridge of the crate's bridge model on the optical link. All bridges share the crate's VME
// bus, so they see the same slaves and the same interrupt lines.
class BridgeStation : public LinkStation {
  public:
    BridgeStation(VmeBus& bus, std::string flashPath = {}) : bus_(bus), bridge_(bus, flashPath) {}

    std::vector<uint8_t> exchange(const std::vector<uint8_t>& request) override {
        // A request the bridge cannot decode goes unanswered, as on the link nothing else can
        // tell the library so.
        return bridge_.process(std::span<const uint8_t>(request)).value_or(std::vector<uint8_t>{});
    }
    uint8_t pendingInterrupts() override { return bus_.pendingLevels(); }
    bool raiseInterrupt(uint8_t level) override {
        if (level < 1 || level > 7) {
            return false;
        }
        bus_.raiseInterrupt(level, level);
        return true;
    }

    Bridge& bridge() { return bridge_; }

  private:
    VmeBus& bus_;
    Bridge bridge_;
};

}  // namespace vmesim
