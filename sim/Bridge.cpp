#include "Bridge.h"

#include <algorithm>

namespace vmesim {

namespace {

constexpr uint16_t kVmeOperation = 0x8000;
constexpr uint16_t kReadDirection = 0x4000;
constexpr uint16_t kLastOperation = 0x0080;
constexpr uint16_t kByteSwap = 0x0040;
constexpr uint16_t kMoreBytes = 0x0100;  // in a streamed register write
constexpr unsigned kBurstReads = 64;     // a register read without the last-operation bit
// A request of many block-read pieces could ask for far more than any caller can take; one
// beyond this is refused rather than allowed to exhaust the simulator's memory.
constexpr size_t kMaxReply = size_t(256) << 20;

enum OpCode : unsigned {
    kSingle = 1,
    kReadModifyWrite = 2,
    kAddressOnlyHandshake = 3,
    kBlock = 4,
    kAddressOnly = 5,
    kBlockPiece = 7,
    kInterruptAcknowledge = 8,
    kFifoBlock = 0xC,
    kFifoBlockPiece = 0xF,
};

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

uint64_t loadItem(const uint8_t* p, unsigned bytes) {
    uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i) {
        v |= uint64_t(p[i]) << (8 * i);
    }
    return v;
}

uint64_t swapBytes(uint64_t v, unsigned bytes) {
    uint64_t r = 0;
    for (unsigned i = 0; i < bytes; ++i) {
        r = r << 8 | ((v >> (8 * i)) & 0xFF);
    }
    return r;
}

}  // namespace

class Bridge::Reader {
  public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool atEnd() const { return pos_ == bytes_.size(); }
    bool u16(uint16_t& v) {
        uint64_t x;
        return bytes(2, x) && (v = uint16_t(x), true);
    }
    bool u32(uint32_t& v) {
        uint64_t x;
        return bytes(4, x) && (v = uint32_t(x), true);
    }
    // `n` bytes (n <= 8) as a little-endian number.
    bool bytes(size_t n, uint64_t& v) {
        if (bytes_.size() - pos_ < n) {
            return false;
        }
        v = 0;
        for (size_t i = 0; i < n; ++i) {
            v |= uint64_t(bytes_[pos_ + i]) << (8 * i);
        }
        pos_ += n;
        return true;
    }
    const uint8_t* take(size_t n) {
        if (bytes_.size() - pos_ < n) {
            return nullptr;
        }
        const uint8_t* p = bytes_.data() + pos_;
        pos_ += n;
        return p;
    }

