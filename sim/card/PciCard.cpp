#include "card/PciCard.h"

#include <algorithm>
#include <chrono>

namespace vmesim {

namespace {

// Local addresses of the card's registers and ports.
constexpr uint32_t kTransmitPort = 0x00;
constexpr uint32_t kLinkControl = 0x08;
constexpr uint32_t kFlashData = 0x10;
constexpr uint32_t kFlashEnable = 0x14;
constexpr uint32_t kReceiveWords = 0x18;
constexpr uint32_t kFirmware = 0x1C;
constexpr uint32_t kPendingLow = 0x24;
constexpr uint32_t kPendingHigh = 0x28;
constexpr uint32_t kInterruptClear = 0xA0;
constexpr uint32_t kInterruptSet = 0xA4;

// Bits of the interrupt control register, and of register 8.
constexpr uint32_t kLinkReset = 0x1;
constexpr uint32_t kReplyInterrupt = 0x2;
constexpr uint32_t kVmeInterrupt = 0x8;
constexpr uint32_t kToLinkDevice = 0x4;

constexpr uint32_t kReceivePort = 0;
constexpr uint32_t kDmaChannels = 4;

// Level changes of the stations are not announced to the card, so waiters look again this often.
constexpr auto kPollInterval = std::chrono::milliseconds(5);

}  // namespace

PciCard::PciCard(int link) : link_(link) {}

PciCard::~PciCard() {
    shutdown();
}

void PciCard::attachBridge(uint8_t board, LinkStation* station) {
    std::lock_guard lock(mutex_);
    bridges_[board] = station;
}

void PciCard::attachLinkDevice(LinkStation* station) {
    std::lock_guard lock(mutex_);
    linkDevice_ = station;
}

PciCard::Status PciCard::configRead(uint16_t offset, uint32_t& value) const {
    switch (offset) {
        case 0x00:
            value = static_cast<uint32_t>(kDeviceId) << 16 | kVendorId;
            break;
        case 0x2C:
            value = static_cast<uint32_t>(kSubsystemId) << 16 | kVendorId;
            break;
        default:
            if (offset >= 0x100 || offset % 4 != 0) {
                return kFailed;
            }
            value = 0;
    }
    return kSuccess;
}

uint32_t PciCard::open() {
    std::lock_guard lock(mutex_);
    uint32_t id = nextOpener_++;
    openers_[id];
    return id;
}

void PciCard::close(uint32_t opener) {
    std::lock_guard lock(mutex_);
    openers_.erase(opener);
    std::erase_if(dmaChannels_, [&](const auto& entry) { return entry.second == opener; });
    changed_.notify_all();
}

void PciCard::shutdown() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
}

PciCard::Opener* PciCard::find(uint32_t opener) {
    auto it = openers_.find(opener);
    return it == openers_.end() ? nullptr : &it->second;
}

PciCard::Status PciCard::iopWrite(uint32_t opener, uint32_t space, uint32_t address,
                                  uint32_t value) {
    std::unique_lock lock(mutex_);
    Opener* o = find(opener);
    if (o == nullptr) {
        return kInvalidHandle;
    }
    if (space != 0) {
        return kFailed;
    }
    if (address == kTransmitPort) {
        writeTransmitPort(lock, opener, *o, value);
    } else {
        writeRegister(*o, address, value);
    }
    changed_.notify_all();
    return kSuccess;
}

PciCard::Status PciCard::iopRead(uint32_t opener, uint32_t space, uint32_t address,
                                 uint32_t& value) {
    std::lock_guard lock(mutex_);
    releaseLateReplies();
    Opener* o = find(opener);
    if (o == nullptr) {
        return kInvalidHandle;
    }
    if (space != 0) {
        return kFailed;
    }
    value = address == kReceiveWords ? static_cast<uint32_t>(wordsWaiting(*o)) << 16
                                     : readRegister(address);
    return kSuccess;
}

uint32_t PciCard::readRegister(uint32_t address) {
    switch (address) {
        case kFirmware:
            return kFirmwareRelease;
        case kFlashData:
            return flash_.readByte();
        case kPendingLow:
            return pendingLevels(0);
        case kPendingHigh:
            return pendingLevels(4);
        case kInterruptClear:
        case kInterruptSet:
            return interruptControl_;
        default:
            return registers_[address];
    }
}

void PciCard::writeRegister(Opener& o, uint32_t address, uint32_t value) {
    switch (address) {
        case kFirmware:
        case kReceiveWords:
        case kPendingLow:
        case kPendingHigh:
            return;
        case kFlashData:
            flash_.writeByte(static_cast<uint8_t>(value));
            return;
        case kFlashEnable:
            flash_.select(value & 1);
            registers_[address] = value;
            return;
        case kInterruptClear:
            interruptControl_ &= ~value;
            return;
        case kInterruptSet:
            interruptControl_ |= value;
            if (value & kLinkReset) {
                // A link reset loses what this opener had in flight on the link.
                o.transmit.clear();
                o.transmitting = false;
                o.packets.clear();
                o.frontOffset = 0;
            }
            return;
        default:
            registers_[address] = value;
    }
}

