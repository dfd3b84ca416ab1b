#include "platform/base/IniReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class IniReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = fs::temp_directory_path() /
               ("tarvex-ini-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }

    std::string write(const std::string& content, const std::string& name = "t.ini") {
        const auto path = (FDir / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::optional<std::string> factory(const std::string& content) {
        return ReadPrivateProfileString(write(content), "MODE", "Factory");
    }

    fs::path FDir;
};

struct Case {
    const char* name;
    const char* content;
    std::optional<std::string> expected;
};

TEST_F(IniReaderTest, FollowsPrivateProfileRules) {
    const std::vector<Case> cases{
        {"plain", "[MODE]\nFactory=1\n", "1"},
        {"crlf", "[MODE]\r\nFactory=1\r\n", "1"},
        {"no final newline", "[MODE]\nFactory=1", "1"},
        {"names ignore case", "[mode]\nFACTORY=1\n", "1"},
        {"blanks trimmed", "  [ MODE ]  \n  Factory  =  1  \n", "1"},
        {"double quotes removed", "[MODE]\nFactory=\"2\"\n", "2"},
        {"single quotes removed", "[MODE]\nFactory='2'\n", "2"},
        {"unmatched quote kept", "[MODE]\nFactory=\"2\n", "\"2"},
        {"empty value", "[MODE]\nFactory=\n", ""},
        {"first key wins", "[MODE]\nFactory=1\nFactory=0\n", "1"},
        {"first section wins", "[MODE]\nOther=1\n[MODE]\nFactory=1\n", std::nullopt},
        {"key in other section", "[OTHER]\nFactory=1\n[MODE]\n", std::nullopt},
        {"key before any section", "Factory=1\n[MODE]\n", std::nullopt},
        {"section ends at next header", "[MODE]\n[NEXT]\nFactory=1\n", std::nullopt},
        {"junk lines passed over", "[MODE]\njunk\n;comment\nFactory=3\n", "3"},
        {"value keeps inner '='", "[MODE]\nFactory=a=b\n", "a=b"},
        {"empty file", "", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(factory(c.content), c.expected) << c.name;
}

TEST_F(IniReaderTest, MissingFileOrDirectoryHasNoValue) {
    EXPECT_EQ(ReadPrivateProfileString((FDir / "absent.ini").string(), "MODE", "Factory"),
              std::nullopt);
    fs::create_directories(FDir / "dir.ini");
    EXPECT_EQ(ReadPrivateProfileString((FDir / "dir.ini").string(), "MODE", "Factory"),
              std::nullopt);
}

TEST_F(IniReaderTest, BinaryFileHasNoValue) {
    std::string content = "[MODE]\nFactory=1\n";
    content += std::string("\x00\x01\xFF\xFE", 4);
    EXPECT_EQ(factory(content), std::nullopt);
}

TEST_F(IniReaderTest, OverlongLineIsPassedOverWithoutLosingLaterLines) {
    const std::string longLine(kMaxProfileLineLength * 3, 'x');
    EXPECT_EQ(factory("[MODE]\n" + longLine + "\nFactory=1\n"), "1");
    // A key whose line is too long to hold is not taken, even if it would match.
    EXPECT_EQ(factory("[MODE]\nFactory=1" + std::string(kMaxProfileLineLength, ' ') + "\n"),
              std::nullopt);
}

TEST_F(IniReaderTest, HugeFileHasNoValue) {
    const auto path = (FDir / "huge.ini").string();
    {
        std::ofstream out(path, std::ios::binary);
        out << "[MODE]\nFactory=1\n";
        const std::string block(1 << 20, 'z'); // one megabyte without a newline
        for (int i = 0; i < 30; ++i)
            out << block;
    }
    EXPECT_EQ(ReadPrivateProfileString(path, "MODE", "Factory"), std::nullopt);
}

TEST_F(IniReaderTest, FileJustBelowTheLimitIsRead) {
    std::string content = "[MODE]\nFactory=1\n";
    content += std::string(kMaxProfileFileSize - content.size(), '\n');
    EXPECT_EQ(factory(content), "1");
}

} // namespace
