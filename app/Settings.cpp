#include "app/Settings.h"

#include "platform/base/Convert.h"
#include "platform/base/IniReader.h"

#include <filesystem>
#include <system_error>

std::string StartedExecutablePath(const std::string& started, const std::string& running) {
    if (started.empty())
        return running;
    std::error_code error;
    const auto path = std::filesystem::absolute(started, error).lexically_normal();
    if (error || !std::filesystem::equivalent(path, running, error) || error)
        return running;
    return path.string();
}

std::string SettingsFilePath(const std::string& executablePath) {
    const auto nameStart = executablePath.find_last_of('/') + 1; // 0 when there is no folder
    const auto dot = executablePath.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return executablePath.substr(0, hasExtension ? dot : executablePath.size()) + ".ini";
}

namespace {

// A text longer than two characters starting with "0x" or "0X" is hexadecimal, as is one
// starting with "$"; anything else is decimal.
std::optional<int> ReadInteger(const std::string& settingsPath, const char* section,
                               const char* key) {
    const auto value = ReadPrivateProfileString(settingsPath, section, key);
    if (!value)
        return std::nullopt;
    std::string text = *value;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = "$" + text.substr(2);
    try {
        return StrToInt(text);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

} // namespace

bool ReadFactoryMode(const std::string& settingsPath) {
    return ReadInteger(settingsPath, "MODE", "Factory").value_or(0) != 0;
}

std::optional<int> ReadTerminalLines(const std::string& settingsPath) {
    const auto lines = ReadInteger(settingsPath, "TERMINAL", "MaxLines");
    if (!lines || *lines < 1)
        return std::nullopt;
    return lines;
}
