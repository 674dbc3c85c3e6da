#include "CardKind.h"

#include "CardTable.h"
#include "CardTransport.h"
#include "HandleTable.h"

namespace kovravme {

namespace {

// The optical link takes write requests of at most this many data bytes.
constexpr int32_t kLinkChunkBytes = 2048;

}  // namespace

int32_t CardKind::blockWriteChunkBytes() const {
    return kLinkChunkBytes;
}

ErrorCode CardKind::open(int32_t handle, HandleRecord& record) const {
    if (record.boardNumber == -1) {
        return CommError;
    }
    record.card = CardTable::instance().attach(handle, record.boardType, record.link,
                                               record.boardNumber, receivesReplies());
    if (record.card == nullptr) {
        return CommError;
    }
    ErrorCode result = afterAttach(handle, record);
    if (result != Success) {
        // The handle does not come into being, so it must not keep the card open either.
        close(handle, record);
    }
    return result;
}

ErrorCode CardKind::afterAttach(int32_t, HandleRecord&) const {
    return Success;
}

void CardKind::close(int32_t handle, HandleRecord& record) const {
    if (record.card != nullptr) {
        // The card closes with the last handle of its link.
        CardTable::instance().detach(handle);
        record.card = nullptr;
    }
}

bool CardKind::begin(HandleRecord& record) const {
    return record.card != nullptr;
}

int CardKind::exchange(HandleRecord& record, const uint8_t* request, size_t length, void* reply,
                       size_t replySize, uint16_t* status) const {
    return cardExchange(*record.card, request, length, reply, replySize, status);
}

bool CardKind::send(HandleRecord& record, const uint8_t* request, size_t length) const {
    return cardExchange(*record.card, request, length, nullptr, 0, nullptr) ==
           static_cast<int>(length);
}

}  // namespace kovravme
