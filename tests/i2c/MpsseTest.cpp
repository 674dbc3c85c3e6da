#include <gtest/gtest.h>

#include <deque>

#include "FakeAdapter.h"
#include "i2c/I2cBus.h"
#include "i2c/backends/Mpsse.h"

namespace {

using namespace tarvo;
using nimbra::test::hexOf;

// Records each USB write as hex and answers reads from a queue.
class RecordingTransport : public mpsse::Transport {
  public:
    RecordingTransport(std::vector<std::string>& sent, std::deque<uint8_t> answers)
        : sent_(sent), answers_(std::move(answers)) {}
    bool send(std::span<const uint8_t> bytes) override {
        sent_.push_back(hexOf({bytes.begin(), bytes.end()}));
        return true;
    }
    bool receive(std::span<uint8_t> out, int timeoutMs) override {
        EXPECT_EQ(timeoutMs, 100);
        for (auto& b : out) {
            if (answers_.empty()) {
                return false;
            }
            b = answers_.front();
            answers_.pop_front();
        }
        return true;
    }

  private:
    std::vector<std::string>& sent_;
    std::deque<uint8_t> answers_;
};

// The adapter's command bytes, written out from the engine's opcode table: start condition,
// a byte with its acknowledge clock, the read of a byte with its acknowledge, the stop.
const std::string kStart =
    "800303800303800303800303"
    "800103800103800103800103"
    "800003";
std::string sendByte(const std::string& hex) {
    return "110000" + hex + "800001" + "2200" + "800203" + "87";
}
const std::string kReadAck =
    "800001200000800003130000800203"
    "87";
const std::string kReadNack =
    "8000012000008000031300ff800203"
    "87";
const std::string kStop =
    "800003800003800003800003"
    "800103800103800103800103"
    "800303800303800303800303"
    "800300";

TEST(Mpsse, SetupForOneHundredKilohertz) {
    uint32_t obtained = 0;
    uint16_t divisor = mpsse::divisorFor(100000, obtained);
    EXPECT_EQ(divisor, 199);
    EXPECT_EQ(obtained, 100000u);
    EXPECT_EQ(hexOf(mpsse::setupCommands(divisor)), "8a978c8586c700800303");
    mpsse::divisorFor(1, obtained);  // slower than the engine can go: its slowest
    EXPECT_EQ(obtained, 20000000u / 65536u);
}

TEST(Mpsse, DacWriteWithStop) {
    std::vector<std::string> sent;
    mpsse::MpsseLink link(
        std::make_unique<RecordingTransport>(sent, std::deque<uint8_t>{0, 0, 0, 0}));
    const uint8_t bytes[] = {0x98, 0x14, 0x80, 0x00};
    EXPECT_EQ(link.write(bytes, true), kI2cSuccess);
    EXPECT_EQ(sent, (std::vector<std::string>{kStart + sendByte("98"), sendByte("14"),
                                              sendByte("80"), sendByte("00"), kStop}));
}

TEST(Mpsse, AdcReadAfterAWriteWithoutStop) {
    std::vector<std::string> sent;
    mpsse::MpsseLink link(
        std::make_unique<RecordingTransport>(sent, std::deque<uint8_t>{0, 0, 0, 0x08, 0x00}));
    const uint8_t command[] = {0x90, 0xDC};
    EXPECT_EQ(link.write(command, false), kI2cSuccess);
    uint8_t buffer[2] = {};
    EXPECT_EQ(link.read(0x91, buffer), kI2cSuccess);
    EXPECT_EQ(buffer[0], 0x08);
    EXPECT_EQ(buffer[1], 0x00);
    EXPECT_EQ(sent,
              (std::vector<std::string>{kStart + sendByte("90"), sendByte("dc"),
                                        kStart + sendByte("91"), kReadAck + kReadNack + kStop}));
}

TEST(Mpsse, MissingAcknowledgeEndsTheTransactionWithAStop) {
    std::vector<std::string> sent;
    mpsse::MpsseLink link(std::make_unique<RecordingTransport>(sent, std::deque<uint8_t>{0x01}));
    const uint8_t bytes[] = {0x9A, 0x16, 0x00, 0x00};
    EXPECT_EQ(link.write(bytes, true), kI2cAddressNack);
    EXPECT_EQ(sent, (std::vector<std::string>{kStart + sendByte("9a"), kStop}));

    sent.clear();
    mpsse::MpsseLink data(
        std::make_unique<RecordingTransport>(sent, std::deque<uint8_t>{0x00, 0x01}));
    EXPECT_EQ(data.write(bytes, true), kI2cDataNack);
    EXPECT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent.back(), kStop);

    sent.clear();
    mpsse::MpsseLink silent(std::make_unique<RecordingTransport>(sent, std::deque<uint8_t>{}));
    EXPECT_EQ(silent.write(bytes, true), kI2cTimeout);
}

}  // namespace
