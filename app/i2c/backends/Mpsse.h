#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "i2c/I2cAdapter.h"

namespace tarvo::mpsse {

// I2C on an FTDI MPSSE engine: SCL on ADBUS0, SDA driven on ADBUS1 and read back on ADBUS2 (the
// two SDA pins tied together on the adapter). The builders below are pure, so the bytes sent to
// the chip can be checked without an adapter.

// The divisor that gives at most hz with three-phase clocking (SCL = 20 MHz / (1 + divisor)),
// and the clock it gives.
uint16_t divisorFor(uint32_t hz, uint32_t& obtainedHz);
// After the engine is reset into MPSSE mode: 60 MHz master clock, no adaptive clocking,
// three-phase clocking (data valid on both edges, as I2C needs), no loop-back, the divisor,
// both lines idle high.
std::vector<uint8_t> setupCommands(uint16_t divisor);

std::vector<uint8_t> startCondition();
std::vector<uint8_t> stopCondition();
// Clocks one byte out and the chip's acknowledge bit in; the adapter answers one byte whose
// bit 0 is 0 when the chip acknowledged.
std::vector<uint8_t> writeByte(uint8_t value);
// Clocks one byte in and answers it with an acknowledge (nack on the last byte); the adapter
// answers the byte read.
std::vector<uint8_t> readByte(bool last);

// Where the commands go: the USB endpoint of one MPSSE channel.
class Transport {
  public:
    virtual ~Transport() = default;
    virtual bool send(std::span<const uint8_t> bytes) = 0;
    // Fills out within the time-out; false when the adapter failed or did not answer in time.
    virtual bool receive(std::span<uint8_t> out, int timeoutMs) = 0;
};

constexpr int kAckTimeoutMs = 100;

// I2C transactions over a transport: one exchange per byte, so a missing acknowledge ends the
// transaction (with a stop) before anything else is clocked onto the bus.
class MpsseLink : public I2cLink {
  public:
    explicit MpsseLink(std::unique_ptr<Transport> transport) : transport_(std::move(transport)) {}

    int32_t write(std::span<const uint8_t> bytes, bool stop) override;
    int32_t read(uint8_t addressByte, std::span<uint8_t> buffer) override;

  private:
    // Sends commands, then waits for one reply byte per expected answer.
    int32_t exchange(const std::vector<uint8_t>& commands, std::span<uint8_t> reply);
    int32_t sendAddress(uint8_t addressByte);
    int32_t abort(int32_t status);

    std::unique_ptr<Transport> transport_;
};

}  // namespace tarvo::mpsse
