#pragma once
// The fifteen configuration fields by the names the window's controls carry (cbxOEM1 holds
// OEM1), each with the range the window offers and its values as the window shows them: two
// hex digits for the OEM identifiers, the power and the extended bytes, decimal numbers for the
// Location ID, counts and periods, "ON"/"OFF" for the switches, the mode's name for the
// frequency. Profiles and tarvexctl name and show fields this way.

#include "locator/LocatorReport.h"

#include <array>
#include <optional>
#include <string>

enum class TFieldKind { HexByte, Number, OnOff, Frequency };

struct TLocatorFieldInfo {
    const char* Name;
    TFieldKind Kind;
    int Min; // the window's range, as the field's number
    int Max;
    const char* CompareLine; // the terminal line of a failed verification
};

inline constexpr int kLocatorFieldCount = 15;

// In report order.
const std::array<TLocatorFieldInfo, kLocatorFieldCount>& LocatorFields();
// The field with that name (exact, case-sensitive); none for another name.
std::optional<int> LocatorFieldIndex(const std::string& name);

// The frequency modes by code, as the window's list shows them.
const std::array<const char*, 10>& FrequencyModeNames();

// A field's number: the byte, the Location ID, 1/0 for ON/OFF, the frequency mode's code.
int FieldNumber(const TLocatorConfig& config, int field);
void SetFieldNumber(TLocatorConfig& config, int field, int number);
// The field as the window shows it; a frequency code without a name shows as its number.
std::string FieldText(const TLocatorConfig& config, int field);
// A field's number from the text the window shows for it; none when the text is not one of
// the field's forms or lies outside the window's range.
std::optional<int> FieldNumberFromText(int field, const std::string& text);
// What the window allows for a field, in words: "1 to 4095", "hex 01 to FE", ...
std::string FieldAllowedText(int field);
