#pragma once
// Small pieces of reading the line-oriented text files of the simulated source: scenarios and
// recordings.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace platform::scenario_text {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

inline std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Hands each line of text to visit(number, line), numbered from 1 and without its LF or CR LF;
// false as soon as visit refuses a line.
template <typename Visit> bool forEachLine(std::string_view text, Visit visit) {
    for (int number = 1; !text.empty(); ++number) {
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!visit(number, line)) {
            return false;
        }
    }
    return true;
}

// The first blank-separated word of text, and what follows it without leading blanks.
inline std::pair<std::string_view, std::string_view> firstWord(std::string_view text) {
    const auto end = std::find_if(text.begin(), text.end(), isBlank);
    const auto length = static_cast<std::size_t>(end - text.begin());
    return {text.substr(0, length), trimmed(text.substr(length))};
}

// Quotes a piece of the file for a message, cut short so a long line cannot flood stderr.
inline std::string quoted(std::string_view text) {
    constexpr std::size_t shown = 40;
    std::string out = "'";
    out.append(text.substr(0, shown));
    if (text.size() > shown) {
        out += "...";
    }
    return out + "'";
}

inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

inline std::optional<std::uint16_t> parseId(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

// A decimal number no greater than limit.
inline std::optional<unsigned long> parseDecimal(std::string_view text, unsigned long limit) {
    if (text.empty()) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > limit) {
            return std::nullopt;
        }
    }
    return value;
}

} // namespace platform::scenario_text
