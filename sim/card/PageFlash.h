#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace vmesim {

// A serial flash of 264-byte pages driven one byte at a time through a data register while an
// enable register is 1: write (0x82), read (0xD2) and erase (0x81) page commands. Erased bytes
// read 0xFF. A command takes effect when the enable register drops back to 0.
class PageFlash {
  public:
    static constexpr size_t kPageSize = 264;

    void setEnable(bool on);
    void writeByte(uint8_t byte);
    uint8_t readByte();

    std::array<uint8_t, kPageSize> page(uint32_t number) const;

  private:
    static uint32_t pageNumber(const std::vector<uint8_t>& command);
    void finishCommand();

    bool enabled_ = false;
    std::vector<uint8_t> command_;
    size_t readOffset_ = 0;
    std::map<uint32_t, std::array<uint8_t, kPageSize>> pages_;
};

}  // namespace vmesim
