#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "KOVRAVMElib.h"
#include "support/SimProcess.h"

namespace nimbra::test {

// Memory the block and single-cycle tests work in: 2 MiB of RAM at 0x00100000.
constexpr uint32_t kMemoryBase = 0x00100000;
constexpr uint32_t kMemorySize = 0x00200000;

// A UsbBridge handle (link 0, board 0) on a freshly started virtual crate, with the trace of
// everything after the opening exchange.
class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override { start({}); }
    void TearDown() override;

    // (Re)starts the crate with RAM at kMemoryBase plus `extraArgs` and opens the handle.
    void start(const std::vector<std::string>& extraArgs);

    // Hex of the requests ("W" lines) since the last clear. Waits until at least `expected`
    // have arrived: a request without reply may still be on its way when the call returns.
    std::vector<std::string> requests(size_t expected = 0);
    // Hex of the replies ("R" lines) since the last clear.
    std::vector<std::string> replies(size_t expected = 0);
    void clearTrace() { sim_->clearTrace(); }

    std::unique_ptr<SimProcess> sim_;
    int32_t handle_ = -1;

  private:
    std::vector<std::string> lines(char kind, size_t expected);
};

std::string hex(const std::vector<uint8_t>& bytes);

// Expected trace texts, written with blanks between the fields for the reader; the blanks are
// dropped before comparing.
std::string hexText(std::string_view spaced);
std::vector<std::string> hexes(std::initializer_list<std::string_view> spaced);

}  // namespace nimbra::test
