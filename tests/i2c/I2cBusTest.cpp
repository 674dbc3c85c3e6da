#include <gtest/gtest.h>
#include <stdlib.h>

#include "FakeAdapter.h"
#include "i2c/I2cBus.h"
#include "shell/Operator.h"

namespace {

using namespace tarvo;
using nimbra::test::FakeAdapterRecord;
using nimbra::test::FakeBackend;
using nimbra::test::fakeEntries;

class I2cBusTest : public ::testing::Test {
  protected:
    void SetUp() override { unsetenv("TARVO_I2C_ADAPTER"); }

    void attach(const std::vector<std::string>& names) {
        bus.backends.push_back(std::make_unique<FakeBackend>(fakeEntries(names), record));
    }

    std::shared_ptr<FakeAdapterRecord> record = std::make_shared<FakeAdapterRecord>();
    I2cBus bus;
    ScriptedOperator op;
    uint32_t clock = 100000;
};

TEST_F(I2cBusTest, NoAdapterFailsWithoutAsking) {
    attach({});
    EXPECT_FALSE(OpenBus(bus, clock, nullptr, op));
    EXPECT_TRUE(op.entries().empty());
    EXPECT_EQ(bus.handle, 0u);
}

TEST_F(I2cBusTest, OperatorDeclinesBothChannelsOfADualAdapter) {
    attach({"Dual RS232-HS A", "Dual RS232-HS B"});
    op.queueAnswer(false);
    op.queueAnswer(false);
    std::string name = "unchanged";
    EXPECT_FALSE(OpenBus(bus, clock, &name, op));
    EXPECT_EQ(op.texts("yesno"),
              (std::vector<std::string>{
                  "Found Dual RS232-HS A LocationID=100 Channel=A\nUse This for I2C Bus ?",
                  "Found Dual RS232-HS B LocationID=101 Channel=B\nUse This for I2C Bus ?"}));
    EXPECT_EQ(bus.handle, 0u);
    EXPECT_EQ(record->opens, 0);
    EXPECT_EQ(name, "unchanged");
}

TEST_F(I2cBusTest, SecondEntryTakenAfterANo) {
    attach({"first", "second"});
    op.queueAnswer(false);
    op.queueAnswer(true);
    std::string name;
    ASSERT_TRUE(OpenBus(bus, clock, &name, op));
    EXPECT_EQ(name, "second");
    EXPECT_NE(bus.handle, 0u);
    EXPECT_EQ(bus.entry.id, "fake1");
    CloseBus(bus);
    EXPECT_EQ(bus.handle, 0u);
}

TEST_F(I2cBusTest, ChosenAdapterIsTakenWithoutAsking) {
    attach({"first", "second"});
    setenv("TARVO_I2C_ADAPTER", "second", 1);
    std::string name;
    EXPECT_TRUE(OpenBus(bus, clock, &name, op));
    EXPECT_EQ(name, "second");
    EXPECT_TRUE(op.entries().empty());

    I2cBus other;
    other.backends.push_back(std::make_unique<FakeBackend>(fakeEntries({"first"}), record));
    other.adapterChoice = "no such adapter";  // the explicit choice wins over the environment
    EXPECT_FALSE(OpenBus(other, clock, &name, op));
    EXPECT_EQ(other.status, kI2cDeviceNotFound);
    EXPECT_TRUE(op.entries().empty());
    unsetenv("TARVO_I2C_ADAPTER");
}

TEST(I2cClock, DivisorRule) {
    EXPECT_EQ(clockDivisor(100000), 299u);
    EXPECT_EQ(clockDivisor(400000), 74u);
    EXPECT_EQ(clockDivisor(458), 65501u);
    EXPECT_EQ(clockDivisor(457), 299u);  // 65645 does not fit 16 bits
    EXPECT_EQ(clockDivisor(1), 299u);
}

TEST_F(I2cBusTest, TooManyControlBytesNeverReachTheBus) {
    attach({"only"});
    op.queueAnswer(true);
    ASSERT_TRUE(OpenBus(bus, clock, nullptr, op));
    std::vector<uint8_t> control(257, 0x98);
    EXPECT_FALSE(BusWrite(bus, control, {0x00}, true));
    EXPECT_EQ(bus.status, 38);
    EXPECT_TRUE(record->transactions.empty());
    control.resize(256);
    EXPECT_TRUE(BusWrite(bus, control, {}, true));
    EXPECT_EQ(record->transactions.size(), 1u);
}

TEST_F(I2cBusTest, ClosedBusFailsAndTheTextLookupClearsTheStatus) {
    std::vector<uint8_t> buffer{1, 2, 3};
    EXPECT_FALSE(BusRead(bus, {0x91}, buffer));
    EXPECT_EQ(buffer.size(), 2u);
    EXPECT_EQ(bus.status, kI2cInvalidHandle);
    std::string text;
    BusErrorText(bus, text);
    EXPECT_EQ(text, "Invalid I2C adapter handle (the bus is not open)");
    EXPECT_EQ(bus.status, 0);

    bus.status = 12345;
    BusErrorText(bus, text);
    EXPECT_EQ(text, "Unknown I2C status 12345");
    EXPECT_EQ(bus.status, kI2cInvalidStatus);
}

}  // namespace
