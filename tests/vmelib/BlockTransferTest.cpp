#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "BridgeFixture.h"

namespace nimbra::test {
namespace {

constexpr int32_t kMiB = 1 << 20;
constexpr uint32_t kMemoryEnd = kMemoryBase + kMemorySize;

class BlockTransfer : public BridgeTest {
  protected:
    // Fills the start of the RAM with random bytes through D8 block writes and returns them.
    std::vector<uint8_t> fill(size_t size) {
        std::vector<uint8_t> image(size);
        std::mt19937 random(1234);
        std::generate(image.begin(), image.end(), [&] { return static_cast<uint8_t>(random()); });
        int32_t count = 0;
        EXPECT_EQ(KOVRAVME_BLTWriteCycle(handle_, kMemoryBase, image.data(),
                                         static_cast<int32_t>(size), AmA32UserData, D8, &count),
                  Success);
        EXPECT_EQ(count, static_cast<int32_t>(size));
        clearTrace();
        return image;
    }
};

TEST_F(BlockTransfer, AReadOfOneDriverRequestIsOnePieceHeader) {
    std::vector<uint8_t> buffer(61440);
    int32_t count = 0;
    ASSERT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, buffer.data(), 61440, AmA32UserBlock, D32,
                                    &count),
              Success);
    EXPECT_EQ(count, 61440);
    ASSERT_EQ(KOVRAVME_FIFOBLTReadCycle(handle_, kMemoryBase, buffer.data(), 61440, AmA32UserBlock,
                                        D32Swapped, &count),
              Success);
    // 0xC000 | AM 0x0B << 8 | D32 0x20 | last 0x84 (FIFO 0x8C, swap 0x40); 15360 items.
    EXPECT_EQ(requests(), hexes({"a4cb 003c 00001000", "eccb 003c 00001000"}));
}

TEST_F(BlockTransfer, OneByteMoreMakesASecondPiece) {
    std::vector<uint8_t> buffer(61441);
    int32_t count = 0;
    ASSERT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, buffer.data(), 61441, AmA32UserBlock, D8,
                                    &count),
              Success);
    EXPECT_EQ(count, 61441);
    ASSERT_EQ(KOVRAVME_FIFOBLTReadCycle(handle_, kMemoryBase, buffer.data(), 61441, AmA32UserBlock,
                                        D8, &count),
              Success);
    ASSERT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, buffer.data(), 61441, AmA32UserBlock, D32,
                                    &count),
              Success);
    // The piece of one byte carries 1 / 4 = 0 items of D32: 61440 bytes arrive.
    EXPECT_EQ(count, 61440);
    EXPECT_EQ(requests(),
              hexes({"07cb 00f0 00001000 84cb 0100 00f01000",  // address steps on
                     "0fcb 00f0 00001000 8ccb 0100 00001000",  // FIFO keeps it
                     "27cb 003c 00001000 a4cb 0000 00f01000"}));
}

TEST_F(BlockTransfer, SixtyFourBitFormsTakeOnlyTheirModifiers) {
    uint64_t data[2] = {0x0102030405060708ull, 0x1112131415161718ull};
    int32_t count = 0;
    EXPECT_EQ(KOVRAVME_MBLTReadCycle(handle_, kMemoryBase, data, 16, AmA32UserData, &count),
              InvalidParam);
    EXPECT_EQ(KOVRAVME_MBLTWriteCycle(handle_, kMemoryBase, data, 16, AmA24UserBlock, &count),
              InvalidParam);
    EXPECT_EQ(KOVRAVME_FIFOMBLTReadCycle(handle_, kMemoryBase, data, 16, 0x09, &count),
              InvalidParam);
    EXPECT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, data, 16, AmA32UserBlock, 0x11, &count),
              InvalidParam);
    EXPECT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, data, -1, AmA32UserBlock, D32, &count),
              InvalidParam);
    EXPECT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, data, 16, AmA32UserBlock, D32, nullptr),
              InvalidParam);
    EXPECT_EQ(
        KOVRAVME_BLTWriteCycle(handle_, kMemoryBase, nullptr, 16, AmA32UserBlock, D32, &count),
        InvalidParam);
    EXPECT_TRUE(requests().empty());

    ASSERT_EQ(KOVRAVME_MBLTWriteCycle(handle_, kMemoryBase, data, 16, AmA32UserBlock64, &count),
              Success);
    EXPECT_EQ(count, 16);
    uint64_t back[2] = {};
    ASSERT_EQ(KOVRAVME_MBLTReadCycle(handle_, kMemoryBase, back, 16, AmA24SuperBlock64, &count),
              Success);
    EXPECT_EQ(back[0], data[0]);
    EXPECT_EQ(back[1], data[1]);
    ASSERT_EQ(KOVRAVME_FIFOMBLTReadCycle(handle_, kMemoryBase, back, 8, AmA32SuperBlock64, &count),
              Success);
    std::vector<std::string> sent = requests(3);
    ASSERT_EQ(sent.size(), 3u);
    // Writes: 0x8084 | AM << 8 | D64 0x30, the item count, the address, the data.
    EXPECT_EQ(sent[0], hexText("b488 0200 00001000 0807060504030201 1817161514131211"));
    EXPECT_EQ(sent[1], hexText("b4fc 0200 00001000"));
    EXPECT_EQ(sent[2], hexText("bccc 0100 00001000"));
    EXPECT_EQ(replies()[0],
              hexText("0200 0000"));  // two items written, then the status word
}

