#include "platform/win32/Utf16.h"

#include <gtest/gtest.h>

// Device paths go from the sources (UTF-8) to the Win32-shaped API (UTF-16) and back when a
// path is opened: the round trip must give the same bytes, whatever the characters.
TEST(Utf16, DevicePathsSurviveTheRoundTrip) {
    for (const std::string path : {"/dev/hidraw0", "/sim/Lökator", "/sim/\xE2\x82\xAC",
                                   "/sim/\xF0\x9F\x94\x8C" /* outside the basic plane */}) {
        const std::u16string wide = platform::utf16FromUtf8(path);
        EXPECT_EQ(platform::utf8FromUtf16(wide.c_str()), path);
    }
    EXPECT_EQ(platform::utf16FromUtf8("\xF0\x9F\x94\x8C").size(), 2u); // a surrogate pair
}

TEST(Utf16, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(platform::utf16FromUtf8("a\xC3"), u"a\uFFFD");                   // truncated sequence
    EXPECT_EQ(platform::utf16FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    EXPECT_EQ(platform::utf8FromUtf16(lone), "x\xEF\xBF\xBDy");
}
