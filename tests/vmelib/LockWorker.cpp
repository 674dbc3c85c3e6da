// A separate process for the lock tests.
//   vmelib-lock-worker cycles N ADDRESS  two threads on one handle, each N times: write a value of
//                                        its own at its own address, read it back (D32 and D16 in
//                                        turn); exit 0 when every read returned its own value
//   vmelib-lock-worker hold               opens the bridge and nothing more (the crate's delay
//   keeps
//                                        it inside the opening exchange, holding the lock)
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "KOVRAVMElib.h"

namespace {

std::atomic<int> mismatches{0};
std::atomic<int> failures{0};

void cycles(int32_t handle, int iterations, uint32_t address, uint32_t tag) {
    for (int i = 0; i < iterations; ++i) {
        uint32_t value = tag << 16 | static_cast<uint32_t>(i & 0xFFFF);
        DataWidth width = (i % 2 == 0) ? D32 : D16;
        if (width == D16) {
            value &= 0xFFFF;
            value ^= tag;
        }
        uint32_t back = 0;
        if (KOVRAVME_WriteCycle(handle, address, &value, AmA32UserData, width) != Success ||
            KOVRAVME_ReadCycle(handle, address, &back, AmA32UserData, width) != Success) {
            ++failures;
        } else if (back != value) {
            ++mismatches;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "hold") == 0) {
        int32_t handle = -1;
        return KOVRAVME_Init(UsbBridge, 0, 0, &handle) == Success ? 0 : 3;
    }
    if (argc != 4 || std::strcmp(argv[1], "cycles") != 0) {
        std::fprintf(stderr, "usage: vmelib-lock-worker cycles N ADDRESS | hold\n");
        return 64;
    }
    int iterations = std::atoi(argv[2]);
    uint32_t address = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0));
    int32_t handle = -1;
    if (KOVRAVME_Init(UsbBridge, 0, 0, &handle) != Success) {
        return 3;
    }
    uint32_t tag = static_cast<uint32_t>(getpid()) & 0x7FFF;
    std::thread first(cycles, handle, iterations, address, tag << 1);
    std::thread second(cycles, handle, iterations, address + 8, tag << 1 | 1);
    first.join();
    second.join();
    KOVRAVME_End(handle);
    if (failures > 0 || mismatches > 0) {
        std::fprintf(stderr, "vmelib-lock-worker: %d failed cycles, %d foreign values\n",
                     failures.load(), mismatches.load());
        return 1;
    }
    return 0;
}