TEST_F(BlockTransfer, WritesGoInChunksOfOneDriverRequest) {
    std::vector<uint8_t> data(61441, 0x33);
    int32_t count = 0;
    ASSERT_EQ(
        KOVRAVME_BLTWriteCycle(handle_, kMemoryBase, data.data(), 61441, AmA32UserData, D8, &count),
        Success);
    EXPECT_EQ(count, 61441);
    std::vector<std::string> sent = requests(2);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].substr(0, 16), hexText("8489 00f0 00001000"));
    EXPECT_EQ(sent[0].size(), 2u * (8 + 61440));
    EXPECT_EQ(sent[1], hexText("8489 0100 00f01000 33"));
    EXPECT_EQ(replies(), hexes({"00f00000", "01000000"}));
}

TEST_F(BlockTransfer, NothingToMoveIsNoExchange) {
    int32_t count = 99;
    uint8_t byte = 0;
    EXPECT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, &byte, 0, AmA32UserBlock, D32, &count),
              Success);
    EXPECT_EQ(count, 0);
    count = 99;
    EXPECT_EQ(KOVRAVME_BLTWriteCycle(handle_, kMemoryBase, &byte, 0, AmA32UserBlock, D32, &count),
              Success);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(KOVRAVME_ReadRegister(handle_, 2, nullptr), InvalidParam);
    uint16_t value = 0;
    ASSERT_EQ(KOVRAVME_ReadRegister(handle_, 2, &value), Success);
    EXPECT_EQ(requests(), hexes({"8240"}));
}

TEST_F(BlockTransfer, ABusErrorEndsTheTransferAndTheCountTellsWhatArrived) {
    std::vector<uint8_t> buffer(kMiB, 0xEE);
    int32_t count = -1;
    // 100 bytes before the end of the RAM.
    EXPECT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryEnd - 100, buffer.data(), 1000, AmA32UserBlock,
                                    D32, &count),
              BusError);
    EXPECT_EQ(count, 100);
    EXPECT_EQ(buffer[100], 0xEE);  // nothing stored past what arrived
    // Across a piece boundary: the second piece runs off the RAM.
    EXPECT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryEnd - 70000, buffer.data(), kMiB,
                                    AmA32UserBlock, D32, &count),
              BusError);
    EXPECT_EQ(count, 70000);
    // Writes count the items the bridge took, over all chunks.
    std::vector<uint8_t> data(200000, 0x44);
    EXPECT_EQ(KOVRAVME_BLTWriteCycle(handle_, kMemoryEnd - 100, data.data(), 1000, AmA32UserData,
                                     D32, &count),
              BusError);
    EXPECT_EQ(count, 100);
    EXPECT_EQ(KOVRAVME_BLTWriteCycle(handle_, kMemoryEnd - 70000, data.data(), 200000,
                                     AmA32UserData, D16, &count),
              BusError);
    EXPECT_EQ(count, 70000);
    // Nothing at all answers here.
    EXPECT_EQ(
        KOVRAVME_BLTReadCycle(handle_, 0x00900000, buffer.data(), 64, AmA32UserBlock, D32, &count),
        BusError);
    EXPECT_EQ(count, 0);
}

TEST_F(BlockTransfer, AFifoWriteLeavesTheLastItemAtTheStartAddress) {
    uint32_t zero[2] = {};
    int32_t count = 0;
    ASSERT_EQ(KOVRAVME_BLTWriteCycle(handle_, kMemoryBase, zero, 8, AmA32UserData, D32, &count),
              Success);
    uint32_t items[3] = {0x11111111, 0x22222222, 0x33333333};
    ASSERT_EQ(
        KOVRAVME_FIFOBLTWriteCycle(handle_, kMemoryBase, items, 12, AmA32UserData, D32, &count),
        Success);
    EXPECT_EQ(count, 12);
    uint32_t back[2] = {};
    ASSERT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, back, 8, AmA32UserBlock, D32, &count),
              Success);
    EXPECT_EQ(back[0], 0x33333333u);
    EXPECT_EQ(back[1], 0u);
    EXPECT_EQ(requests(3)[1].substr(0, 16), hexText("ac89 0300 00001000"));
}

