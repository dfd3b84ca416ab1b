#include "locator/LocatorProfile.h"

#include <nlohmann/json.hpp>

using nlohmann::ordered_json;

namespace {

constexpr const char* kFormat = "tarvex-profile";

[[noreturn]] void refuse(const std::string& message) {
    throw EProfileError(message);
}

int fieldNumber(int field, const ordered_json& value) {
    const TLocatorFieldInfo& info = LocatorFields()[field];
    const std::string where = std::string("field \"") + info.Name + "\": ";
    std::optional<int> number;
    if (info.Kind == TFieldKind::Number) {
        if (!value.is_number_integer())
            refuse(where + "expected a whole number, got " + value.dump());
        const auto whole = value.get<long long>();
        if (whole >= info.Min && whole <= info.Max)
            number = static_cast<int>(whole);
    } else {
        if (!value.is_string())
            refuse(where + "expected a string, got " + value.dump());
        number = FieldNumberFromText(field, value.get<std::string>());
    }
    if (!number)
        refuse(where + value.dump() + " is not allowed (" + FieldAllowedText(field) + ")");
    return *number;
}

ordered_json fieldJson(const TLocatorConfig& config, int field) {
    if (LocatorFields()[field].Kind == TFieldKind::Number)
        return FieldNumber(config, field);
    return FieldText(config, field);
}

} // namespace

bool TLocatorProfile::NamesAnyField() const {
    for (const auto& value : Fields)
        if (value)
            return true;
    return false;
}

TLocatorConfig TLocatorProfile::AppliedTo(TLocatorConfig base) const {
    for (int field = 0; field < kLocatorFieldCount; ++field)
        if (Fields[field])
            SetFieldNumber(base, field, *Fields[field]);
    return base;
}

TLocatorProfile ParseLocatorProfile(const std::string& text) {
    const ordered_json document = ordered_json::parse(text, nullptr, false);
    if (document.is_discarded())
        refuse("not a JSON document");
    if (!document.is_object())
        refuse("a profile is a JSON object");
    if (document.value("format", ordered_json()) != kFormat)
        refuse(std::string("\"format\" must be \"") + kFormat + "\"");
    const ordered_json version = document.value("version", ordered_json());
    if (!version.is_number_integer() || version.get<long long>() < 1)
        refuse("\"version\" must be a whole number from 1");
    if (version.get<long long>() > kProfileVersion)
        refuse("version " + version.dump() + " is newer than this tool reads (" +
               std::to_string(kProfileVersion) + ")");
    for (const auto& [key, value] : document.items())
        if (key != "format" && key != "version" && key != "fields" && key != "device")
            refuse("unknown key \"" + key + "\"");
    const ordered_json fields = document.value("fields", ordered_json::object());
    if (!fields.is_object())
        refuse("\"fields\" must be an object");
    TLocatorProfile profile;
    for (const auto& [name, value] : fields.items()) {
        const auto field = LocatorFieldIndex(name);
        if (!field)
            refuse("unknown field \"" + name + "\"");
        profile.Fields[*field] = fieldNumber(*field, value);
    }
    return profile;
}

std::string LocatorProfileText(const TLocatorConfig& config, const std::string& deviceJson) {
    ordered_json document;
    document["format"] = kFormat;
    document["version"] = kProfileVersion;
    if (!deviceJson.empty())
        document["device"] = ordered_json::parse(deviceJson);
    ordered_json fields = ordered_json::object();
    for (int field = 0; field < kLocatorFieldCount; ++field)
        fields[LocatorFields()[field].Name] = fieldJson(config, field);
    document["fields"] = fields;
    return document.dump(2) + "\n";
}
