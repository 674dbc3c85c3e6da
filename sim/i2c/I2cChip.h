#pragma once

#include <cstdint>

namespace vmesim::i2c {

// A chip as the bus sees it after it has acknowledged its address: bytes written to it, bytes
// read from it, and the stop condition that ends a transaction (a repeated start does not).
class I2cChip {
  public:
    virtual ~I2cChip() = default;
    // The address byte's read/write bit of a new transaction (after a start or repeated start).
    virtual void begin(bool read) = 0;
    // A byte from the master; false: the chip does not acknowledge it.
    virtual bool write(uint8_t value) = 0;
    virtual uint8_t read() = 0;
    virtual void stop() = 0;
};

}  // namespace vmesim::i2c
