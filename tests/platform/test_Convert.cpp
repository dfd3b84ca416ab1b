#include "platform/base/Convert.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

TEST(StrToInt, ReadsDecimalHexadecimalAndSigns) {
    const std::vector<std::pair<std::string, std::int32_t>> cases{
        {"0", 0},
        {"4095", 4095},
        {"  12", 12},
        {"-1", -1},
        {"+7", 7},
        {"$FF", 255},
        {"$ff", 255},
        {"$0A", 10},
        {"0x1F", 31},
        {"0X1f", 31},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"$FFFFFFFF", -1},
        {"$7FFFFFFF", 2147483647},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(StrToInt(text), value) << text;
}

TEST(StrToInt, RaisesConvertErrorForAnythingElse) {
    const std::vector<std::string> rejected{
        "",    " ",   "$",          "0x",          "-",          "12 ",   "1a", "true", "yes",
        "$G1", "$-1", "2147483648", "-2147483649", "$100000000", "0x1.0", "\t", "1\n",  "--1",
    };
    for (const auto& text : rejected)
        EXPECT_THROW(StrToInt(text), EConvertError) << "'" << text << "'";
}

TEST(StrToInt, ConvertErrorIsTheToolsExceptionAndNamesTheText) {
    try {
        StrToInt("abc");
        FAIL() << "no error raised";
    } catch (const Exception& error) {
        EXPECT_NE(error.Message().find("'abc'"), std::string::npos) << error.Message();
    }
}

TEST(IntToHex, WritesUpperCaseDigitsPaddedToWidth) {
    EXPECT_EQ(IntToHex(0x0, 2), "00");
    EXPECT_EQ(IntToHex(0xA, 2), "0A");
    EXPECT_EQ(IntToHex(0xFE, 2), "FE");
    EXPECT_EQ(IntToHex(0x3F7C, 2), "3F7C");
    EXPECT_EQ(IntToHex(0xDEADBEEF, 1), "DEADBEEF");
    EXPECT_EQ(IntToHex(0x5, 4), "0005");
}