uint32_t PciCard::pendingLevels(unsigned firstBoard) {
    uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i) {
        auto it = bridges_.find(static_cast<uint8_t>(firstBoard + i));
        if (it != bridges_.end()) {
            value |= static_cast<uint32_t>(it->second->pendingInterrupts() & 0x7F) << (8 * i);
        }
    }
    return value;
}

void PciCard::writeTransmitPort(std::unique_lock<std::mutex>& lock, uint32_t openerId, Opener& o,
                                uint32_t value) {
    if (!o.transmitting) {
        // Header word: request length in 16-bit items, then the board number (twice).
        o.transmitItems = static_cast<uint16_t>(value & 0xFFFF);
        o.transmitBoard = static_cast<uint8_t>(value >> 16);
        o.transmitWords = (o.transmitItems * 2u + 3u) / 4u;
        o.transmitToLinkDevice = (registers_[kLinkControl] & kToLinkDevice) != 0;
        o.transmit.clear();
        o.transmitting = o.transmitWords > 0;
        return;
    }
    o.transmit.push_back(value);
    if (o.transmit.size() < o.transmitWords) {
        return;
    }
    std::vector<uint8_t> request;
    request.reserve(o.transmit.size() * 4);
    for (uint32_t word : o.transmit) {
        for (int shift = 0; shift < 32; shift += 8) {
            request.push_back(static_cast<uint8_t>(word >> shift));
        }
    }
    request.resize(o.transmitItems * 2u);
    o.transmitting = false;
    o.transmit.clear();
    deliver(lock, openerId, o.transmitBoard, o.transmitToLinkDevice, std::move(request));
}

void PciCard::deliver(std::unique_lock<std::mutex>& lock, uint32_t openerId, uint8_t board,
                      bool toLinkDevice, std::vector<uint8_t> request) {
    LinkStation* station = linkDevice_;
    if (!toLinkDevice) {
        auto it = bridges_.find(board);
        station = it == bridges_.end() ? nullptr : it->second;
    }
    if (station == nullptr) {
        return;  // nobody on the link answers: the request is lost
    }
    // The station runs its VME cycles without the card's lock, so other openers carry on.
    lock.unlock();
    std::vector<uint8_t> reply = station->exchange(request);
    lock.lock();
    if (reply.empty()) {
        if (trace_) {
            trace_(request, reply);
        }
        return;
    }
    ++repliesSeen_;
    if (repliesSeen_ >= dropFirst_ && repliesSeen_ < dropEnd_) {
        if (trace_) {
            trace_(request, {});
        }
        return;
    }
    if (trace_) {
        trace_(request, reply);
    }
    if (delayCount_ > 0) {
        --delayCount_;
        late_.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs_),
                         openerId, board, std::move(reply)});
        return;
    }
    if (Opener* o = find(openerId)) {
        queueReply(*o, board, reply);
    }
}

void PciCard::releaseLateReplies() {
    auto now = std::chrono::steady_clock::now();
    std::erase_if(late_, [&](LateReply& late) {
        if (late.due > now) {
            return false;
        }
        if (Opener* o = find(late.opener)) {
            queueReply(*o, late.board, late.reply);
            changed_.notify_all();
        }
        return true;
    });
}

void PciCard::queueReply(Opener& o, uint8_t board, const std::vector<uint8_t>& reply) {
    if (reply.size() < 2) {
        return;
    }
    // Items are 16 bits; an odd data length (a D8 block) is padded with one zero byte before
    // the status word so that the status word stays the reply's last item.
    std::vector<uint8_t> bytes(reply.begin(), reply.end() - 2);
    if (bytes.size() % 2 != 0) {
        bytes.push_back(0);
    }
    bytes.insert(bytes.end(), reply.end() - 2, reply.end());
    size_t items = bytes.size() / 2;
    for (size_t first = 0; first < items; first += kPacketItems) {
        size_t n = std::min(kPacketItems, items - first);
        bool last = first + n == items;
        std::vector<uint32_t> packet;
        packet.push_back(static_cast<uint32_t>(n) | (last ? 0x200u : 0u) |
                         static_cast<uint32_t>(board & 0x0F) << 24);
        for (size_t i = 0; i < n; i += 2) {
            const uint8_t* p = &bytes[(first + i) * 2];
            uint32_t word = p[0] | p[1] << 8;
            if (i + 1 < n) {
                word |= static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
            }
            packet.push_back(word);
        }
        o.packets.push_back(std::move(packet));
    }
}

size_t PciCard::wordsWaiting(const Opener& o) const {
    // The FIFO shows whole packets only, and no more than it holds.
    size_t words = 0;
    size_t offset = o.frontOffset;
    for (const auto& packet : o.packets) {
        size_t size = packet.size() - offset;
        offset = 0;
        if (words + size > kFifoWords) {
            break;
        }
        words += size;
    }
    return words;
}

