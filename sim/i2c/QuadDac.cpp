#include "i2c/QuadDac.h"

namespace vmesim::i2c {

void QuadDac::begin(bool) {
    position_ = 0;
}

bool QuadDac::write(uint8_t value) {
    switch (position_++) {
        case 0:
            command_ = value;
            // Commands for another extended address belong to another chip on the same pins.
            return (value & 0xC0) == 0;
        case 1:
            high_ = value;
            return true;
        case 2: {
            int channel = (command_ >> 1) & 3;
            int loadMode = (command_ >> 4) & 3;
            buffers_[size_t(channel)] = uint16_t(high_ << 8 | value);
            if (command_ & 1) {
                return true;  // power-down commands leave the outputs as they are in this model
            }
            if (loadMode == 1) {
                update(channel);
            } else if (loadMode >= 2) {
                for (int c = 0; c < 4; ++c) {
                    update(c);
                }
            }
            // Further bytes start the next pair for the same command.
            position_ = 1;
            return true;
        }
        default:
            return true;
    }
}

void QuadDac::update(int channel) {
    outputs_[size_t(channel)] = buffers_[size_t(channel)];
    if (changed_) {
        changed_(channel, outputs_[size_t(channel)]);
    }
}

uint8_t QuadDac::read() {
    // Read-back is not modelled: the chip releases the bus and the master reads ones.
    return 0xFF;
}

void QuadDac::stop() {
    position_ = 0;
}

}  // namespace vmesim::i2c
