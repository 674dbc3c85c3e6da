#include "BridgeRegisters.h"

namespace vmesim {

BridgeRegisters::BridgeRegisters(VmeBus& bus, SerialFlash& flash) : bus_(bus), flash_(flash) {}

uint16_t BridgeRegisters::read(unsigned reg) {
    reg %= kCount;
    switch (reg) {
        case kFirmwareRelease:
            return kFirmware;
        case kFlashData:
            return flash_.readByte();
        case kFlashEnable:
            return flash_.selected() ? 1 : 0;
        case kPendingInterrupts:
            return bus_.pendingLevels();
        case kOutputSet:
        case kOutputClear:
            return output_;
        case kMultiplexerClear:
        case kOutputConfigClear:
        case kLedPolarityClear:
            // A clear port reads the register it clears.
            return values_[reg - 6];
        case kDisplayLast:
            // The interrupt lines are live, the line flags latched from the last cycle.
            return uint16_t((values_[reg] & ~0x7Fu) | bus_.pendingLevels());
        default:
            return values_[reg];
    }
}

void BridgeRegisters::write(unsigned reg, uint16_t value) {
    reg %= kCount;
    switch (reg) {
        case kFirmwareRelease:
        case kPendingInterrupts:
            return;
        case kControl: {
            uint16_t old = values_[reg];
            values_[reg] = value;
            if ((value & kControlSystemReset) && !(old & kControlSystemReset)) {
                ++systemResets_;
                bus_.systemReset();
            }
            return;
        }
        case kFlashData:
            flash_.writeByte(uint8_t(value));
            return;
        case kFlashEnable:
            flash_.select((value & 1) != 0);
            return;
        case kOutputSet:
            output_ |= value;
            return;
        case kOutputClear:
            output_ &= uint16_t(~value);
            return;
        case kMultiplexerSet:
        case kOutputConfigSet:
        case kLedPolaritySet:
            values_[reg] |= value;
            return;
        case kMultiplexerClear:
        case kOutputConfigClear:
        case kLedPolarityClear:
            values_[reg - 6] &= uint16_t(~value);
            return;
        case kMonitorAddressLow:
            values_[reg] = value;
            monitorAddress_ = (monitorAddress_ & 0xFFFF0000u) | value;
            return;
        case kMonitorAddressHigh:
            values_[reg] = value;
            monitorAddress_ = (monitorAddress_ & 0x0000FFFFu) | uint32_t(value) << 16;
            return;
        case kMonitorModifier:
            values_[reg] = value;
            monitorModifier_ = value;
            return;
        default:
            if (reg >= kDisplayFirst && reg <= kDisplayLast) {
                return;
            }
            values_[reg] = value;
            return;
    }
}

void BridgeRegisters::show(const BusCycle& cycle) {
    using Kind = BusCycle::Kind;
    values_[32] = uint16_t(cycle.address);
    values_[33] = uint16_t(cycle.address >> 16);
    values_[34] = uint16_t(cycle.data);
    values_[35] = uint16_t(cycle.data >> 16);

    uint16_t lines = uint16_t(cycle.am & 0x3F) | kShowAddressStrobe;
    if (cycle.bytes == 1) {
        lines |= (cycle.address & 1) ? kShowDataStrobe0 : kShowDataStrobe1;
    } else if (cycle.bytes > 1) {
        lines |= kShowDataStrobe0 | kShowDataStrobe1;
    }
    if (cycle.bytes >= 4) {
        lines |= kShowLongWord;
    }
    if (cycle.kind == Kind::Write || cycle.kind == Kind::ReadModifyWrite) {
        lines |= kShowWrite;
    }
    if (cycle.kind == Kind::InterruptAcknowledge) {
        lines |= kShowIack;
    }
    values_[36] = lines;

    uint16_t status = kShowBusRequest | kShowBusGrant;
    status |= cycle.busError ? kShowBusError : kShowAcknowledge;
    if (values_[kControl] & kControlSystemReset) {
        status |= kShowSystemReset;
    }
    values_[37] = status;
}

void BridgeRegisters::monitor(const BusCycle& cycle) {
    if (cycle.kind == BusCycle::Kind::InterruptAcknowledge) {
        return;
    }
    if (cycle.address == monitorAddress_ && cycle.am == (monitorModifier_ & 0x3Fu)) {
        ++monitorHits_;
    }
}

void BridgeRegisters::addStats(std::map<std::string, uint64_t>& counts) const {
    counts["location_monitor_hits"] += monitorHits_;
    counts["system_resets"] += systemResets_;
    counts["flash_pages_programmed"] += flash_.pagesProgrammed();
    counts["flash_pages_erased"] += flash_.pagesErased();
}

}  // namespace vmesim
