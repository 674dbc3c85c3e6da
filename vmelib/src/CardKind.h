#pragma once

#include "BridgeKind.h"

namespace kovravme {

// What the kinds behind the PCI optical-link card share: the card is opened (or shared with the
// other handles of its link) at Init and stays open until End, so a stretch of work has nothing
// to open; requests travel through the card to the station the kind addresses.
class CardKind : public BridgeKind {
  public:
    int32_t blockWriteChunkBytes() const override;

    ErrorCode open(int32_t handle, HandleRecord& record) const override;
    void close(int32_t handle, HandleRecord& record) const override;
    bool begin(HandleRecord& record) const override;
    int exchange(HandleRecord& record, const uint8_t* request, size_t length, void* reply,
                 size_t replySize, uint16_t* status) const override;
    bool send(HandleRecord& record, const uint8_t* request, size_t length) const override;

  protected:
    // Whether replies on the link are meant for handles of this kind.
    virtual bool receivesReplies() const { return true; }
    // What the kind does once the card is attached; on failure the handle lets go of the card.
    virtual ErrorCode afterAttach(int32_t handle, HandleRecord& record) const;
};

}  // namespace kovravme
