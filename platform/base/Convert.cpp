#include "platform/base/Convert.h"

#include <cctype>

namespace {

[[noreturn]] void raiseNotAnInteger(std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

int digitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

} // namespace

std::int32_t StrToInt(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+'))
        negative = text[pos++] == '-';

    int base = 10;
    if (pos < text.size() && text[pos] == '$') {
        base = 16;
        ++pos;
    } else if (pos + 1 < text.size() && text[pos] == '0' &&
               (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos == text.size())
        raiseNotAnInteger(text);

    // Decimal must fit in 32 signed bits; hexadecimal may use all 32 bits as a pattern.
    const std::uint64_t limit =
        base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = digitValue(text[pos], base);
        if (digit < 0)
            raiseNotAnInteger(text);
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        if (magnitude > limit)
            raiseNotAnInteger(text);
    }
    const auto bits = static_cast<std::uint32_t>(magnitude);
    return static_cast<std::int32_t>(negative ? 0u - bits : bits);
}

std::string IntToHex(std::uint32_t value, int digits) {
    static const char hexDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), hexDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(text.size()) < digits)
        text.insert(text.begin(), '0');
    return text;
}