  private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

struct Bridge::Operation {
    explicit Operation(uint16_t command)
        : code(command & 0xF),
          am((command >> 8) & 0x3F),
          bytes(1u << ((command >> 4) & 3)),
          read((command & kReadDirection) != 0),
          swap((command & kByteSwap) != 0),
          last((command & kLastOperation) != 0) {}
    unsigned code;
    uint32_t am;
    unsigned bytes;
    bool read;
    bool swap;
    bool last;
};

Bridge::Bridge(VmeBus& bus, std::string flashPath)
    : bus_(bus), flash_(std::move(flashPath)), registers_(bus, flash_) {
    observer_ = bus_.addObserver([this](const BusCycle& cycle) { registers_.monitor(cycle); });
}

Bridge::~Bridge() {
    bus_.removeObserver(observer_);
}

std::optional<std::vector<uint8_t>> Bridge::process(std::span<const uint8_t> request) {
    std::lock_guard lock(mutex_);
    ++requests_;
    Reader in(request);
    std::vector<uint8_t> out;
    uint16_t status = 0;
    bool replies = false;
    bool ok = true;
    while (ok && !in.atEnd()) {
        uint16_t command = 0;
        ok = in.u16(command);
        if (!ok) {
            break;
        }
        if (command & kVmeOperation) {
            bool stop = false;
            replies = true;
            ok = runVme(in, command, out, status, stop);
            if (stop) {
                // A bus error inside a block transfer ends the whole request there.
                put16(out, status);
                return out;
            }
        } else {
            ok = runRegister(in, command, out, replies);
            if (replies) {
                status = 0;
            }
        }
        if (ok && (command & kLastOperation) && !in.atEnd()) {
            ok = false;  // bytes after the operation marked last
        }
        if (command & kLastOperation) {
            break;
        }
    }
    if (!ok) {
        ++malformed_;
        return std::nullopt;
    }
    if (replies) {
        put16(out, status);
    }
    return out;
}

bool Bridge::runRegister(Reader& in, uint16_t command, std::vector<uint8_t>& out, bool& replies) {
    unsigned reg = command & 0x7F;
    bool last = (command & kLastOperation) != 0;
    if (command & kReadDirection) {
        replies = true;
        for (unsigned i = 0, n = last ? 1 : kBurstReads; i < n; ++i) {
            put16(out, registers_.read(reg));
        }
        return true;
    }
    if (last) {
        uint16_t value;
        if (!in.u16(value)) {
            return false;
        }
        registers_.write(reg, value);
        return true;
    }
    // Without the last-operation bit a register write streams bytes: one per word, bit 8 set
    // while more follow (how the flash gets its commands in one transfer).
    for (;;) {
        uint16_t word;
        if (!in.u16(word)) {
            return false;
        }
        registers_.write(reg, word & 0xFF);
        if (!(word & kMoreBytes)) {
            return true;
        }
    }
}

bool Bridge::runVme(Reader& in, uint16_t command, std::vector<uint8_t>& out, uint16_t& status,
                    bool& stop) {
    Operation op(command);
    bool busError = false;
    switch (op.code) {
        case kSingle:
        case kReadModifyWrite:
        case kAddressOnly:
        case kAddressOnlyHandshake:
        case kInterruptAcknowledge:
            if (!runSingle(in, op, out, busError)) {
                return false;
            }
            status = busError ? kStatusBusError : 0;
            // Entries of a list carry their own status; the last one's is the request's.
            if (!op.last) {
                put16(out, status);
            }
            return true;
        case kBlock:
        case kFifoBlock:
        case kBlockPiece:
        case kFifoBlockPiece:
            if (!runBlock(in, op, out, busError)) {
                return false;
            }
            status = busError ? kStatusBusError : 0;
            stop = busError;
            return true;
        default:
            return false;
    }
}

bool Bridge::runSingle(Reader& in, const Operation& op, std::vector<uint8_t>& out, bool& busError) {
    uint32_t address;
    if (!in.u32(address)) {
        return false;
    }
    if (op.code == kAddressOnly || op.code == kAddressOnlyHandshake) {
        busError = !bus_.addressOnly(address, op.am, op.code == kAddressOnlyHandshake);
        show(BusCycle::Kind::AddressOnly, address, op, 0, busError);
        return true;
    }

    // D8 travels in a 16-bit field: an even address in the second byte, an odd one in the first.
    const bool d8 = op.bytes == 1;
    const unsigned fieldBytes = d8 ? 2 : op.bytes;
    const unsigned d8Shift = (address & 1) ? 0 : 8;
    // The value a write or a read-modify-write carries, taken out of its field.
    auto takeValue = [&](uint64_t& value) {
        uint64_t field;
        if (!in.bytes(fieldBytes, field)) {
            return false;
        }
        value = d8 ? (field >> d8Shift) & 0xFF : field;
        if (op.swap) {
            value = swapBytes(value, op.bytes);
        }
        return true;
    };

    uint64_t value = 0;
    if (op.code == kSingle && !op.read) {
        if (!takeValue(value)) {
            return false;
        }
        busError = !bus_.write(address, op.am, op.bytes, value);
        show(BusCycle::Kind::Write, address, op, value, busError);
        return true;
    }

    BusCycle::Kind kind = BusCycle::Kind::Read;
    if (op.code == kSingle) {
        busError = !bus_.read(address, op.am, op.bytes, value);
    } else if (op.code == kReadModifyWrite) {
        if (!takeValue(value)) {
            return false;
        }
        busError = !bus_.readModifyWrite(address, op.am, op.bytes, value);
        kind = BusCycle::Kind::ReadModifyWrite;
    } else {
        // Interrupt acknowledge: the address field holds twice the level.
        uint32_t vector = 0;
        bool wellFormed = (address & ~0xEu) == 0 && address != 0;
        busError = !wellFormed || !bus_.acknowledge(address >> 1, vector);
        value = vector & (op.bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * op.bytes)) - 1);
        kind = BusCycle::Kind::InterruptAcknowledge;
    }
    if (kind != BusCycle::Kind::InterruptAcknowledge) {
        show(kind, address, op, value, busError);
    } else {
        BusCycle cycle{kind, address, 0, op.bytes, value, busError};
        registers_.show(cycle);
    }
    if (op.swap) {
        value = swapBytes(value, op.bytes);
    }
    uint64_t field = d8 ? (value & 0xFF) << d8Shift : value;
    for (unsigned i = 0; i < fieldBytes; ++i) {
        out.push_back(uint8_t(field >> (8 * i)));
    }
    return true;
}

