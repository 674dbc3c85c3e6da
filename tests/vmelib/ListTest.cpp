#include <gtest/gtest.h>

#include "BridgeFixture.h"

namespace nimbra::test {
namespace {

using List = BridgeTest;

TEST_F(List, EntriesArePackedAndTheReplyWalkedEntryByEntry) {
    uint32_t addresses[4] = {0x00100101, 0x00100102, 0x00100104, 0x00100108};
    uint32_t data[4] = {0xAB, 0xCD, 0x1234, 0xCAFEF00D};
    AddressModifier ams[4] = {AmA32UserData, AmA32UserData, AmA24UserData, AmA32UserData};
    DataWidth widths[4] = {D8, D8, D16, D32};
    ErrorCode results[4];
    ASSERT_EQ(KOVRAVME_MultiWrite(handle_, addresses, data, 4, ams, widths, results), Success);
    uint32_t back[4] = {};
    ASSERT_EQ(KOVRAVME_MultiRead(handle_, addresses, back, 4, ams, widths, results), Success);
    EXPECT_EQ(back[0], 0xABu);  // odd address: the first byte of the field
    EXPECT_EQ(back[1], 0xCDu);  // even address: the second
    EXPECT_EQ(back[2], 0x1234u);
    EXPECT_EQ(back[3], 0xCAFEF00Du);
    for (ErrorCode r : results) {
        EXPECT_EQ(r, Success);
    }
    // 0x8001 / 0xC001 | AM << 8 | width code << 4, 0x80 on the last entry.
    EXPECT_EQ(requests(), hexes({"0189 01011000 ab00 "
                                 "0189 02011000 00cd "
                                 "11b9 04011000 3412 "
                                 "a189 08011000 0df0feca",
                                 "01c9 01011000 01c9 02011000 11f9 04011000 a1c9 08011000"}));
    // Write reply: the status of every entry but the last; read reply: data, then those.
    EXPECT_EQ(replies(), hexes({"000000000000 0000", "ab000000 00cd0000 34120000 0df0feca 0000"}));
}

TEST_F(List, GroupsOfAHundredWithAStatusPerCycle) {
    constexpr int32_t n = 101;
    uint32_t addresses[n];
    uint32_t data[n];
    AddressModifier ams[n];
    DataWidth widths[n];
    ErrorCode results[n];
    for (int32_t k = 0; k < n; ++k) {
        addresses[k] = kMemoryBase + 4 * k;
        data[k] = 0x1000 + k;
        ams[k] = AmA32UserData;
        widths[k] = D32;
    }
    ASSERT_EQ(KOVRAVME_MultiWrite(handle_, addresses, data, n, ams, widths, results), Success);
    // The 101st cycle, alone in the second exchange, hits nothing; cycle 50 neither.
    addresses[100] = 0x00900000;
    addresses[50] = 0x00900000;
    uint32_t back[n] = {};
    EXPECT_EQ(KOVRAVME_MultiRead(handle_, addresses, back, n, ams, widths, results), BusError);
    for (int32_t k = 0; k < n; ++k) {
        if (k == 50 || k == 100) {
            EXPECT_EQ(results[k], BusError) << k;
        } else {
            EXPECT_EQ(results[k], Success) << k;
            EXPECT_EQ(back[k], 0x1000u + k) << k;
        }
    }
    std::vector<std::string> sent = requests(4);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].size(), 2u * 100 * 10);
    EXPECT_EQ(sent[1], hexText("a189 90011000 64100000"));
    EXPECT_EQ(sent[2].size(), 2u * 100 * 6);
    EXPECT_EQ(sent[3], hexText("a1c9 00009000"));
}

TEST_F(List, AnUnknownWidthStopsAtItsGroupAndEarlierGroupsStayDone) {
    constexpr int32_t n = 250;
    uint32_t addresses[n];
    uint32_t data[n];
    AddressModifier ams[n];
    DataWidth widths[n];
    ErrorCode results[n];
    for (int32_t k = 0; k < n; ++k) {
        addresses[k] = kMemoryBase + 2 * k;
        data[k] = k;
        ams[k] = AmA32UserData;
        widths[k] = D16;
    }
    ASSERT_EQ(KOVRAVME_MultiWrite(handle_, addresses, data, n, ams, widths, results), Success);
    std::vector<std::string> sent = requests(3);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].size(), 2u * 100 * 8);
    EXPECT_EQ(sent[1].size(), 2u * 100 * 8);
    EXPECT_EQ(sent[2].size(), 2u * 50 * 8);
    clearTrace();

    widths[150] = D64;
    data[0] = 0x7777;
    EXPECT_EQ(KOVRAVME_MultiWrite(handle_, addresses, data, n, ams, widths, results), InvalidParam);
    EXPECT_EQ(requests(1).size(), 1u);
    uint16_t first = 0;
    ASSERT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &first, AmA32UserData, D16), Success);
    EXPECT_EQ(first, 0x7777);
}

TEST_F(List, ListsRefuseMissingArraysAndMoveNothingForNoCycles) {
    uint32_t address = kMemoryBase;
    uint32_t data = 0;
    AddressModifier am = AmA32UserData;
    DataWidth width = D32;
    ErrorCode result;
    EXPECT_EQ(KOVRAVME_MultiRead(handle_, &address, &data, 0, &am, &width, &result), Success);
    EXPECT_EQ(KOVRAVME_MultiRead(handle_, &address, &data, -1, &am, &width, &result), InvalidParam);
    EXPECT_EQ(KOVRAVME_MultiRead(handle_, &address, nullptr, 1, &am, &width, &result),
              InvalidParam);
    EXPECT_EQ(KOVRAVME_MultiWrite(handle_, &address, &data, 1, &am, &width, nullptr), InvalidParam);
    EXPECT_EQ(KOVRAVME_MultiRead(handle_, &address, &data, 1, &am, &width, &result), Success);
    EXPECT_EQ(requests().size(), 1u);
}

}  // namespace
}  // namespace nimbra::test
