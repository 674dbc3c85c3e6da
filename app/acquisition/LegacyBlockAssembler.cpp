#include "acquisition/LegacyBlockAssembler.h"

namespace tarvo {

bool LegacyBlockAssembler::feed(const uint32_t* words, size_t count, const BlockSink& sink,
                                uint32_t& lost) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t word = words[i];
        uint32_t tag = daq::legacyTag(word);
        if (!started_) {
            started_ = true;
            tag_ = tag;
            filled_ = 0;
        }
        if (tag == tag_) {
            if (filled_ == block_.size()) {
                // Too long for one event: the board lost a tag change; nothing here is trusted.
                ++lost;
                filled_ = 0;
            }
            block_[filled_++] = word;
            continue;
        }
        if (filled_ == block_.size()) {
            if (!sink(block_)) {
                return false;
            }
        } else if (filled_ > 0) {
            ++lost;
        }
        tag_ = tag;
        block_[0] = word;
        filled_ = 1;
    }
    if (filled_ == block_.size()) {
        filled_ = 0;
        if (!sink(block_)) {
            return false;
        }
    }
    return true;
}

}  // namespace tarvo
