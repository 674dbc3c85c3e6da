#pragma once

#include <cstdint>

namespace kovravme {

// How long one step on a virtual-crate socket (connect, send, one receive) may take before the
// exchange fails, as a real driver's transfer has a time limit: a crate that is stopped or hung
// must give the caller an error, and let go of the handle lock, instead of holding both for ever.
constexpr uint32_t kSocketTimeLimitMs = 3000;

// kSocketTimeLimitMs, or the milliseconds in KOVRAVME_SIM_LIMIT_MS (a whole number above 0) so
// that tests can stop a crate without waiting the full limit.
uint32_t socketTimeLimitMs();

// Applies a send and receive limit of `ms` to a socket; for a Unix-domain socket the send limit
// also bounds connect. False when the socket refused the options.
bool limitSocket(int fd, uint32_t ms);

}  // namespace kovravme
