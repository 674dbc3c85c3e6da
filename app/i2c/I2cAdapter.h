#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tarvo {

// One adapter channel as the operator is offered it: a dual-channel chip gives two entries.
struct AdapterEntry {
    std::string id;    // unique key for TARVO_I2C_ADAPTER / --i2c-adapter: "sim", "i2c-1", ...
    std::string name;  // what the adapter calls itself
    int32_t locationId = 0;
    std::string channel;  // "A", "B", ... or empty where the adapter has one
    std::string backend;  // "sim", "ftdi", "i2c-dev"
};

// An opened adapter. Transactions carry whole I2C messages: the address byte first, then the
// bytes to write; a write without stop leaves the bus to a repeated start by the next call.
// Every call returns one of the I2cStatus codes of I2cBus.h.
class I2cLink {
  public:
    virtual ~I2cLink() = default;
    virtual int32_t write(std::span<const uint8_t> bytes, bool stop) = 0;
    virtual int32_t read(uint8_t addressByte, std::span<uint8_t> buffer) = 0;
};

// One kind of adapter: lists what is attached and opens an entry at a clock.
class I2cBackend {
  public:
    virtual ~I2cBackend() = default;
    // Adds the attached entries; returns a status (a backend that cannot look is not fatal to
    // the others).
    virtual int32_t list(std::vector<AdapterEntry>& entries) = 0;
    // clockHz in: the requested SCL frequency; out: the frequency the adapter runs at.
    virtual int32_t open(const AdapterEntry& entry, uint32_t& clockHz,
                         std::unique_ptr<I2cLink>& link) = 0;
};

// The backends of this machine in the order their entries are offered: the virtual crate's
// socket first (when $KOVRAVME_SIM_DIR/i2c-0 exists), then FTDI MPSSE adapters, then i2c-dev.
std::vector<std::unique_ptr<I2cBackend>> defaultI2cBackends();

}  // namespace tarvo
