// Single cycles through the library and the virtual crate against the bare socket round trip
// that carries the same request, and one MultiRead of 100 cycles against 100 ReadCycle calls.
#include <algorithm>
#include <cstdio>

#include "KOVRAVMElib.h"
#include "vmelib_crate.h"

using namespace nimbra::bench;

namespace {

constexpr int kRounds = 5;
constexpr int kCycles = 2000;

// Best of several rounds: the least disturbed measurement of each side.
template <class Body>
double bestSeconds(int iterations, Body body) {
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        auto start = now();
        for (int i = 0; i < iterations; ++i) {
            body();
        }
        best = std::min(best, secondsSince(start));
    }
    return best;
}

}  // namespace

int main() {
    Crate crate;
    int32_t handle = -1;
    if (KOVRAVME_Init(UsbBridge, 0, 0, &handle) != Success) {
        std::fprintf(stderr, "vmelib-bench-cycles: cannot open the bridge\n");
        return 1;
    }
    uint32_t value = 0;
    // A D32 read at 0x00100000, A32 non-privileged data: what ReadCycle sends.
    const std::vector<uint8_t> request = {0xA1, 0xC9, 0x00, 0x00, 0x10, 0x00};
    std::vector<uint8_t> reply;

    double library = 0;
    double bare = 0;
    // Interleave the two sides so that drifts of the machine hit both alike.
    for (int pass = 0; pass < 2; ++pass) {
        library += bestSeconds(
            kCycles, [&] { KOVRAVME_ReadCycle(handle, 0x00100000, &value, AmA32UserData, D32); });
        bare += bestSeconds(kCycles, [&] { bareExchange(crate.dir(), request, 66, reply); });
    }
    double libraryRate = 2 * kCycles / library;
    double bareRate = 2 * kCycles / bare;
    std::printf(
        "single cycles: library %.0f cycles/s (%.1f us each), bare socket %.0f round "
        "trips/s (%.1f us each)\n",
        libraryRate, 1e6 / libraryRate, bareRate, 1e6 / bareRate);
    std::printf("single cycles: library time / bare time = %.2f (goal <= 1.5)\n",
                bareRate / libraryRate);

    uint32_t addresses[100];
    uint32_t data[100];
    AddressModifier ams[100];
    DataWidth widths[100];
    ErrorCode results[100];
    for (int k = 0; k < 100; ++k) {
        addresses[k] = 0x00100000 + 4 * k;
        ams[k] = AmA32UserData;
        widths[k] = D32;
    }
    double list = bestSeconds(
        50, [&] { KOVRAVME_MultiRead(handle, addresses, data, 100, ams, widths, results); });
    double singles = bestSeconds(50, [&] {
        for (int k = 0; k < 100; ++k) {
            KOVRAVME_ReadCycle(handle, addresses[k], &data[k], AmA32UserData, D32);
        }
    });
    std::printf(
        "100 cycles: MultiRead %.1f us, 100 x ReadCycle %.1f us, MultiRead is %.1fx "
        "faster\n",
        list / 50 * 1e6, singles / 50 * 1e6, singles / list);
    KOVRAVME_End(handle);
    return 0;
}
