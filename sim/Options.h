#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/BoardOptions.h"

namespace vmesim {

// --i2c-nack ADDR[:COUNT]: the chip at ADDR refuses its next COUNT transactions (0: all).
struct I2cNack {
    uint8_t address = 0;
    uint32_t count = 0;
};

struct MemoryRegion {
    uint32_t address = 0;
    uint32_t size = 0;
};

// Everything the command line chooses. A new option gets a field here and one entry in the
// table of Options.cpp.
struct Options {
    std::string dir;
    std::string tracePath;
    std::vector<MemoryRegion> memories;
    uint32_t delayUs = 0;
    uint32_t idleTimeoutMs = 5000;  // 0: connections may idle for ever
    uint8_t irqLevels = 0;          // bit n-1: level n pending from the start
    std::string flashPath;
    std::string statsPath;
    bool board = false;  // --board maps the readout board at boardOptions.base
    board::BoardOptions boardOptions;
    // PCI optical-link cards, each with a link to opticalBoards bridges (board numbers 0..M-1)
    // and a link device; the first dropCount replies from number dropFirst on are lost.
    uint32_t opticalLinks = 0;
    uint32_t opticalBoards = 1;
    uint32_t dropFirst = 0;
    uint32_t dropCount = 0;
    // The front-end board's I2C chips on DIR/i2c-0: VATA temperatures in degrees C (the last one
    // given fills the rest), their drift, and chips that do not acknowledge.
    bool i2c = false;
    std::vector<double> temperatures;
    double temperatureDriftPerMinute = 0.0;
    std::vector<I2cNack> i2cNacks;
    bool help = false;
};

class OptionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads the command line (argv[0] is skipped); throws OptionError on anything it cannot use.
Options parseOptions(int argc, const char* const* argv);
std::string usage();

// A number as C's strtoul with base 0 reads it ("0x" hexadecimal, leading "0" octal), the whole
// text, within 32 bits.
uint32_t parseNumber(const std::string& text, const std::string& what);

}  // namespace vmesim
