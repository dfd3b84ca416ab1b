#pragma once
// The one string-to-integer conversion of the tool, and integer-to-hex.
//
// StrToInt accepts optional leading blanks, an optional sign, then "$", "0x" or "0X" followed
// by hexadecimal digits (either case), or decimal digits; nothing may follow. The value must
// fit a signed 32-bit integer; hexadecimal texts of up to eight digits are taken as their bit
// pattern ("$FFFFFFFF" is -1). Anything else raises EConvertError naming the text.

#include "platform/base/Exception.h"

#include <cstdint>
#include <string>
#include <string_view>

std::int32_t StrToInt(std::string_view text);
// Upper-case hexadecimal, zero-padded to at least `digits` digits.
std::string IntToHex(std::uint32_t value, int digits);
