#pragma once
// The one settings file: beside the executable, named after it with ".ini" in place of its
// last extension. Keys "Factory" of section "MODE" and "MaxLines" of section "TERMINAL" are
// read; the tool never writes it.

#include <optional>
#include <string>

// The executable under the name it was started by: `started` (the path the process was
// started with, relative to the current folder or absolute) made absolute with symbolic links
// kept, so a link's own name and folder are the ones that count. `running` (the resolved
// executable) when `started` is empty or does not lead to it.
std::string StartedExecutablePath(const std::string& started, const std::string& running);

// "/opt/t/Tarvex.exe" -> "/opt/t/Tarvex.ini", "/opt/t/a.b.exe" -> "/opt/t/a.b.ini",
// "/opt/t/tarvex" -> "/opt/t/tarvex.ini".
std::string SettingsFilePath(const std::string& executablePath);

// Factory mode is on when "Factory" in "MODE" holds a non-zero integer. A text longer than two
// characters starting with "0x" or "0X" is hexadecimal, as is one starting with "$"; anything
// else is decimal. A missing or unreadable file, section, key or a value that is not an
// integer gives false.
bool ReadFactoryMode(const std::string& settingsPath);

// How many lines the terminal keeps: "MaxLines" in "TERMINAL", an integer from 1 up, read as
// "Factory" is. Nothing for a missing or unreadable value, or one below 1.
std::optional<int> ReadTerminalLines(const std::string& settingsPath);
