// A second process on the same optical link: writes and reads back its own words through an
// OpticalBridge handle. Arguments: board number, VME address, cycles. Exit 0 when every read
// returned what this process wrote.
#include <cstdio>
#include <cstdlib>

#include "KOVRAVMElib.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: optical-worker BOARD ADDRESS CYCLES\n");
        return 2;
    }
    auto board = static_cast<int16_t>(std::strtol(argv[1], nullptr, 0));
    auto address = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0));
    long cycles = std::strtol(argv[3], nullptr, 0);
    int32_t handle = -1;
    if (KOVRAVME_Init(OpticalBridge, 0, board, &handle) != Success) {
        return 3;
    }
    int bad = 0;
    for (long i = 0; i < cycles; ++i) {
        uint32_t value = 0xC0DE0000u + static_cast<uint32_t>(i);
        uint32_t back = 0;
        if (KOVRAVME_WriteCycle(handle, address, &value, 0x09, D32) != Success ||
            KOVRAVME_ReadCycle(handle, address, &back, 0x09, D32) != Success || back != value) {
            ++bad;
        }
    }
    KOVRAVME_End(handle);
    return bad == 0 ? 0 : 1;
}
