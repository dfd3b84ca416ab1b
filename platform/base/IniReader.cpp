#include "platform/base/IniReader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace {

std::string_view trimmed(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool isReadableProfile(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status))
        return false;
    const auto size = std::filesystem::file_size(path, error);
    return !error && size <= kMaxProfileFileSize;
}

enum class LineResult { Line, Overlong, End, Binary };

// Reads the next line into `line`, at most kMaxProfileLineLength characters; the rest of a
// longer line is skipped and the line reported as overlong. A NUL byte marks the file as
// binary.
LineResult nextLine(std::istream& in, std::string& line) {
    line.clear();
    bool overlong = false;
    int c;
    while ((c = in.get()) != EOF && c != '\n') {
        if (c == '\0')
            return LineResult::Binary;
        if (line.size() < kMaxProfileLineLength)
            line.push_back(static_cast<char>(c));
        else
            overlong = true;
    }
    if (c == EOF && line.empty() && !overlong)
        return LineResult::End;
    return overlong ? LineResult::Overlong : LineResult::Line;
}

} // namespace

std::optional<std::string>
ReadPrivateProfileString(const std::string& path, std::string_view section, std::string_view key) {
    if (!isReadableProfile(path))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;

    enum class Place { BeforeSection, InSection, AfterSection } place = Place::BeforeSection;
    std::optional<std::string> found;
    std::string line;
    for (;;) {
        const LineResult result = nextLine(in, line);
        if (result == LineResult::End)
            break;
        if (result == LineResult::Binary)
            return std::nullopt;
        if (result == LineResult::Overlong || place == Place::AfterSection)
            continue;
        const std::string_view text = trimmed(line);
        if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
            const bool matches = sameName(trimmed(text.substr(1, text.size() - 2)), section);
            if (place == Place::InSection)
                place = Place::AfterSection;
            else if (matches)
                place = Place::InSection;
            continue;
        }
        const auto equals = text.find('=');
        if (place != Place::InSection || equals == std::string_view::npos || found)
            continue;
        if (sameName(trimmed(text.substr(0, equals)), key))
            found = std::string(unquoted(trimmed(text.substr(equals + 1))));
    }
    return found;
}
