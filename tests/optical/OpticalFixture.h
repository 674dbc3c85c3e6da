#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KOVRAVMElib.h"
#include "support/SimProcess.h"

namespace optical {

// VME memory the tests move data through; the USB bridge of the same crate reaches it too.
constexpr uint32_t kMemoryBase = 0x00100000;
constexpr uint32_t kMemorySize = 0x00400000;
constexpr uint32_t kAm = 0x09;

// A virtual crate with three optical links of two bridges each, started per test. The handle
// lock is one per kind and link across the machine, and a test that lets an exchange run into
// the reply time-out holds it for seconds; such tests use links 1 and 2, so that the tests that
// time their own waits are not held up when tests run in parallel.
class OpticalTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Opens a handle and remembers it so that TearDown ends it.
    int32_t open(int32_t kind, int16_t link, int16_t board);
    void end(int32_t handle);

    // The card's run-time knobs (docs/virtual-crate-card.md): lose the next replies; raise a
    // VME interrupt.
    void dropNextReplies(uint32_t count, int link = 0);
    void delayNextReplies(uint32_t count, uint32_t ms, int link = 0);
    void raiseInterrupt(uint8_t board, uint8_t level, int link = 0);

    std::vector<std::string> requestsInTrace() const;

    virtual std::vector<std::string> extraArgs() const { return {}; }

    std::unique_ptr<nimbra::test::SimProcess> sim;
    std::vector<int32_t> handles;
};

std::vector<uint8_t> pattern(size_t size, uint32_t seed);

}  // namespace optical
