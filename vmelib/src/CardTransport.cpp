#include "CardTransport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace kovravme {

namespace {

constexpr uint32_t kDmaChannel = 3;
constexpr uint32_t kWaitSliceMs = 100;
constexpr uint32_t kWordsPresent = 0x10000;

// Time limits are counted in whole seconds, so a limit of T ms
// ends somewhere between T and T + 1000 ms.
int64_t wholeSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

bool limitPassed(int64_t start, uint32_t limitMs) {
    return (wholeSeconds() - start) * 1000 > static_cast<int64_t>(limitMs);
}

// The DMA channel is the card's, not the opener's: when another opener had it as this one opened
// the card, the channel goes when that opener closes (another process's End, or this process's
// previous opening whose close the card handles only after this one opened). A transfer refused
// then is tried once more after opening the channel for this opener.
bool dmaTransfer(CardRecord& card, const plx::DmaTransferElement& element) {
    if (plx::PlxDmaSglTransfer(card.device, kDmaChannel, &element, false) == plx::kApiSuccess) {
        return true;
    }
    plx::Status reopened = plx::PlxDmaSglChannelOpen(card.device, kDmaChannel, &card.dmaDescriptor);
    return reopened == plx::kApiSuccess &&
           plx::PlxDmaSglTransfer(card.device, kDmaChannel, &element, false) == plx::kApiSuccess;
}

// Moves every packet waiting in the card into the receive area and hands it out. Caller holds
// the table's reply mutex.
void drainReceiveLocked(CardRecord& card) {
    CardTable& table = CardTable::instance();
    uint32_t waiting = 0;
    while (readCardRegister(card.device, kReceiveWordsRegister, waiting) &&
           waiting >= kWordsPresent) {
        // Never more than the area holds, whatever the card claims.
        uint32_t bytes =
            std::min<uint32_t>((waiting >> 16) * 4, static_cast<uint32_t>(card.receiveArea.size()));
        plx::DmaTransferElement element;
        element.userAddress = card.receiveArea.data();
        element.pciAddress = 0;
        element.localAddress = 0;
        element.localBusWidth = 4;
        element.transferCount = bytes;
        element.flags |= 0x3;
        if (!dmaTransfer(card, element)) {
            return;
        }
        card.lastDmaBytes = bytes;
        table.dispatch(card, bytes);
    }
}

void drainReceive(CardRecord& card) {
    std::lock_guard guard(CardTable::instance().replyMutex());
    drainReceiveLocked(card);
}

// True once the handle's reply is complete; consumes the event, as waiting on it would.
bool takeReplyEvent(CardHandle& handle) {
    std::lock_guard guard(CardTable::instance().replyMutex());
    bool set = handle.replyEvent;
    handle.replyEvent = false;
    return set;
}

bool waitForReply(CardHandle& handle, uint32_t limitMs) {
    if (takeReplyEvent(handle)) {
        return true;
    }
    CardRecord& card = *handle.card;
    plx::NotifyObject& notify = CardTable::instance().notifyObject();
    int64_t start = wholeSeconds();
    for (;;) {
        if (limitPassed(start, limitMs)) {
            return false;
        }
        plx::Status status = plx::PlxNotificationWait(card.device, &notify, kWaitSliceMs);
        writeCardRegister(card.device, kInterruptClearRegister, kReplyInterrupt);
        if (status == plx::kApiSuccess) {
            plx::InterruptRecord seen;
            if (plx::PlxIntrStatusGet(card.device, &seen) == plx::kApiSuccess &&
                (seen.sources & plx::kLocalInterrupt)) {
                drainReceive(card);
            }
            plx::PlxIntrEnable(card.device, &kArmRecord);
        } else if (status != plx::kApiWaitTimeout) {
            plx::PlxIntrEnable(card.device, &kArmRecord);
            writeCardRegister(card.device, kInterruptSetRegister, kReplyInterrupt);
            return false;
        }
        writeCardRegister(card.device, kInterruptSetRegister, kReplyInterrupt);
        if (takeReplyEvent(handle)) {
            return true;
        }
    }
}

// The handle stops taking reply data: a reply that arrives after its exchange gave up must not
// land in a buffer its caller has long reused.
void endReply(CardHandle& handle) {
    std::lock_guard guard(CardTable::instance().replyMutex());
    handle.replyBuffer = nullptr;
    handle.replySize = 0;
}

}  // namespace

bool writeCardRegister(plx::DeviceHandle device, uint32_t address, uint32_t value) {
    return plx::PlxBusIopWrite(device, plx::kIopSpace0, address, true, &value, sizeof(value),
                               plx::AccessType::Bits32) == plx::kApiSuccess;
}

bool readCardRegister(plx::DeviceHandle device, uint32_t address, uint32_t& value) {
    return plx::PlxBusIopRead(device, plx::kIopSpace0, address, true, &value, sizeof(value),
                              plx::AccessType::Bits32) == plx::kApiSuccess;
}

