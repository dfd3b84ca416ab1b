#include "platform/win32/Locale.h"

#include "platform/win32/Win32.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace {

constexpr std::array<std::pair<LCID, std::u16string_view>, 32> localeNames{{
    {0x0401, u"Arabic (Saudi Arabia)"},   {0x0404, u"Chinese (Taiwan)"},
    {0x0405, u"Czech (Czech Republic)"},  {0x0406, u"Danish (Denmark)"},
    {0x0407, u"German (Germany)"},        {0x0408, u"Greek (Greece)"},
    {0x0409, u"English (United States)"}, {0x040B, u"Finnish (Finland)"},
    {0x040C, u"French (France)"},         {0x040D, u"Hebrew (Israel)"},
    {0x040E, u"Hungarian (Hungary)"},     {0x0410, u"Italian (Italy)"},
    {0x0411, u"Japanese (Japan)"},        {0x0412, u"Korean (Korea)"},
    {0x0413, u"Dutch (Netherlands)"},     {0x0414, u"Norwegian, Bokm\u00E5l (Norway)"},
    {0x0415, u"Polish (Poland)"},         {0x0416, u"Portuguese (Brazil)"},
    {0x0419, u"Russian (Russia)"},        {0x041D, u"Swedish (Sweden)"},
    {0x041F, u"Turkish (Turkey)"},        {0x0804, u"Chinese (People's Republic of China)"},
    {0x0807, u"German (Switzerland)"},    {0x0809, u"English (United Kingdom)"},
    {0x080C, u"French (Belgium)"},        {0x0816, u"Portuguese (Portugal)"},
    {0x0C07, u"German (Austria)"},        {0x0C09, u"English (Australia)"},
    {0x0C0A, u"Spanish (Spain)"},         {0x0C0C, u"French (Canada)"},
    {0x1009, u"English (Canada)"},        {0x100C, u"French (Switzerland)"},
}};

int fail(DWORD error) {
    SetLastError(error);
    return 0;
}

} // namespace

int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData) {
    if (LCType != LOCALE_SLANGUAGE)
        return fail(ERROR_INVALID_FLAGS);
    const auto entry = std::find_if(localeNames.begin(), localeNames.end(),
                                    [Locale](const auto& known) { return known.first == Locale; });
    if (entry == localeNames.end() || cchData < 0 || (cchData > 0 && lpLCData == nullptr))
        return fail(ERROR_INVALID_PARAMETER);
    const std::u16string_view name = entry->second;
    const int length = static_cast<int>(name.size()) + 1;
    if (cchData == 0)
        return length;
    if (cchData < length)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(name.begin(), name.end(), lpLCData);
    lpLCData[name.size()] = u'\0';
    return length;
}
