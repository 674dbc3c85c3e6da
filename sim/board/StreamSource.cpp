#include "board/StreamSource.h"

namespace vmesim::board {

void StreamSource::startBlock(const FrontEndConfig& fe, int adcShift) {
    if (blocksMade_ + fragmentsMade_ > 0) {
        tag_ = (tag_ + 1) & 0xF;
    }
    signals_.fillStreamBlock(block_.data(), tag_, fe, adcShift, rng_);
    pos_ = 0;
    fragment_ = rng_.below(kFragmentOneIn) == 0;
    if (fragment_) {
        length_ = 1 + rng_.below(kStreamBlockWords - 1);
        ++fragmentsMade_;
    } else {
        length_ = kStreamBlockWords;
        ++blocksMade_;
    }
}

uint32_t StreamSource::takeWord() {
    const uint32_t word = block_[pos_++];
    if (pos_ == length_) {
        ++(fragment_ ? fragmentsRead_ : blocksRead_);
    }
    return word;
}

}  // namespace vmesim::board
