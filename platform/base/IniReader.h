#pragma once
// A private-profile ("INI") reader with that format's rules: section and key names compare
// without regard to letter case, blanks around names and values are trimmed, one pair of
// matching quotes around a value is removed, the first matching section and the first
// matching key in it win, and lines that are not "key=value" are passed over.
//
// It never throws and never holds more than one bounded line in memory. A file that is
// missing, not a regular file, larger than kMaxProfileFileSize, or that holds a NUL byte
// (binary) reads as having no value at all.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::uintmax_t kMaxProfileFileSize = 1024 * 1024;
inline constexpr std::size_t kMaxProfileLineLength = 4096;

std::optional<std::string> ReadPrivateProfileString(const std::string& path,
                                                    std::string_view section, std::string_view key);
