#pragma once
// The one settings file: beside the executable, named after it with ".ini" in place of its
// last extension. Only key "Factory" of section "MODE" is read; the tool never writes it.

#include <string>

// "/opt/t/Tarvex.exe" -> "/opt/t/Tarvex.ini", "/opt/t/a.b.exe" -> "/opt/t/a.b.ini",
// "/opt/t/tarvex" -> "/opt/t/tarvex.ini".
std::string SettingsFilePath(const std::string& executablePath);

// Factory mode is on when "Factory" in "MODE" holds a non-zero integer. A text longer than two
// characters starting with "0x" or "0X" is hexadecimal, as is one starting with "$"; anything
// else is decimal. A missing or unreadable file, section, key or a value that is not an
// integer gives false.
bool ReadFactoryMode(const std::string& settingsPath);
