#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "KOVRAVMElib.h"

namespace kovravme {

struct HandleRecord;
class Session;

// The registers a kind's serial flash is reached through.
struct FlashRegisters {
    uint16_t enable;
    uint16_t data;
};

// Everything in which one kind of bridge differs from the others: how a handle opens and closes
// it, how one stretch of work reaches it, its registers, its flash, its interrupts and what it
// can do. The exports choose nothing by kind themselves; a new kind is one more table.
//
// Locking, operation by operation:
//  - open, close: called by Init and End with no lock held; any exchange they make takes the
//    handle lock for itself (through the library's exchange).
//  - begin, end, exchange, send, readRegister, writeRegister, sendFlashBytes, readFlashBytes:
//    run inside a Session, which holds the handle lock from before begin to after end. A kind
//    that shares a device between threads or processes takes any lock of its own inside these.
//  - driverRelease: takes whatever its kind needs itself (a Session, or the card lock).
//  - irqWait: takes the handle lock itself and gives it up between its waits, so that other
//    exchanges on the bridge go on while it waits.
//  - irqControl: a single card-register write, under no lock.
class BridgeKind {
  public:
    virtual ~BridgeKind() = default;

    // Capabilities.
    // False for kinds with registers but no VME side: every VME-cycle export refuses them.
    virtual bool hasVmeSide() const = 0;
    // Whether `reg` is a register number the kind's register path can carry.
    virtual bool registerFits(uint16_t reg) const;
    // The register holding the firmware release (major in the high byte).
    virtual uint16_t firmwareRegister() const = 0;
    virtual FlashRegisters flashRegisters() const = 0;
    // Bytes of one block-read request: 0 when the whole transfer goes as one request.
    virtual int32_t blockReadSliceBytes() const { return 0; }
    // Bytes of one block-write request.
    virtual int32_t blockWriteChunkBytes() const = 0;

    // Init and End.
    virtual ErrorCode open(int32_t handle, HandleRecord& record) const = 0;
    virtual void close(int32_t handle, HandleRecord& record) const;

    // A stretch of work (Session): makes the device reachable, false when it cannot be.
    virtual bool begin(HandleRecord& record) const = 0;
    // Ends the stretch; false when the device reported a failure on closing.
    virtual bool end(HandleRecord& record) const;
    // One request and its reply: reply data bytes (0 or more), or -1.
    virtual int exchange(HandleRecord& record, const uint8_t* request, size_t length, void* reply,
                         size_t replySize, uint16_t* status) const;
    // A request without reply.
    virtual bool send(HandleRecord& record, const uint8_t* request, size_t length) const;
    // Register access; by default the bridge's register requests over exchange and send.
    virtual bool readRegister(Session& session, uint16_t reg, uint16_t& value) const;
    virtual bool writeRegister(Session& session, uint16_t reg, uint16_t value) const;
    // Byte sequences to and from the flash data register; by default one register write per
    // byte out, and the bridge's 64-byte read requests in.
    virtual bool sendFlashBytes(Session& session, const std::vector<uint8_t>& bytes,
                                FlashRegisters regs) const;
    virtual bool readFlashBytes(Session& session, uint8_t* data, size_t length,
                                FlashRegisters regs) const;

    // KOVRAVME_DriverRelease for an open handle and a text buffer.
    virtual ErrorCode driverRelease(HandleRecord& record, char* text) const;
    // KOVRAVME_IRQWait, KOVRAVME_IRQEnable / KOVRAVME_IRQDisable: InvalidParam for a kind
    // without the card's interrupt.
    virtual ErrorCode irqWait(HandleRecord& record, uint32_t mask, uint32_t timeoutMs) const;
    virtual ErrorCode irqControl(HandleRecord& record, bool enable) const;

  protected:
    // The register path every kind with registers on the link has, usable by the overrides.
    static bool readFlashByRegister(Session& session, uint8_t* data, size_t length,
                                    FlashRegisters regs);
};

// The table of a board type, or null for a type the library does not know.
const BridgeKind* bridgeKind(int32_t boardType);

// The tables, one file each.
const BridgeKind& usbBridgeKind();
const BridgeKind& opticalBridgeKind();
const BridgeKind& pciLinkCardKind();
const BridgeKind& linkDeviceKind();

}  // namespace kovravme
