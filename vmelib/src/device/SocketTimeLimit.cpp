#include "device/SocketTimeLimit.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cstdlib>

namespace kovravme {

uint32_t socketTimeLimitMs() {
    const char* text = std::getenv("KOVRAVME_SIM_LIMIT_MS");
    if (text == nullptr || *text == '\0') {
        return kSocketTimeLimitMs;
    }
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value == 0 || value > 3600000) {
        return kSocketTimeLimitMs;
    }
    return static_cast<uint32_t>(value);
}

bool limitSocket(int fd, uint32_t ms) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(ms / 1000);
    limit.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit)) == 0;
}

}  // namespace kovravme