int cardSend(CardHandle& handle, const uint8_t* request, size_t n) {
    if (n == 0) {
        return 0;
    }
    plx::DeviceHandle device = handle.card->device;
    uint32_t board = static_cast<uint8_t>(handle.boardNumber);
    uint32_t header = static_cast<uint32_t>((n + 1) / 2) | board << 16 | board << 24;
    if (!writeCardRegister(device, kTransmitPort, header)) {
        return -1;
    }
    for (size_t at = 0; at < n; at += 4) {
        uint32_t word = 0;
        std::memcpy(&word, request + at, std::min<size_t>(4, n - at));  // zero-padded
        if (!writeCardRegister(device, kTransmitPort, word)) {
            return -1;
        }
    }
    return static_cast<int>(n);
}

int cardExchange(CardHandle& handle, const uint8_t* request, size_t length, void* reply,
                 size_t replySize, uint16_t* status) {
    CardRecord& card = *handle.card;
    {
        std::lock_guard guard(CardTable::instance().replyMutex());
        // Replies have no sequence number: one that came after its exchange gave up would be
        // taken for this exchange's. Whatever waits in the card now is handed out (or dropped)
        // before this handle starts to take replies.
        drainReceiveLocked(card);
        handle.replyBuffer = replySize > 0 ? static_cast<uint8_t*>(reply) : nullptr;
        handle.replySize = replySize;
        handle.replyCount = 0;
        // A late reply to an exchange that gave up must not complete this one at once.
        handle.replyEvent = false;
    }
    int sent = -1;
    {
        std::lock_guard route(card.routeMutex);
        if (handle.cardLock->lock()) {
            sent = cardSend(handle, request, length);
            handle.cardLock->unlock();
        }
    }
    if (sent != static_cast<int>(length)) {
        endReply(handle);
        return -1;
    }
    if (replySize < 1) {
        endReply(handle);
        return sent;
    }
    bool answered = waitForReply(handle, kReplyLimitMs);
    endReply(handle);
    if (!answered) {
        return -1;
    }
    std::lock_guard guard(CardTable::instance().replyMutex());
    if (status != nullptr) {
        *status = handle.replyStatus;
    }
    return handle.replyCount < 0 ? -1 : handle.replyCount;
}

bool throughLinkDevice(CardHandle& handle, const std::function<bool()>& work) {
    CardRecord& card = *handle.card;
    std::lock_guard route(card.routeMutex);
    uint32_t control = 0;
    if (!readCardRegister(card.device, kLinkControlRegister, control) ||
        !writeCardRegister(card.device, kLinkControlRegister, control | kLinkDeviceRoute)) {
        return false;
    }
    bool done = work();
    bool cleared =
        writeCardRegister(card.device, kLinkControlRegister, control & ~kLinkDeviceRoute);
    return done && cleared;
}

namespace {

// Returns with the handle lock held unless `held` says that taking it back failed.
ErrorCode waitForInterrupt(CardHandle& handle, BridgeLock& handleLock, uint32_t timeoutMs,
                           bool& held) {
    CardRecord& card = *handle.card;
    plx::NotifyObject& notify = CardTable::instance().notifyObject();
    int64_t start = wholeSeconds();
    while (!limitPassed(start, timeoutMs)) {
        plx::Status status = plx::PlxNotificationWait(card.device, &notify, kWaitSliceMs);
        bool present = false;
        if (status == plx::kApiSuccess) {
            plx::InterruptRecord seen;
            if (plx::PlxIntrStatusGet(card.device, &seen) == plx::kApiSuccess &&
                (seen.sources & plx::kLocalInterrupt)) {
                uint32_t low = 0;
                uint32_t high = 0;
                if (!readCardRegister(card.device, kPendingLowRegister, low) ||
                    !readCardRegister(card.device, kPendingHighRegister, high)) {
                    plx::PlxIntrEnable(card.device, &kArmRecord);
                    return GenericError;
                }
                // Seven level bits in each of the eight bytes.
                present = ((low | high) & 0x7F7F7F7F) != 0;
            }
            plx::PlxIntrEnable(card.device, &kArmRecord);
        } else if (status == plx::kApiWaitTimeout || status == plx::kApiWaitCanceled) {
            plx::PlxIntrEnable(card.device, &kArmRecord);
        } else {
            return GenericError;
        }
        if (present) {
            return Success;
        }
        // A short gap without the lock, so other exchanges on the bridge get through.
        handleLock.unlock();
        std::this_thread::yield();
        if (!handleLock.lock()) {
            held = false;
            return GenericError;
        }
    }
    return TimeoutError;
}

}  // namespace

ErrorCode cardInterruptWait(CardHandle& handle, BridgeLock& handleLock, uint32_t timeoutMs) {
    if (!handleLock.lock()) {
        return GenericError;
    }
    bool held = true;
    ErrorCode result = waitForInterrupt(handle, handleLock, timeoutMs, held);
    if (held) {
        handleLock.unlock();
    }
    return result;
}

bool cardDriverVersion(CardHandle& handle, char* text, size_t size) {
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t revision = 0;
    if (!handle.cardLock->lock()) {
        return false;
    }
    plx::Status status = plx::PlxDriverVersion(handle.card->device, &major, &minor, &revision);
    handle.cardLock->unlock();
    if (status != plx::kApiSuccess) {
        return false;
    }
    std::snprintf(text, size, "%d.%d.%d", major, minor, revision);
    return true;
}

}  // namespace kovravme
