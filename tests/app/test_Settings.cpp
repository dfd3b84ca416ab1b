#include "app/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

TEST(SettingsFilePath, IsTheExecutableNameWithIniForItsLastExtension) {
    EXPECT_EQ(SettingsFilePath("/opt/tarvex/Tarvex.exe"), "/opt/tarvex/Tarvex.ini");
    EXPECT_EQ(SettingsFilePath("/opt/tarvex/a.b.exe"), "/opt/tarvex/a.b.ini");
    EXPECT_EQ(SettingsFilePath("/opt/tarvex/tarvex"), "/opt/tarvex/tarvex.ini");
    EXPECT_EQ(SettingsFilePath("/opt/tarvex/Probe.exe"), "/opt/tarvex/Probe.ini");
    EXPECT_EQ(SettingsFilePath("/opt/v1.2/tarvex"), "/opt/v1.2/tarvex.ini"); // dot in a folder
}

TEST(ReadFactoryMode, FollowsTheValueRules) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarvex-mode-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "tarvex.ini").string();

    EXPECT_FALSE(ReadFactoryMode(path)); // no file

    struct Case {
        const char* value;
        bool factory;
    };
    const Case cases[] = {{"1", true},     {"2", true},    {"-1", true}, {"0x1", true},
                          {"$1", true},    {"0X10", true}, {"0", false}, {"0x0", false},
                          {"true", false}, {"yes", false}, {"", false},  {"0x", false},
                          {"1x", false},   {"$", false}};
    for (const auto& c : cases) {
        std::ofstream(path) << "[MODE]\nFactory=" << c.value << "\n";
        EXPECT_EQ(ReadFactoryMode(path), c.factory) << "Factory=" << c.value;
    }
    std::ofstream(path) << "[Mode]\nFACTORY=1\n";
    EXPECT_TRUE(ReadFactoryMode(path));
    std::ofstream(path) << "[SETTINGS]\nFactory=1\n";
    EXPECT_FALSE(ReadFactoryMode(path));

    std::filesystem::remove_all(dir);
}

TEST(StartedExecutablePath, KeepsALinksOwnNameAndFolder) {
    namespace fs = std::filesystem;
    const auto dir = fs::temp_directory_path() / ("tarvex-started-" + std::to_string(::getpid()));
    fs::create_directories(dir / "real");
    fs::create_directories(dir / "links");
    const std::string running = (dir / "real" / "tarvex").string();
    std::ofstream(running) << "#!/bin/sh\n";
    fs::create_symlink(running, dir / "links" / "probe");

    EXPECT_EQ(StartedExecutablePath((dir / "links" / "probe").string(), running),
              (dir / "links" / "probe").string());
    EXPECT_EQ(SettingsFilePath(StartedExecutablePath((dir / "links/./probe").string(), running)),
              (dir / "links" / "probe.ini").string());
    const auto here = fs::current_path();
    fs::current_path(dir / "links");
    EXPECT_EQ(StartedExecutablePath("./probe", running), (dir / "links" / "probe").string())
        << "a relative start is taken from the current folder";
    fs::current_path(here);

    std::ofstream((dir / "links" / "other").string()) << "#!/bin/sh\n";
    EXPECT_EQ(StartedExecutablePath((dir / "links" / "other").string(), running), running)
        << "a path that does not lead to the running executable";
    EXPECT_EQ(StartedExecutablePath((dir / "links" / "missing").string(), running), running);
    EXPECT_EQ(StartedExecutablePath("", running), running);
    fs::remove_all(dir);
}

TEST(ReadTerminalLines, TakesAPositiveIntegerAndNothingElse) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarvex-lines-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "tarvex.ini").string();

    EXPECT_EQ(ReadTerminalLines(path), std::nullopt); // no file
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"5000", 5000},      {"0x10", 16},         {"1", 1},
        {"0", std::nullopt}, {"-5", std::nullopt}, {"many", std::nullopt}};
    for (const auto& [value, lines] : cases) {
        std::ofstream(path) << "[MODE]\nFactory=1\n[Terminal]\nmaxlines=" << value << "\n";
        EXPECT_EQ(ReadTerminalLines(path), lines) << "MaxLines=" << value;
    }
    std::filesystem::remove_all(dir);
}
