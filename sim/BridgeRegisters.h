#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "SerialFlash.h"
#include "VmeBus.h"

namespace vmesim {

// The bridge's own 16-bit registers, as its register requests reach them. Most registers read
// back what was written; the exceptions are the set/clear port pairs, the read-only release,
// pending-interrupt and display registers, and the flash behind registers 3 and 4.
class BridgeRegisters {
  public:
    static constexpr unsigned kCount = 128;  // register numbers are 7 bits of the command word

    static constexpr unsigned kControl = 1;
    static constexpr unsigned kFirmwareRelease = 2;
    static constexpr unsigned kFlashData = 3;
    static constexpr unsigned kFlashEnable = 4;
    static constexpr unsigned kPendingInterrupts = 5;
    static constexpr unsigned kOutputSet = 10;
    static constexpr unsigned kMultiplexerSet = 11;
    static constexpr unsigned kOutputConfigSet = 12;
    static constexpr unsigned kLedPolaritySet = 13;
    static constexpr unsigned kOutputClear = 16;
    static constexpr unsigned kMultiplexerClear = 17;
    static constexpr unsigned kOutputConfigClear = 18;
    static constexpr unsigned kLedPolarityClear = 19;
    static constexpr unsigned kPulserA0 = 22;
    static constexpr unsigned kPulserA1 = 23;
    static constexpr unsigned kPulserB0 = 25;
    static constexpr unsigned kPulserB1 = 26;
    static constexpr unsigned kScaler = 28;
    static constexpr unsigned kDisplayFirst = 32;
    static constexpr unsigned kDisplayLast = 37;
    static constexpr unsigned kMonitorAddressLow = 40;
    static constexpr unsigned kMonitorAddressHigh = 41;
    static constexpr unsigned kMonitorModifier = 44;

    static constexpr uint16_t kFirmware = 0x0105;
    static constexpr uint16_t kControlSystemReset = 1u << 7;
    static constexpr uint16_t kControlFifoMode = 1u << 9;

    // Line flags of the display registers. Register 36 bits 6..11 and register 37 bits 7..11.
    static constexpr uint16_t kShowAddressStrobe = 1u << 6;
    static constexpr uint16_t kShowDataStrobe0 = 1u << 7;
    static constexpr uint16_t kShowDataStrobe1 = 1u << 8;
    static constexpr uint16_t kShowLongWord = 1u << 9;
    static constexpr uint16_t kShowWrite = 1u << 10;
    static constexpr uint16_t kShowIack = 1u << 11;
    static constexpr uint16_t kShowAcknowledge = 1u << 7;
    static constexpr uint16_t kShowBusError = 1u << 8;
    static constexpr uint16_t kShowSystemReset = 1u << 9;
    static constexpr uint16_t kShowBusRequest = 1u << 10;
    static constexpr uint16_t kShowBusGrant = 1u << 11;

    BridgeRegisters(VmeBus& bus, SerialFlash& flash);

    uint16_t read(unsigned reg);
    void write(unsigned reg, uint16_t value);

    bool fifoMode() const { return (values_[kControl] & kControlFifoMode) != 0; }

    // The front-panel display latches the last cycle this bridge ran.
    void show(const BusCycle& cycle);
    // Every cycle on the bus passes the location monitor, whichever master ran it.
    void monitor(const BusCycle& cycle);

    void addStats(std::map<std::string, uint64_t>& counts) const;

  private:
    VmeBus& bus_;
    SerialFlash& flash_;
    std::array<uint16_t, kCount> values_{};
    uint16_t output_ = 0;
    std::atomic<uint32_t> monitorAddress_{0};
    std::atomic<uint16_t> monitorModifier_{0};
    std::atomic<uint64_t> monitorHits_{0};
    uint64_t systemResets_ = 0;
};

}  // namespace vmesim