// Every width, every size, plain and FIFO, with the handle's FIFO mode off and on: what is read
// is what lies in the slave, and the count is what arrived.
class BlockWidth : public BlockTransfer, public ::testing::WithParamInterface<DataWidth> {};

TEST_P(BlockWidth, ReadsDeliverTheSlavesDataAndCountIt) {
    const DataWidth width = GetParam();
    const size_t itemBytes = width & 0x0F;
    const bool swapped = (width & 0x10) != 0;
    const std::vector<uint8_t> image = fill(kMiB + 65536);
    for (int32_t size : {static_cast<int32_t>(itemBytes), 61440, 61441, kMiB}) {
        // Each piece moves whole items only.
        int32_t arriving = 0;
        for (int32_t offset = 0; offset < size; offset += 61440) {
            int32_t piece = std::min(61440, size - offset);
            arriving += piece / static_cast<int32_t>(itemBytes) * static_cast<int32_t>(itemBytes);
        }
        for (bool fifoVariant : {false, true}) {
            for (int fifoMode : {0, 1}) {
                SCOPED_TRACE(::testing::Message() << "size " << size << " fifo variant "
                                                  << fifoVariant << " fifo mode " << fifoMode);
                ASSERT_EQ(KOVRAVME_SetFIFOMode(handle_, fifoMode), Success);
                const bool keep = fifoVariant || fifoMode != 0;
                std::vector<uint8_t> expected(static_cast<size_t>(arriving));
                for (size_t i = 0; i < expected.size(); ++i) {
                    size_t item = i / itemBytes;
                    size_t within = i % itemBytes;
                    size_t source =
                        (keep ? 0 : item * itemBytes) + (swapped ? itemBytes - 1 - within : within);
                    expected[i] = image[source];
                }
                std::vector<uint8_t> buffer(static_cast<size_t>(size) + 16, 0xA5);
                int32_t count = -1;
                ErrorCode result;
                if (width == D64 || width == D64Swapped) {
                    result =
                        width == D64
                            ? (fifoVariant ? KOVRAVME_FIFOMBLTReadCycle : KOVRAVME_MBLTReadCycle)(
                                  handle_, kMemoryBase, buffer.data(), size, AmA32UserBlock64,
                                  &count)
                            : (fifoVariant ? KOVRAVME_FIFOBLTReadCycle : KOVRAVME_BLTReadCycle)(
                                  handle_, kMemoryBase, buffer.data(), size, AmA32UserBlock64,
                                  width, &count);
                } else {
                    result = (fifoVariant ? KOVRAVME_FIFOBLTReadCycle : KOVRAVME_BLTReadCycle)(
                        handle_, kMemoryBase, buffer.data(), size, AmA32UserBlock, width, &count);
                }
                ASSERT_EQ(result, Success);
                ASSERT_EQ(count, arriving);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
                EXPECT_EQ(buffer[static_cast<size_t>(arriving)], 0xA5);
            }
        }
    }
}

TEST_P(BlockWidth, WritesPutTheCallersDataIntoTheSlave) {
    const DataWidth width = GetParam();
    const size_t itemBytes = width & 0x0F;
    const bool swapped = (width & 0x10) != 0;
    for (int32_t size : {static_cast<int32_t>(itemBytes), 61440, kMiB}) {
        SCOPED_TRACE(::testing::Message() << "size " << size);
        std::vector<uint8_t> data(static_cast<size_t>(size));
        std::mt19937 random(static_cast<unsigned>(size + width));
        std::generate(data.begin(), data.end(), [&] { return static_cast<uint8_t>(random()); });
        int32_t count = -1;
        ErrorCode result = width == D64
                               ? KOVRAVME_MBLTWriteCycle(handle_, kMemoryBase, data.data(), size,
                                                         AmA32UserBlock64, &count)
                               : KOVRAVME_BLTWriteCycle(handle_, kMemoryBase, data.data(), size,
                                                        AmA32UserData, width, &count);
        ASSERT_EQ(result, Success);
        ASSERT_EQ(count, size);
        std::vector<uint8_t> back(static_cast<size_t>(size));
        ASSERT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, back.data(), size, AmA32UserBlock, D8,
                                        &count),
                  Success);
        ASSERT_EQ(count, size);
        for (size_t i = 0; i < back.size(); ++i) {
            size_t within = i % itemBytes;
            size_t source = i - within + (swapped ? itemBytes - 1 - within : within);
            ASSERT_EQ(back[i], data[source]) << "byte " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllWidths, BlockWidth,
                         ::testing::Values(D8, D16, D32, D64, D16Swapped, D32Swapped, D64Swapped),
                         [](const auto& instance) {
                             return "Width0x" + std::to_string(instance.param >> 4) +
                                    std::to_string(instance.param & 0xF);
                         });

}  // namespace
}  // namespace nimbra::test
