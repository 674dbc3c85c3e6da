#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "BridgeLock.h"
#include "CardTable.h"
#include "KOVRAVMElib.h"
#include "device/PlxApi.h"

namespace kovravme {

// The card's local registers the library uses.
constexpr uint32_t kTransmitPort = 0x00;
constexpr uint32_t kLinkControlRegister = 0x08;
constexpr uint32_t kReceiveWordsRegister = 0x18;
constexpr uint32_t kPendingLowRegister = 0x24;
constexpr uint32_t kPendingHighRegister = 0x28;
constexpr uint32_t kInterruptClearRegister = 0xA0;
constexpr uint32_t kInterruptSetRegister = 0xA4;
// Bits of the interrupt-control registers and of register 8.
constexpr uint32_t kReplyInterrupt = 0x2;
constexpr uint32_t kVmeInterrupt = 0x8;
constexpr uint32_t kLinkDeviceRoute = 0x4;

// The record passed whenever the card's interrupt is (re-)armed.
inline constexpr plx::InterruptRecord kArmRecord{0x00C00080, 4};
// How long an exchange waits for its reply.
constexpr uint32_t kReplyLimitMs = 5000;

// One 32-bit access to the card's local space 0; false unless the call returned success.
bool writeCardRegister(plx::DeviceHandle device, uint32_t address, uint32_t value);
bool readCardRegister(plx::DeviceHandle device, uint32_t address, uint32_t& value);

// Pushes one request into the card's transmit port: the header word, then the request bytes in
// 32-bit words. Returns n, or -1 when a push failed. Caller holds the card lock.
int cardSend(CardHandle& handle, const uint8_t* request, size_t n);

// The card transport of an exchange: push under the card lock, then, when a reply is expected
// (replySize > 0), wait for it up to kReplyLimitMs. Reply data bytes (0 or more) or -1; with
// replySize 0 the bytes sent.
int cardExchange(CardHandle& handle, const uint8_t* request, size_t length, void* reply,
                 size_t replySize, uint16_t* status);

// Runs `work` (a request over the link) with card register 8 bit 2 set, so that the card sends
// it to the link device; the bit is cleared again whatever `work` did.
bool throughLinkDevice(CardHandle& handle, const std::function<bool()>& work);

// KOVRAVME_IRQWait on an optical bridge, with the handle lock held by the caller; the lock is
// given up between waits. Success, TimeoutError or GenericError.
ErrorCode cardInterruptWait(CardHandle& handle, BridgeLock& handleLock, uint32_t timeoutMs);

// "major.minor.revision" of the card's driver, queried under the card lock; false on failure.
bool cardDriverVersion(CardHandle& handle, char* text, size_t size);

}  // namespace kovravme
