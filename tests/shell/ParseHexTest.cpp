#include <gtest/gtest.h>

#include "shell/ParseHex.h"

namespace tarvo {
namespace {

TEST(ParseHexTest, ReadsTheBaseAddressTextsOfTheStoreAndTheField) {
    struct Case {
        const char* text;
        uint32_t value;
    };
    const Case cases[] = {
        {"03030000", 0x03030000},
        {"", 0},
        {"  3030000", 0x3030000},  // leading blanks skipped
        {"\t 1A00", 0x1A00},       // tabs too
        {"  1A00", 0x1A00},        // the field's two blanks before 1A00
        {"3030000 x", 0x3030000},  // a blank ends the number, what follows is not read
        {"3030000\tjunk", 0x3030000},
        {"0x3030000", 0},  // x is no hexadecimal digit
        {"12G4", 0},       // any other character gives 0
        {"abcDEF", 0xABCDEF},
        {"   ", 0},
        {"123456789", 0x23456789},  // wraps at 32 bits
        {"FFFFFFFF", 0xFFFFFFFF},
        {"-1", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseHex(c.text), c.value) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace tarvo
