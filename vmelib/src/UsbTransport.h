#pragma once

#include <cstddef>
#include <cstdint>

#include "device/UsbDevice.h"

namespace kovravme {

// Reads up to n bytes in driver-sized pieces (the last piece asks for the rest); the first piece
// that returns fewer bytes than it asked for ends the read. Total bytes, or a negated error.
long usbBulkRead(UsbDevice& device, uint8_t* data, size_t n);

// One request and its reply on an open USB bridge: the reply's data go to `reply` (at most
// `replySize` bytes), its closing status word to `status`. Data bytes received, or -1.
int usbExchange(UsbDevice& device, const uint8_t* request, size_t length, void* reply,
                size_t replySize, uint16_t* status);

// A request without reply (register writes, flash byte sequences). False when not every byte went.
bool usbSend(UsbDevice& device, const uint8_t* request, size_t length);

}  // namespace kovravme
