#include <gtest/gtest.h>

#include "shell/FieldValidation.h"

namespace tarvo {
namespace {

TEST(FieldValidationTest, AcceptsIntegersInRangeAndNamesFieldAndRangeOtherwise) {
    EXPECT_EQ(std::get<int64_t>(readIntegerField("31", "Channel", 0, 31)), 31);
    EXPECT_EQ(std::get<int64_t>(readIntegerField(" 0 ", "Channel", 0, 31)), 0);
    EXPECT_EQ(std::get<int64_t>(readIntegerField("-5", "Cycle", INT32_MIN, INT32_MAX)), -5);
    for (const char* bad : {"32", "-1", "", "3a", "1.5", "0x1", "99999999999999999999"}) {
        auto r = readIntegerField(bad, "Channel", 0, 31);
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << bad;
        EXPECT_EQ(std::get<std::string>(r), "Channel: enter an integer between 0 and 31.");
    }
}

}  // namespace
}  // namespace tarvo