PciCard::Status PciCard::dmaOpen(uint32_t opener, uint32_t channel) {
    std::lock_guard lock(mutex_);
    if (find(opener) == nullptr) {
        return kInvalidHandle;
    }
    if (channel >= kDmaChannels) {
        return kFailed;
    }
    if (dmaChannels_.count(channel) != 0) {
        return kChannelUnavailable;
    }
    dmaChannels_[channel] = opener;
    return kSuccess;
}

PciCard::Status PciCard::dmaTransfer(uint32_t opener, uint32_t channel, uint32_t localAddress,
                                     uint32_t bytes, std::vector<uint8_t>& out) {
    std::lock_guard lock(mutex_);
    Opener* o = find(opener);
    if (o == nullptr) {
        return kInvalidHandle;
    }
    if (dmaChannels_.count(channel) == 0 || localAddress != kReceivePort || bytes % 4 != 0) {
        return kFailed;
    }
    out.clear();
    size_t words = bytes / 4;
    while (words > 0 && !o->packets.empty()) {
        auto& packet = o->packets.front();
        size_t take = std::min(words, packet.size() - o->frontOffset);
        for (size_t i = 0; i < take; ++i) {
            uint32_t word = packet[o->frontOffset + i];
            for (int shift = 0; shift < 32; shift += 8) {
                out.push_back(static_cast<uint8_t>(word >> shift));
            }
        }
        words -= take;
        o->frontOffset += take;
        if (o->frontOffset == packet.size()) {
            o->packets.pop_front();
            o->frontOffset = 0;
        }
    }
    changed_.notify_all();
    return kSuccess;
}

template <typename Change>
PciCard::Status PciCard::changeOpener(uint32_t opener, Change change) {
    std::lock_guard lock(mutex_);
    Opener* o = find(opener);
    if (o == nullptr) {
        return kInvalidHandle;
    }
    change(*o);
    changed_.notify_all();
    return kSuccess;
}

PciCard::Status PciCard::registerNotification(uint32_t opener, uint32_t sources) {
    return changeOpener(opener,
                        [&](Opener& o) { o.notifyRegistered = (sources & kLocalInterrupt) != 0; });
}

PciCard::Status PciCard::cancelNotification(uint32_t opener) {
    return changeOpener(opener, [](Opener& o) {
        o.notifyRegistered = false;
        ++o.cancelled;
    });
}

PciCard::Status PciCard::enableInterrupts(uint32_t opener, uint32_t sources) {
    return changeOpener(opener, [&](Opener& o) {
        o.interruptEnabled = (sources & kLocalInterrupt) != 0;
        o.latched = 0;
    });
}

PciCard::Status PciCard::interruptStatus(uint32_t opener, uint32_t& sources) {
    std::lock_guard lock(mutex_);
    Opener* o = find(opener);
    if (o == nullptr) {
        return kInvalidHandle;
    }
    sources = o->latched;
    return kSuccess;
}

bool PciCard::lineAsserted(Opener& o) {
    if ((interruptControl_ & kReplyInterrupt) && !o.packets.empty()) {
        return true;
    }
    return (interruptControl_ & kVmeInterrupt) && (pendingLevels(0) | pendingLevels(4)) != 0;
}

PciCard::Status PciCard::waitNotification(uint32_t opener, uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    Opener* o = find(opener);
    if (o == nullptr) {
        return kInvalidHandle;
    }
    if (!o->notifyRegistered) {
        return kFailed;
    }
    const uint64_t fired = o->fired;
    const uint64_t cancelled = o->cancelled;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        releaseLateReplies();
        o = find(opener);
        if (o == nullptr || stopping_ || o->cancelled != cancelled) {
            return kWaitCanceled;
        }
        if (o->fired != fired) {
            return kSuccess;  // another waiter of this opener took the same interrupt
        }
        if (o->interruptEnabled && lineAsserted(*o)) {
            // Like the driver: the interrupt is latched and stays off until re-enabled.
            o->interruptEnabled = false;
            o->latched |= kLocalInterrupt;
            ++o->fired;
            changed_.notify_all();
            return kSuccess;
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return kWaitTimeout;
        }
        changed_.wait_until(lock, std::min(deadline, now + kPollInterval));
    }
}

void PciCard::dropNextReplies(uint32_t count) {
    std::lock_guard lock(mutex_);
    dropFirst_ = repliesSeen_ + 1;
    dropEnd_ = dropFirst_ + count;
}

void PciCard::delayNextReplies(uint32_t count, uint32_t ms) {
    std::lock_guard lock(mutex_);
    delayCount_ = count;
    delayMs_ = ms;
}

void PciCard::dropReplies(uint64_t first, uint32_t count) {
    std::lock_guard lock(mutex_);
    dropFirst_ = first;
    dropEnd_ = first + count;
}

bool PciCard::raiseInterrupt(uint8_t board, uint8_t level) {
    LinkStation* station = nullptr;
    {
        std::lock_guard lock(mutex_);
        auto it = bridges_.find(board);
        station = it == bridges_.end() ? nullptr : it->second;
    }
    bool raised = station != nullptr && station->raiseInterrupt(level);
    std::lock_guard lock(mutex_);
    changed_.notify_all();
    return raised;
}

}  // namespace vmesim
