#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "i2c/I2cAdapter.h"

namespace tarvo {

class Operator;

// Status of the last adapter call, kept in I2cBus::status; BusErrorText gives the English text.
//
//   0  Success                    the call did what was asked
//   1  InvalidHandle              the bus is not open
//   2  DeviceNotFound             no adapter of that name or location is attached
//   3  DeviceOpenFailed           the adapter is there but could not be opened or claimed
//   4  IoError                    the adapter stopped answering or reported a transfer error
//   5  AddressNack                no chip acknowledged the address byte
//   6  DataNack                   the chip did not acknowledge a command or data byte
//   7  Timeout                    no acknowledge within the 100 ms time-out
//   8  InvalidClock               the requested clock is 0
//   9  NotI2cAdapter              the device does not carry plain I2C transactions
//  10  BufferSize                 nothing to write, or a read of another size than the chips use
//  11  InvalidStatus              a text was asked for a status that is not in this table
//  38  TooManyControlBytes        a write with more than 256 control bytes
enum I2cStatus : int32_t {
    kI2cSuccess = 0,
    kI2cInvalidHandle = 1,
    kI2cDeviceNotFound = 2,
    kI2cDeviceOpenFailed = 3,
    kI2cIoError = 4,
    kI2cAddressNack = 5,
    kI2cDataNack = 6,
    kI2cTimeout = 7,
    kI2cInvalidClock = 8,
    kI2cNotI2cAdapter = 9,
    kI2cBufferSize = 10,
    kI2cInvalidStatus = 11,
    kI2cTooManyControlBytes = 38,
};

// The English text of a status, or nothing when the code is not in the table.
std::optional<std::string> i2cStatusText(int32_t status);

// The opened adapter (handle 0: closed).
struct I2cBus {
    int32_t status = 0;
    uint32_t handle = 0;
    // The adapter to take without asking: an entry's id or name. Unset: TARVO_I2C_ADAPTER.
    std::optional<std::string> adapterChoice;
    std::vector<std::unique_ptr<I2cBackend>> backends;  // empty: defaultI2cBackends()
    std::unique_ptr<I2cLink> link;
    AdapterEntry entry;
};

// One chip on the bus: the two low bits of its 7-bit address come from its address pins.
struct I2cDevice {
    I2cBus* bus = nullptr;
    uint8_t addressSelect = 0;
};

constexpr size_t kMaxControlBytes = 256;

// The clock divisor of a 60 MHz adapter for a requested clock (> 0): 60 MHz / (2 f) - 1, and 299
// (100 kHz) where that would not fit 16 bits.
uint32_t clockDivisor(uint32_t requestedHz);

// Every entry of the bus's backends, in the order OpenBus offers them.
std::vector<AdapterEntry> listAdapters(I2cBus& bus);

// Finds the adapter (the chosen one, or asks the operator about each entry in turn with
// "Found %s LocationID=%d Channel=%s\nUse This for I2C Bus ?"), opens it at clockHz (which
// receives the clock obtained) and puts its name into *name. False when nothing was opened.
bool OpenBus(I2cBus& bus, uint32_t& clockHz, std::string* name, Operator& op);
void CloseBus(I2cBus& bus);
// control: address byte, then the command byte; data: the bytes after them.
bool BusWrite(I2cBus& bus, const std::vector<uint8_t>& control, const std::vector<uint8_t>& data,
              bool stop);
// Reads two bytes after the control bytes (the address byte with its read bit).
bool BusRead(I2cBus& bus, const std::vector<uint8_t>& control, std::vector<uint8_t>& buffer);
// The text of the bus's last status; the lookup's own result becomes the status.
void BusErrorText(I2cBus& bus, std::string& text);

}  // namespace tarvo
