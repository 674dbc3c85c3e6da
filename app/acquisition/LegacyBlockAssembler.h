#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "acquisition/DaqFileLayout.h"

namespace tarvo {

// Cuts the older board layout's data stream into events: runs of 512 words that carry one 4-bit
// tag in bits 28..31. The stream arrives in transfers of any length; an event may span two.
class LegacyBlockAssembler {
  public:
    using Block = std::array<uint32_t, daq::kLegacyRecordWords>;
    // Called for every complete event; returns false to stop at once (a write failed).
    using BlockSink = std::function<bool(const Block&)>;

    // Feeds one transfer. Complete events go to the sink; fragments (a run of 1..511 words, or
    // a 513th word of the same tag) are counted in `lost`. Returns false when the sink refused.
    bool feed(const uint32_t* words, size_t count, const BlockSink& sink, uint32_t& lost);

  private:
    bool started_ = false;
    uint32_t tag_ = 0;
    size_t filled_ = 0;
    Block block_{};
};

}  // namespace tarvo
