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

bool ReadFactoryMode(const std::string& settingsPath) {
    const auto value = ReadPrivateProfileString(settingsPath, "MODE", "Factory");
    if (!value)
        return false;
    std::string text = *value;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = "$" + text.substr(2);
    try {
        return StrToInt(text) != 0;
    } catch (const EConvertError&) {
        return false;
    }
}
