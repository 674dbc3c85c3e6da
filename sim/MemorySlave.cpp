#include "MemorySlave.h"

namespace vmesim {

MemorySlave::MemorySlave(uint32_t base, uint32_t size) : base_(base), bytes_(size, 0) {}

bool MemorySlave::claims(uint32_t address, uint32_t) const {
    return address >= base_ && address - base_ < bytes_.size();
}

bool MemorySlave::inside(uint32_t address, unsigned bytes) const {
    // An item that starts inside but reaches past the end is not answered as a whole.
    return claims(address, 0) && uint64_t(address - base_) + bytes <= bytes_.size();
}

bool MemorySlave::read(uint32_t address, uint32_t, unsigned bytes, Access, uint64_t& value) {
    if (!inside(address, bytes)) {
        return false;
    }
    const uint8_t* p = bytes_.data() + (address - base_);
    value = 0;
    for (unsigned i = 0; i < bytes; ++i) {
        value |= uint64_t(p[i]) << (8 * i);
    }
    ++reads_;
    return true;
}

bool MemorySlave::write(uint32_t address, uint32_t, unsigned bytes, Access, uint64_t value) {
    if (!inside(address, bytes)) {
        return false;
    }
    uint8_t* p = bytes_.data() + (address - base_);
    for (unsigned i = 0; i < bytes; ++i) {
        p[i] = uint8_t(value >> (8 * i));
    }
    ++writes_;
    return true;
}

void MemorySlave::addStats(std::map<std::string, uint64_t>& counts) const {
    counts["memory_reads"] += reads_;
    counts["memory_writes"] += writes_;
}

}  // namespace vmesim
