#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "BridgeLock.h"
#include "device/PlxApi.h"

namespace kovravme {

constexpr int kCardCount = 100;
constexpr size_t kReceiveAreaBytes = 131072;

// One opened PCI optical-link card, shared by every handle of its link in this process.
struct CardRecord {
    int32_t link = -1;  // -1: free
    plx::DeviceHandle device = nullptr;
    std::vector<uint8_t> receiveArea;  // where the card's DMA engine writes
    uint32_t lastDmaBytes = 0;
    plx::DmaChannelDescriptor dmaDescriptor;
    // The transmit port, and register 8's routing bit together with the request it routes:
    // threads of this process on different kinds of one link never interleave there.
    std::recursive_mutex routeMutex;
};

// What a handle of a card kind keeps beside its HandleRecord: the card, its card lock, and the
// reply that the exchange in flight is collecting. The reply fields are guarded by the table's
// reply mutex, since whichever thread takes the card's interrupt fills them.
struct CardHandle {
    bool inUse = false;
    int32_t boardType = -1;
    int16_t link = -1;
    int16_t boardNumber = -1;
    // False for the card's own handles: replies on the link are never theirs.
    bool receivesReplies = true;
    CardRecord* card = nullptr;
    BridgeLock* cardLock = nullptr;
    uint8_t* replyBuffer = nullptr;  // null while no exchange waits for a reply
    size_t replySize = 0;
    int32_t replyCount = 0;
    uint16_t replyStatus = 0;
    bool replyEvent = false;
};

// The per-process table of cards and the card side of the handles (indexed like the HandleTable).
// Init and End are serialised by their callers; the mutex keeps the table itself consistent
// against the dispatch of other threads reading it.
class CardTable {
  public:
    static CardTable& instance();

    // Opens (or reuses) the card of `link` for handle `index`; null when the card cannot be
    // opened.
    CardHandle* attach(int index, int32_t boardType, int16_t link, int16_t boardNumber,
                       bool receivesReplies);
    // The handle's card side goes; the card is closed with the last handle of its link.
    void detach(int index);

    // Hands the packets of `bytes` moved bytes in the card's receive area to their handles.
    // Caller holds replyMutex().
    void dispatch(CardRecord& card, size_t bytes);

    // Guards the receive areas, their dispatch and the reply fields of every card handle.
    std::mutex& replyMutex() { return replyMutex_; }

    // The process-wide object notification waits block on.
    plx::NotifyObject& notifyObject() { return notify_; }

  private:
    CardRecord* openCard(int16_t link);
    CardHandle* receiverFor(const CardRecord& card, unsigned board);

    std::mutex mutex_;
    std::mutex replyMutex_;
    CardRecord cards_[kCardCount];
    CardHandle handles_[kCardCount];
    plx::NotifyObject notify_;
};

}  // namespace kovravme
