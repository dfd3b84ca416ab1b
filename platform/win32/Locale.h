#pragma once
// Locale names by locale identifier, with that system's function for them. The table is our
// own and small: the languages USB devices commonly list for their strings.

#include "platform/win32/WinTypes.h"

using LCID = DWORD;
using LCTYPE = DWORD;

// The locale's language and country or region, in English ("German (Germany)").
constexpr LCTYPE LOCALE_SLANGUAGE = 0x00000002;

// Writes the requested text with its NUL into lpLCData and returns its length in characters,
// NUL included; with cchData 0 only returns that length. 0 on failure: ERROR_INVALID_PARAMETER
// for a locale not in the table or a missing buffer, ERROR_INVALID_FLAGS for another LCType,
// ERROR_INSUFFICIENT_BUFFER when the text and its NUL do not fit.
int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData);
