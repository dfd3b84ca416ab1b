#pragma once
// Device paths cross the Win32-shaped API as UTF-16 and the device sources as UTF-8.

#include "platform/win32/WinTypes.h"

#include <string>

namespace platform {

// Up to the terminating NUL. Unpaired surrogates become U+FFFD.
std::string utf8FromUtf16(LPCWSTR text);
// A malformed sequence becomes U+FFFD.
std::u16string utf16FromUtf8(const std::string& utf8);

} // namespace platform
