#include "CardTable.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "CardTransport.h"
#include "KOVRAVMElib.h"

namespace kovravme {

namespace {

constexpr uint16_t kDeviceId = 0x9054;
constexpr uint16_t kVendorId = 0x10B5;
constexpr uint32_t kRequestLimit = 80001;
constexpr uint16_t kSubsystemRegister = 0x2C;
constexpr uint32_t kSubsystemId = 0x3057;
constexpr uint32_t kDmaChannel = 3;
constexpr uint32_t kLinkReset = 1;

}  // namespace

CardTable& CardTable::instance() {
    static CardTable table;
    return table;
}

CardRecord* CardTable::openCard(int16_t link) {
    for (CardRecord& card : cards_) {
        if (card.link == link) {
            return &card;
        }
    }
    CardRecord* card = nullptr;
    for (CardRecord& candidate : cards_) {
        if (candidate.link == -1) {
            card = &candidate;
            break;
        }
    }
    if (card == nullptr) {
        return nullptr;
    }
    // Taken before anything is opened, so that running out of memory leaves no card open.
    std::vector<uint8_t> receiveArea(kReceiveAreaBytes, 0);

    plx::DeviceLocation location;
    location.busNumber = 0xFF;
    location.slotNumber = 0xFF;
    location.deviceId = kDeviceId;
    location.vendorId = kVendorId;
    std::snprintf(location.serialNumber, sizeof(location.serialNumber), "Pci9054-%d", link);
    uint32_t limit = kRequestLimit;
    if (plx::PlxPciDeviceFind(&location, &limit) != plx::kApiSuccess) {
        return nullptr;
    }
    plx::DeviceHandle device = nullptr;
    if (plx::PlxPciDeviceOpen(&location, &device) != plx::kApiSuccess) {
        return nullptr;
    }
    auto fail = [&] {
        plx::PlxPciDeviceClose(device);
        return nullptr;
    };

    plx::Status status = 0;
    uint32_t subsystem = plx::PlxPciConfigRegisterRead(location.busNumber, location.slotNumber,
                                                       kSubsystemRegister, &status);
    if (status != plx::kApiSuccess || subsystem >> 16 != kSubsystemId) {
        return fail();
    }

    card->dmaDescriptor.mode = (card->dmaDescriptor.mode & 0x80884077) | 0x00884077;
    card->dmaDescriptor.next &= ~0xFu;
    card->dmaDescriptor.reserved = 0;
    plx::Status dma = plx::PlxDmaSglChannelOpen(device, kDmaChannel, &card->dmaDescriptor);
    if (dma != plx::kApiSuccess && dma != plx::kApiDmaChannelUnavailable) {
        return fail();
    }

    if (!writeCardRegister(device, kInterruptSetRegister, kLinkReset)) {
        return fail();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!writeCardRegister(device, kInterruptClearRegister, kLinkReset)) {
        return fail();
    }

    plx::InterruptRecord notifyOn{0x00800080, 0};
    plx::PlxNotificationRegisterFor(device, &notifyOn, &notify_);
    plx::PlxIntrEnable(device, &kArmRecord);

    card->link = link;
    card->device = device;
    card->receiveArea = std::move(receiveArea);
    card->lastDmaBytes = 0;
    return card;
}

CardHandle* CardTable::attach(int index, int32_t boardType, int16_t link, int16_t boardNumber,
                              bool receivesReplies) {
    if (index < 0 || index >= kCardCount) {
        return nullptr;
    }
    std::lock_guard guard(mutex_);
    CardRecord* card = openCard(link);
    if (card == nullptr) {
        return nullptr;
    }
    BridgeLock* cardLock = BridgeLock::named(BridgeLock::cardLockName(boardType, link));
    if (cardLock == nullptr) {
        return nullptr;
    }
    CardHandle& handle = handles_[index];
    {
        std::lock_guard receive(replyMutex_);
        handle = CardHandle{};
        handle.boardType = boardType;
        handle.link = link;
        handle.boardNumber = boardNumber;
        handle.receivesReplies = receivesReplies;
        handle.card = card;
        handle.cardLock = cardLock;
        handle.inUse = true;
    }
    writeCardRegister(card->device, kInterruptSetRegister, kReplyInterrupt);
    return &handle;
}

void CardTable::detach(int index) {
    if (index < 0 || index >= kCardCount) {
        return;
    }
    std::lock_guard guard(mutex_);
    CardHandle& handle = handles_[index];
    if (!handle.inUse) {
        return;
    }
    CardRecord* card = handle.card;
    int users = 0;
    for (const CardHandle& other : handles_) {
        users += other.inUse && other.card == card;
    }
    {
        std::lock_guard receive(replyMutex_);
        handle = CardHandle{};
    }
    if (users == 1) {
        plx::PlxNotificationCancel(card->device, &notify_);
        plx::PlxPciDeviceClose(card->device);
        card->device = nullptr;
        card->receiveArea.clear();
        card->receiveArea.shrink_to_fit();
        card->link = -1;
    }
}

CardHandle* CardTable::receiverFor(const CardRecord& card, unsigned board) {
    // An exchange waiting for its reply is the one it belongs to; a LinkDevice and an
    // OpticalBridge handle may carry the same board number.
    CardHandle* idle = nullptr;
    for (CardHandle& handle : handles_) {
        if (!handle.inUse || handle.card != &card || !handle.receivesReplies ||
            handle.boardNumber < 0 || static_cast<unsigned>(handle.boardNumber) != board) {
            continue;
        }
        if (handle.replyBuffer != nullptr) {
            return &handle;
        }
        if (idle == nullptr) {
            idle = &handle;
        }
    }
    return idle;
}

void CardTable::dispatch(CardRecord& card, size_t bytes) {
    const uint8_t* area = card.receiveArea.data();
    size_t at = 0;
    while (at + 4 <= bytes) {
        uint32_t header;
        std::memcpy(&header, area + at, 4);
        size_t items = header & 0x1FF;
        bool last = (header & 0x200) != 0;
        unsigned board = (header >> 24) & 0x0F;
        size_t packetBytes = 4 + (items + 1) / 2 * 4;
        if (at + packetBytes > bytes) {
            break;  // a packet cut short by the transfer carries nothing trustworthy
        }
        const uint8_t* data = area + at + 4;
        at += packetBytes;
        CardHandle* handle = receiverFor(card, board);
        if (handle == nullptr || handle->replyBuffer == nullptr) {
            continue;  // nobody waits for it
        }
        size_t dataItems = last && items > 0 ? items - 1 : items;
        size_t room = handle->replySize - static_cast<size_t>(handle->replyCount);
        size_t copy = std::min(dataItems * 2, room);
        std::memcpy(handle->replyBuffer + handle->replyCount, data, copy);
        handle->replyCount += static_cast<int32_t>(copy);
        if (last && items > 0) {
            handle->replyStatus =
                static_cast<uint16_t>(data[dataItems * 2] | data[dataItems * 2 + 1] << 8);
            handle->replyEvent = true;
        }
    }
}

}  // namespace kovravme
