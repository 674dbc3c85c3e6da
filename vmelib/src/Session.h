#pragma once

#include <cstddef>
#include <cstdint>

#include "HandleTable.h"
#include "KOVRAVMElib.h"
#include "Request.h"

namespace kovravme {

// One stretch of work on a bridge: the handle lock held throughout, and the device made reachable
// by the handle's kind for this stretch (a USB bridge is opened for it only). Every transport
// step goes through here to the kind's table.
class Session {
  public:
    // Waits for the handle lock and opens the device; ok() tells whether both worked.
    explicit Session(HandleRecord& record);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool ok() const { return open_; }
    HandleRecord& record() { return record_; }

    // Sends a request and reads its reply: data bytes received (0 or more), or -1.
    int exchange(const uint8_t* request, size_t length, void* reply, size_t replySize,
                 uint16_t* status);
    int exchange(const Request& request, void* reply, size_t replySize, uint16_t* status) {
        return exchange(request.data().data(), request.size(), reply, replySize, status);
    }
    // Sends a request that has no reply.
    bool send(const uint8_t* request, size_t length);
    bool send(const Request& request) { return send(request.data().data(), request.size()); }

    // Registers, by whatever path the board kind has.
    bool readRegister(uint16_t reg, uint16_t& value);
    bool writeRegister(uint16_t reg, uint16_t value);

    // Closes the device and releases the lock; false when closing the device failed.
    bool finish();

  private:
    HandleRecord& record_;
    bool locked_ = false;
    bool open_ = false;
};

// The library's exchange: one request and its reply on a handle, under the handle lock. Reply data
// bytes (0 or more), or -1 for a handle that is not open or a failed exchange.
int transact(int32_t handle, const Request& request, void* reply, size_t replySize,
             uint16_t* status);

// Reads the bridge's FIFO mode into the record: the first exchange of an open, and the only
// proof that the bridge answers. Success or CommError.
ErrorCode readFifoMode(int32_t handle, HandleRecord& record);

}  // namespace kovravme
