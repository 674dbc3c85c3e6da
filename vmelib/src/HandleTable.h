#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "BridgeLock.h"
#include "device/UsbDevice.h"

namespace kovravme {

constexpr int kHandleCount = 100;

class BridgeKind;
struct CardHandle;

// What the library keeps per handle.
struct HandleRecord {
    std::atomic<bool> inUse = false;
    int32_t boardType = -1;
    // The table of the board type: every path that differs by kind goes through it.
    const BridgeKind* kind = nullptr;
    int16_t boardNumber = -1;
    int16_t link = -1;
    // 0 (off) or -1 (on), as KOVRAVME_GetFIFOMode reports it; decides block-transfer address
    // stepping.
    std::atomic<int32_t> fifoMode = -1;
    BridgeLock* lock = nullptr;
    // A USB bridge: open only while a Session runs.
    std::unique_ptr<UsbDevice> device;
    // Card kinds: the card side of the handle (CardTable), from Init to End.
    CardHandle* card = nullptr;

    // Back to the state of a free slot (inUse untouched).
    void reset();
};

// The per-process table of handles. Slots are claimed and freed under a mutex; calls on an open
// handle read its record without one, as the caller must not close a handle it is still using.
class HandleTable {
  public:
    static HandleTable& instance();

    // The record of an open handle, or null for a handle outside 0..99 or a free slot.
    HandleRecord* find(int32_t handle);

    // Claims the lowest free slot for the given identity. Returns the index, -1 when the same
    // board is already open, -2 when every slot is taken.
    int claim(int32_t boardType, int16_t link, int16_t boardNumber);
    void release(int32_t handle);

  private:
    std::mutex mutex_;
    HandleRecord records_[kHandleCount];
};

// For VME-cycle exports: true when the handle is open and of a kind without VME side.
bool refusesVmeCycles(int32_t handle);

}  // namespace kovravme