bool Bridge::runBlock(Reader& in, const Operation& op, std::vector<uint8_t>& out, bool& busError) {
    uint16_t items;
    uint32_t address;
    if (!in.u16(items) || !in.u32(address)) {
        return false;
    }
    const bool keep = op.code == kFifoBlock || op.code == kFifoBlockPiece || registers_.fifoMode();
    const size_t length = size_t(items) * op.bytes;

    if (op.read) {
        size_t start = out.size();
        if (start + length > kMaxReply) {
            return false;
        }
        out.resize(start + length);
        uint8_t* data = out.data() + start;
        size_t done = bus_.blockRead(address, op.am, op.bytes, items, keep, data);
        out.resize(start + done * op.bytes);
        if (op.swap) {
            for (size_t i = 0; i < done; ++i) {
                std::reverse(data + i * op.bytes, data + (i + 1) * op.bytes);
            }
        }
        busError = done < items;
        showBlock(BusCycle::Kind::Read, address, keep, op, data, done, busError);
        return true;
    }

    const uint8_t* source = in.take(length);
    if (!source) {
        return false;
    }
    std::vector<uint8_t> swapped;
    if (op.swap) {
        swapped.assign(source, source + length);
        for (size_t i = 0; i < items; ++i) {
            std::reverse(swapped.begin() + i * op.bytes, swapped.begin() + (i + 1) * op.bytes);
        }
        source = swapped.data();
    }
    size_t done = bus_.blockWrite(address, op.am, op.bytes, items, keep, source);
    busError = done < items;
    put16(out, uint16_t(done));
    showBlock(BusCycle::Kind::Write, address, keep, op, source, done, busError);
    return true;
}

void Bridge::show(BusCycle::Kind kind, uint32_t address, const Operation& op, uint64_t data,
                  bool busError) {
    registers_.show(
        {kind, address, op.am, kind == BusCycle::Kind::AddressOnly ? 0 : op.bytes, data, busError});
}

void Bridge::showBlock(BusCycle::Kind kind, uint32_t address, bool keep, const Operation& op,
                       const uint8_t* data, size_t done, bool busError) {
    // The display keeps the item that failed, or else the last one moved.
    if (done == 0 && !busError) {
        return;
    }
    size_t index = busError ? done : done - 1;
    uint32_t at = keep ? address : address + uint32_t(index * op.bytes);
    uint64_t item = done > 0 && !busError ? loadItem(data + index * op.bytes, op.bytes) : 0;
    show(kind, at, op, item, busError);
}

void Bridge::addStats(std::map<std::string, uint64_t>& counts) const {
    std::lock_guard lock(mutex_);
    counts["requests"] += requests_;
    counts["malformed_requests"] += malformed_;
    registers_.addStats(counts);
}

}  // namespace vmesim
