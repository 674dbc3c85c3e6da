#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "BridgeFixture.h"
#include "support/TempDir.h"

namespace nimbra::test {
namespace {

constexpr size_t kPage = 264;

using Flash = BridgeTest;

// "xx01" for every byte but the last, "xx00" for the last: the streamed register-3 write.
std::string streamed(const std::vector<uint8_t>& bytes) {
    std::string text = "0300";
    for (size_t i = 0; i < bytes.size(); ++i) {
        text += hex({bytes[i], static_cast<uint8_t>(i + 1 < bytes.size() ? 1 : 0)});
    }
    return text;
}

TEST_F(Flash, PageThreeHundredTravelsAsTheCommandBytesOfTheFlash) {
    std::vector<uint8_t> page(kPage);
    std::iota(page.begin(), page.end(), 0);
    ASSERT_EQ(KOVRAVME_WriteFlashPage(handle_, page.data(), 300), Success);
    std::vector<uint8_t> command(4 + kPage);
    command[0] = 0x82;
    command[1] = 0x02;
    command[2] = 0x58;
    std::copy(page.begin(), page.end(), command.begin() + 4);
    EXPECT_EQ(requests(4), hexes({"8400 0000", "8400 0100", streamed(command), "8400 0000"}));
    EXPECT_EQ(requests()[2].size(), 2u * (2 * 268 + 2));
    clearTrace();

    ASSERT_EQ(KOVRAVME_EraseFlashPage(handle_, 300), Success);
    // Erasing sends its four bytes one register write each.
    EXPECT_EQ(requests(7), hexes({"8400 0000", "8400 0100", "8300 8100", "8300 0200", "8300 5800",
                                  "8300 0000", "8400 0000"}));
    clearTrace();

    std::vector<uint8_t> back(kPage + 8, 0x5C);
    ASSERT_EQ(KOVRAVME_ReadFlashPage(handle_, back.data(), 300), Success);
    std::vector<std::string> sent = requests(9);
    ASSERT_EQ(sent.size(), 9u);
    EXPECT_EQ(sent[2], streamed({0xD2, 0x02, 0x58, 0x00, 0x00, 0x00, 0x00, 0x00}));
    for (int k = 3; k < 8; ++k) {
        EXPECT_EQ(sent[k], "0340");  // register 3 read without the last-operation bit
    }
    EXPECT_EQ(sent[8], hexText("8400 0000"));
    // Five reads fetched 320 bytes; the caller gets the page's 264 and nothing more.
    EXPECT_TRUE(
        std::all_of(back.begin(), back.begin() + kPage, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(back.begin() + kPage, back.end(), [](uint8_t b) { return b == 0x5C; }));
}

TEST_F(Flash, WrittenPagesReadBackAndEraseToOnes) {
    std::vector<uint8_t> page(kPage);
    for (size_t i = 0; i < kPage; ++i) {
        page[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    std::vector<uint8_t> other(kPage, 0x42);
    ASSERT_EQ(KOVRAVME_WriteFlashPage(handle_, page.data(), 0), Success);
    ASSERT_EQ(KOVRAVME_WriteFlashPage(handle_, other.data(), 0x7FFF), Success);
    std::vector<uint8_t> back(kPage);
    ASSERT_EQ(KOVRAVME_ReadFlashPage(handle_, back.data(), 0), Success);
    EXPECT_EQ(back, page);
    ASSERT_EQ(KOVRAVME_ReadFlashPage(handle_, back.data(), 0x7FFF), Success);
    EXPECT_EQ(back, other);
    ASSERT_EQ(KOVRAVME_EraseFlashPage(handle_, 0), Success);
    ASSERT_EQ(KOVRAVME_ReadFlashPage(handle_, back.data(), 0), Success);
    EXPECT_EQ(back, std::vector<uint8_t>(kPage, 0xFF));
    ASSERT_EQ(KOVRAVME_ReadFlashPage(handle_, back.data(), 0x7FFF), Success);
    EXPECT_EQ(back, other);
}

TEST_F(Flash, PagesAndBuffersOutsideTheFlashAreRefused) {
    std::vector<uint8_t> page(kPage);
    EXPECT_EQ(KOVRAVME_WriteFlashPage(handle_, page.data(), -1), InvalidParam);
    EXPECT_EQ(KOVRAVME_ReadFlashPage(handle_, page.data(), 0x8000), InvalidParam);
    EXPECT_EQ(KOVRAVME_EraseFlashPage(handle_, -5), InvalidParam);
    EXPECT_EQ(KOVRAVME_WriteFlashPage(handle_, nullptr, 1), InvalidParam);
    EXPECT_EQ(KOVRAVME_ReadFlashPage(handle_, nullptr, 1), InvalidParam);
    EXPECT_EQ(KOVRAVME_ReadFlashPage(64, page.data(), 1), CommError);
    uint16_t value;
    ASSERT_EQ(KOVRAVME_ReadRegister(handle_, 2, &value), Success);
    EXPECT_EQ(requests(), hexes({"8240"}));
}

TEST_F(Flash, APersistedPageSurvivesARestartOfTheCrate) {
    TempDir store;
    const std::string file = store.file("flash.bin");
    start({"--flash", file});
    std::vector<uint8_t> page(kPage);
    for (size_t i = 0; i < kPage; ++i) {
        page[i] = static_cast<uint8_t>(255 - i);
    }
    ASSERT_EQ(KOVRAVME_WriteFlashPage(handle_, page.data(), 1234), Success);
    start({"--flash", file});
    std::vector<uint8_t> back(kPage);
    ASSERT_EQ(KOVRAVME_ReadFlashPage(handle_, back.data(), 1234), Success);
    EXPECT_EQ(back, page);
    ASSERT_EQ(KOVRAVME_EraseFlashPage(handle_, 1234), Success);
    // The erase ends with a register write, which has no reply: let one exchange with a reply
    // follow it before the crate is stopped.
    uint16_t release = 0;
    ASSERT_EQ(KOVRAVME_ReadRegister(handle_, 2, &release), Success);
    start({"--flash", file});
    ASSERT_EQ(KOVRAVME_ReadFlashPage(handle_, back.data(), 1234), Success);
    EXPECT_EQ(back, std::vector<uint8_t>(kPage, 0xFF));
}

}  // namespace
}  // namespace nimbra::test
