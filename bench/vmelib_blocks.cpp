// Block-read throughput through the library and the virtual crate against the bare socket
// moving the same request and reply bytes, at 8 KiB, 64 KiB and 1 MiB.
#include <algorithm>
#include <cstdio>

#include "KOVRAVMElib.h"
#include "vmelib_crate.h"

using namespace nimbra::bench;

namespace {

// The piece headers of a D32 block read at 0x00100000, A32 block modifier, as the library
// builds them.
std::vector<uint8_t> blockReadRequest(int32_t size) {
    std::vector<uint8_t> request;
    for (int32_t offset = 0; offset < size; offset += 61440) {
        int32_t piece = std::min(61440, size - offset);
        bool last = offset + piece >= size;
        uint16_t command = 0xC000 | 0x0B00 | 0x20 | (last ? 0x84 : 0x07);
        uint16_t items = static_cast<uint16_t>(piece / 4);
        uint32_t address = 0x00100000 + static_cast<uint32_t>(offset);
        uint8_t header[8] = {uint8_t(command),       uint8_t(command >> 8), uint8_t(items),
                             uint8_t(items >> 8),    uint8_t(address),      uint8_t(address >> 8),
                             uint8_t(address >> 16), uint8_t(address >> 24)};
        request.insert(request.end(), header, header + 8);
    }
    return request;
}

}  // namespace

int main() {
    Crate crate;
    int32_t handle = -1;
    if (KOVRAVME_Init(UsbBridge, 0, 0, &handle) != Success) {
        std::fprintf(stderr, "vmelib-bench-blocks: cannot open the bridge\n");
        return 1;
    }
    for (int32_t size : {8 << 10, 64 << 10, 1 << 20}) {
        const int iterations = std::max(20, (64 << 20) / size);
        std::vector<uint8_t> buffer(static_cast<size_t>(size));
        std::vector<uint8_t> reply;
        const std::vector<uint8_t> request = blockReadRequest(size);
        double library = 1e9;
        double bare = 1e9;
        for (int round = 0; round < 4; ++round) {
            auto start = now();
            for (int i = 0; i < iterations; ++i) {
                int32_t count = 0;
                KOVRAVME_BLTReadCycle(handle, 0x00100000, buffer.data(), size, AmA32UserBlock, D32,
                                      &count);
                if (count != size) {
                    std::fprintf(stderr, "vmelib-bench-blocks: short read\n");
                    return 1;
                }
            }
            library = std::min(library, secondsSince(start));
            start = now();
            for (int i = 0; i < iterations; ++i) {
                bareExchange(crate.dir(), request, static_cast<size_t>(size) + 2, reply);
            }
            bare = std::min(bare, secondsSince(start));
        }
        double megabytes = double(size) * iterations / 1e6;
        std::printf(
            "block read %7d bytes: library %7.1f MB/s, bare socket %7.1f MB/s, library / "
            "bare = %.2f%s\n",
            size, megabytes / library, megabytes / bare, bare / library,
            size >= (64 << 10) ? " (goal >= 0.5)" : "");
    }
    KOVRAVME_End(handle);
    return 0;
}
