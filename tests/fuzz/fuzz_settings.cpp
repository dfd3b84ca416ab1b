// Feeds arbitrary bytes as a settings file to the profile reader and to the factory-mode flag,
// and checks what a value read from a file must be: a piece of one line of that file, never
// read from a binary file, found the same whatever the letter case of the names asked for, and
// unchanged when the last line gets its newline.

#include "app/Settings.h"
#include "platform/base/IniReader.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

// One scratch file per fuzzing process, rewritten for every input and removed at exit.
class ScratchFile {
public:
    ScratchFile() {
        const char* directory = std::getenv("TMPDIR");
        path_ = std::string(directory != nullptr ? directory : "/tmp") + "/tarvex-fuzz-XXXXXX";
        fd_ = ::mkstemp(path_.data());
        require(fd_ >= 0);
    }
    ~ScratchFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& hold(std::string_view content) {
        require(::ftruncate(fd_, 0) == 0);
        require(::pwrite(fd_, content.data(), content.size(), 0) ==
                static_cast<ssize_t>(content.size()));
        return path_;
    }

private:
    std::string path_;
    int fd_ = -1;
};

std::optional<std::string> valueIn(ScratchFile& file, std::string_view content,
                                   std::string_view section, std::string_view key) {
    return ReadPrivateProfileString(file.hold(content), section, key);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFile file;
    const std::string_view content(reinterpret_cast<const char*>(data), size);

    const auto value = valueIn(file, content, "MODE", "Factory");
    if (value) {
        require(content.find('\0') == std::string_view::npos);
        require(value->size() <= kMaxProfileLineLength);
        require(value->find('\n') == std::string::npos);
        require(content.find(*value) != std::string_view::npos);
    }
    require(valueIn(file, content, "mode", "FACTORY") == value);
    require(valueIn(file, std::string(content) + "\n", "MODE", "Factory") == value);

    // The flag only ever comes from a value, and an empty or zero one never turns it on.
    const bool factoryMode = ReadFactoryMode(file.hold(content));
    require(!factoryMode || (value && !value->empty() && *value != "0"));
    return 0;
}
