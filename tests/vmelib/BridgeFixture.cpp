#include "BridgeFixture.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace nimbra::test {

void BridgeTest::start(const std::vector<std::string>& extraArgs) {
    if (handle_ >= 0) {
        KOVRAVME_End(handle_);
        handle_ = -1;
    }
    sim_.reset();
    SimProcess::Options options;
    char memory[64];
    std::snprintf(memory, sizeof(memory), "0x%08x:0x%x", kMemoryBase, kMemorySize);
    options.args = {"--memory", memory};
    options.args.insert(options.args.end(), extraArgs.begin(), extraArgs.end());
    sim_ = std::make_unique<SimProcess>(options);
    ASSERT_EQ(KOVRAVME_Init(UsbBridge, 0, 0, &handle_), Success);
    // The opening exchange reads the control register; tests look at what follows it.
    ASSERT_EQ(lines('W', 1).size(), 1u);
    sim_->clearTrace();
}

void BridgeTest::TearDown() {
    if (handle_ >= 0) {
        KOVRAVME_End(handle_);
    }
}

std::vector<std::string> BridgeTest::lines(char kind, size_t expected) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (;;) {
        std::vector<std::string> found;
        for (const std::string& line : sim_->traceLines()) {
            if (line.size() >= 2 && line[0] == kind && line[1] == ' ') {
                found.push_back(line.substr(2));
            }
        }
        if (found.size() >= expected || std::chrono::steady_clock::now() > deadline) {
            return found;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::vector<std::string> BridgeTest::requests(size_t expected) {
    return lines('W', expected);
}

std::vector<std::string> BridgeTest::replies(size_t expected) {
    return lines('R', expected);
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof(digits), "%02x", byte);
        text += digits;
    }
    return text;
}

std::string hexText(std::string_view spaced) {
    std::string text;
    for (char c : spaced) {
        if (c != ' ') {
            text += c;
        }
    }
    return text;
}

std::vector<std::string> hexes(std::initializer_list<std::string_view> spaced) {
    std::vector<std::string> texts;
    for (std::string_view one : spaced) {
        texts.push_back(hexText(one));
    }
    return texts;
}

}  // namespace nimbra::test
