#include "platform/win32/Locale.h"
#include "platform/win32/Win32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Locale, KnownLanguagesAreNamedWithTheirNul) {
    WCHAR name[64];
    ASSERT_EQ(GetLocaleInfoW(0x0409, LOCALE_SLANGUAGE, name, 64), 24);
    EXPECT_EQ(std::u16string(name), u"English (United States)");
    ASSERT_GT(GetLocaleInfoW(0x0411, LOCALE_SLANGUAGE, name, 64), 0);
    EXPECT_EQ(std::u16string(name), u"Japanese (Japan)");
}

TEST(Locale, LengthQueryAndTooSmallBuffer) {
    EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SLANGUAGE, nullptr, 0), 17); // "German (Germany)"
    WCHAR name[16];
    std::fill(std::begin(name), std::end(name), u'#');
    EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SLANGUAGE, name, 16), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(name[0], u'#') << "nothing written";
}

TEST(Locale, UnknownLocaleAndUnknownRequest) {
    WCHAR name[64];
    EXPECT_EQ(GetLocaleInfoW(0x7FFF, LOCALE_SLANGUAGE, name, 64), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetLocaleInfoW(0x10409, LOCALE_SLANGUAGE, name, 64), 0)
        << "a sort order is a locale of its own";
    EXPECT_EQ(GetLocaleInfoW(0x0409, 0x1001, name, 64), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SLANGUAGE, nullptr, 64), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

} // namespace
