#pragma once

#include <array>
#include <functional>

#include "i2c/I2cChip.h"

namespace vmesim::i2c {

// A quad 16-bit voltage-output DAC. A write is a command byte then the 16-bit code MSB first.
// Command byte: bits 7..6 extended address (0), bits 5..4 load mode, bit 3 unused, bits 2..1 the
// channel, bit 0 power-down (0: normal). Load modes: 0 write the channel's buffer only, 1 write and
// update the channel, 2 write and update all channels from their buffers, 3 the same (broadcast).
// Outputs power up at mid-scale (code 32768).
class QuadDac : public I2cChip {
  public:
    // Called with (channel, code) each time an output changes.
    using OutputChanged = std::function<void(int, uint16_t)>;

    explicit QuadDac(OutputChanged changed) : changed_(std::move(changed)) {}

    void begin(bool read) override;
    bool write(uint8_t value) override;
    uint8_t read() override;
    void stop() override;

    uint16_t output(int channel) const { return outputs_[size_t(channel)]; }

  private:
    void update(int channel);

    OutputChanged changed_;
    std::array<uint16_t, 4> buffers_{32768, 32768, 32768, 32768};
    std::array<uint16_t, 4> outputs_{32768, 32768, 32768, 32768};
    int position_ = 0;  // bytes received since the address
    uint8_t command_ = 0;
    uint8_t high_ = 0;
};

}  // namespace vmesim::i2c
