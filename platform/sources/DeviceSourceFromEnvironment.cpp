#include "platform/sources/DeviceSourceFromEnvironment.h"

#include "platform/sources/LinuxDeviceSource.h"
#include "platform/sources/SimDeviceSource.h"
#include "platform/sources/SimScenario.h"
#include "platform/sources/SimScenarioRunner.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

namespace {

constexpr std::string_view ScenarioPrefix = "sim:";

std::unique_ptr<DeviceSource> scenarioSource(const char* value, const std::string& path) {
    ScenarioError error;
    const auto scenario = loadScenarioFile(path, error);
    if (!scenario) {
        std::fprintf(stderr, "tarvex: TARVEX_HID_PLATFORM=\"%s\": scenario %s: %s\n", value,
                     path.c_str(), error.message().c_str());
        return nullptr;
    }
    auto source = startScenario(*scenario);
    std::error_code ignored;
    source->setSimulationName("sim:" + std::filesystem::weakly_canonical(path, ignored).string());
    return source;
}

} // namespace

std::unique_ptr<DeviceSource> deviceSourceFromEnvironment() {
    const char* value = std::getenv("TARVEX_HID_PLATFORM");
    const std::string_view choice = value != nullptr ? value : "";
    if (choice.empty() || choice == "native") {
        return std::make_unique<LinuxDeviceSource>();
    }
    if (choice == "sim") {
        auto source = makeBuiltInSimulation();
        source->setSimulationName("sim");
        return source;
    }
    if (choice.starts_with(ScenarioPrefix) && choice.size() > ScenarioPrefix.size()) {
        return scenarioSource(value, std::string(choice.substr(ScenarioPrefix.size())));
    }
    std::fprintf(stderr,
                 "tarvex: TARVEX_HID_PLATFORM=\"%s\" is not supported; use \"native\", \"sim\" "
                 "or \"sim:FILE\".\n",
                 value);
    return nullptr;
}

} // namespace platform
