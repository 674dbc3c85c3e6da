#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "KOVRAVMElib.h"

namespace kovravme {

// A data width as the command word carries it.
struct Width {
    uint8_t bytes;  // 1, 2, 4 or 8
    uint8_t code;   // width code, bits 5-4 of the command word
    bool swapped;   // bit 6: the bridge swaps bytes
};

// Empty for a width outside the table; D64 and its swapped form only when allowed.
std::optional<Width> decodeWidth(DataWidth width, bool allowD64);

// Address-modifier lists of the single-cycle exports.
bool isSingleCycleModifier(uint32_t am);
bool isAddressOnlyModifier(uint32_t am);
bool isHandshakeModifier(uint32_t am);
bool isMbltModifier(uint32_t am);

// Operation codes, bits 3-0 of a VME command word.
enum Operation : uint8_t {
    kOpSingle = 0x1,
    kOpReadModifyWrite = 0x2,
    kOpAddressOnlyHandshake = 0x3,
    kOpBlock = 0x4,
    kOpAddressOnly = 0x5,
    kOpBlockPiece = 0x7,  // a block-read piece that is not the last of its request
    kOpInterruptAcknowledge = 0x8,
};
// Added to the block operations for FIFO transfers, which keep the address.
constexpr uint8_t kOpFifoFlag = 0x8;
constexpr uint16_t kStatusBusError = 0x0020;

// The command word of a VME operation. The modifier is cut to its six bits so that a wild value
// cannot turn a write into a read.
uint16_t vmeCommand(bool read, uint32_t am, Width width, uint8_t operation, bool last);

// Bridge-register requests: 0x4080 + register (read), 0x0080 + register (write).
uint16_t registerReadCommand(uint16_t reg);
uint16_t registerWriteCommand(uint16_t reg);
// Register numbers that fit the command word without touching its other fields.
constexpr uint16_t kMaxRegister = 0x7F;

// Little-endian request building.
class Request {
  public:
    Request() { bytes_.reserve(16); }
    Request& word(uint16_t value);
    Request& dword(uint32_t value);
    Request& bytes(const void* data, size_t length);
    // The data field of a single write: D8 as two bytes placed by the address parity
    // (even: 0 then the byte; odd: the byte then 0), D16 two bytes, D32 four.
    Request& cycleData(uint32_t address, Width width, uint32_t value);

    const std::vector<uint8_t>& data() const { return bytes_; }
    size_t size() const { return bytes_.size(); }

  private:
    std::vector<uint8_t> bytes_;
};

uint16_t readLe16(const uint8_t* bytes);
uint32_t readLe32(const uint8_t* bytes);

// Bytes a cycle's data field takes in a reply: 2 for D8 and D16, 4 for D32.
inline size_t replyFieldBytes(Width width) {
    return width.bytes == 1 ? 2 : width.bytes;
}
// The value of a single-cycle reply field: D8 is the second byte at an even address, the first
// at an odd one.
uint32_t cycleValue(const uint8_t* field, uint32_t address, Width width);

// Stores the low `width.bytes` bytes of `value` at `destination` (which may be unaligned).
void storeValue(void* destination, Width width, uint32_t value);
// Reads only the width's bytes of the caller's data.
uint32_t loadValue(const void* source, Width width);

}  // namespace kovravme
