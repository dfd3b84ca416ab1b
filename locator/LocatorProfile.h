#pragma once
// A profile: the configuration fields a locator is to get, as a versioned JSON document that
// names fields as the window does (LocatorFields.h) and may name only some of them:
//
//   {"format": "tarvex-profile", "version": 1,
//    "fields": {"LocationID": 17, "Frequency": "869 Single", "Ext1": "0A"}}
//
// Hex fields are strings of one or two hex digits, the Location ID, counts and periods are
// numbers, the switches "ON" or "OFF", the frequency a mode's name. A "device" object, as
// tarvexctl's read writes it, says where the values were read and is otherwise ignored.

#include "locator/LocatorFields.h"
#include "locator/LocatorReport.h"
#include "platform/base/Exception.h"

#include <array>
#include <optional>
#include <string>

inline constexpr int kProfileVersion = 1;

// A refused profile; the message names the field (or the key) at fault.
class EProfileError : public Exception {
public:
    using Exception::Exception;
};

struct TLocatorProfile {
    // By field index; none: the device keeps its value.
    std::array<std::optional<int>, kLocatorFieldCount> Fields;

    bool NamesAnyField() const;
    // The configuration to write: base, with the fields the profile names.
    TLocatorConfig AppliedTo(TLocatorConfig base) const;
};

// Raises EProfileError for text that is not JSON, another format or a newer version, an
// unknown key or field, a value of the wrong type or outside the window's range.
TLocatorProfile ParseLocatorProfile(const std::string& text);
// The profile naming every field of config, as text ending in a newline; deviceJson, when not
// empty, is a JSON object placed under "device".
std::string LocatorProfileText(const TLocatorConfig& config, const std::string& deviceJson = {});
