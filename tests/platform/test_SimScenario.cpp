#include "DeviceTestSupport.h"
#include "platform/sources/DeviceSourceFromEnvironment.h"
#include "platform/sources/SimScenario.h"
#include "platform/sources/SimScenarioRunner.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::filesystem::path examples = TARVEX_SCENARIO_DIR;

Scenario parsed(std::string_view text) {
    ScenarioError error;
    auto scenario = parseScenario(text, error);
    EXPECT_TRUE(scenario.has_value()) << error.message();
    return scenario.value_or(Scenario{});
}

Scenario example(const std::string& name) {
    ScenarioError error;
    auto scenario = loadScenarioFile(examples / name, error);
    EXPECT_TRUE(scenario.has_value()) << name << ": " << error.message();
    return scenario.value_or(Scenario{});
}

ScenarioError refusal(std::string_view text) {
    ScenarioError error;
    EXPECT_FALSE(parseScenario(text, error).has_value()) << text.substr(0, 200);
    return error;
}

// Waits, up to a deadline, for a condition that another thread brings about.
template <typename Condition> bool eventually(Condition condition) {
    const auto deadline = Clock::now() + 10s;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

Report locatorCommand(std::uint8_t command) {
    Report report(SimLocatorReportLength, 0);
    report[1] = command;
    return report;
}

Report readReport(HidConnection& connection) {
    EXPECT_TRUE(waitForEvents(connection.inputFd()) & POLLIN);
    Report report(SimLocatorReportLength + 8);
    const int length = connection.readInput(report.data(), report.size());
    report.resize(length > 0 ? length : 0);
    return report;
}

// The only device a source has, opened; fails the test when there is not exactly one.
std::unique_ptr<HidConnection> openOnly(SimDeviceSource& source, int* error = nullptr) {
    const auto list = source.enumerate();
    EXPECT_EQ(list.size(), 1u);
    int ignored = 0;
    return list.empty() ? nullptr : source.open(list.front().path, error ? error : &ignored);
}

TEST(SimScenarioExamples, EveryExampleFileParses) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(examples)) {
        ScenarioError error;
        EXPECT_TRUE(loadScenarioFile(entry.path(), error).has_value())
            << entry.path() << ": " << error.message();
        ++count;
    }
    EXPECT_GE(count, 4);
}

TEST(SimScenarioExamples, DefaultLocatorIsTheBuiltInLocator) {
    const Scenario scenario = example("default-locator.txt");
    ASSERT_EQ(scenario.devices.size(), 1u);
    const HidInterfaceInfo built = simModelFor(scenario.devices[0]).info;
    const HidInterfaceInfo builtIn = makeSimLocator().info;
    EXPECT_EQ(built.vendorId, builtIn.vendorId);
    EXPECT_EQ(built.productId, builtIn.productId);
    EXPECT_EQ(built.manufacturer, builtIn.manufacturer);
    EXPECT_EQ(built.product, builtIn.product);
    EXPECT_EQ(built.serialNumber, builtIn.serialNumber);
    EXPECT_EQ(built.reportDescriptor, builtIn.reportDescriptor);
    EXPECT_EQ(built.hardwareIds, builtIn.hardwareIds);
    EXPECT_TRUE(built.readWriteAllowed);
}

TEST(SimScenarioExamples, SituationsAreDescribedAsNamed) {
    const Scenario twins = example("two-locators-one-name.txt");
    ASSERT_EQ(twins.devices.size(), 2u);
    const auto first = simModelFor(twins.devices[0]).info;
    const auto second = simModelFor(twins.devices[1]).info;
    EXPECT_EQ(first.product, second.product);
    EXPECT_EQ(first.vendorId, second.vendorId);
    EXPECT_NE(first.serialNumber, second.serialNumber);

    const Scenario denied = example("locator-without-permission.txt");
    ASSERT_EQ(denied.devices.size(), 1u);
    EXPECT_FALSE(simModelFor(denied.devices[0]).info.readWriteAllowed);

    const Scenario flood = example("flooding-device.txt");
    ASSERT_EQ(flood.devices.size(), 1u);
    EXPECT_EQ(flood.devices[0].streamRate, 8000u);
    EXPECT_EQ(flood.devices[0].streamReport.size(), SimLocatorReportLength);
}

TEST(SimScenarioExamples, TwoLocatorsWithOneNameAreTwoDevicesWithTheirOwnPaths) {
    auto source = startScenario(example("two-locators-one-name.txt"));
    const auto list = source->enumerate();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_NE(list[0].path, list[1].path);
    EXPECT_EQ(list[0].product, list[1].product);
}

TEST(SimScenarioRun, EchoAnswersTheLocatorProtocolAndKeepsTheConfiguration) {
    auto source = startScenario(parsed("device keyboard\nanswer echo\n"));
    auto connection = openOnly(*source);
    ASSERT_NE(connection, nullptr);
    Report write = locatorCommand(0x57);
    write[2] = 0x12;
    ASSERT_GT(connection->writeOutput(write.data(), write.size()), 0);
    EXPECT_EQ(readReport(*connection)[2], 0x12);
    ASSERT_GT(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 0);
    const Report read = readReport(*connection);
    ASSERT_EQ(read.size(), SimLocatorReportLength);
    EXPECT_EQ(read[1], 0x52);
    EXPECT_EQ(read[2], 0x12);
}

TEST(SimScenarioRun, SilentDeviceTakesReportsAndNeverAnswers) {
    auto source = startScenario(parsed("device locator\nanswer silent\n"));
    auto connection = openOnly(*source);
    ASSERT_NE(connection, nullptr);
    ASSERT_EQ(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 65);
    // An answer would have been queued before this marker.
    Report marker(SimLocatorReportLength, 0xAB);
    marker[0] = 0;
    ASSERT_TRUE(source->injectInput(source->enumerate().front().path, marker));
    EXPECT_EQ(readReport(*connection), marker);
}

TEST(SimScenarioRun, LateDeviceAnswersNoSoonerThanItsDelay) {
    auto source = startScenario(parsed("device locator\nlate 200\n"));
    auto connection = openOnly(*source);
    ASSERT_NE(connection, nullptr);
    const auto sent = Clock::now();
    ASSERT_GT(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 0);
    EXPECT_EQ(readReport(*connection)[1], 0x52);
    EXPECT_GE(Clock::now() - sent, 200ms);
}

TEST(SimScenarioRun, CustomDeviceWithNumberedReportsAnswersWithTheGivenReport) {
    // One vendor-defined input and output report, both with ID 7, two bytes each.
    auto source = startScenario(parsed("device\n"
                                       "vid 0x1234\n"
                                       "pid 00aB\n"
                                       "manufacturer Acme Radio GmbH\n"
                                       "product Größe 5\n"
                                       "serial\n"
                                       "descriptor 0600FF 0901 A101 8507 0902 1500 26FF00 7508 "
                                       "9502 8102 0903 9102 C0\n"
                                       "answer report 07 CA FE\n"));
    const auto list = source->enumerate();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].vendorId, 0x1234);
    EXPECT_EQ(list[0].productId, 0x00AB);
    EXPECT_EQ(list[0].manufacturer, u"Acme Radio GmbH");
    EXPECT_EQ(list[0].product, u"Größe 5");
    EXPECT_EQ(list[0].serialNumber, u"");
    EXPECT_EQ(list[0].hardwareIds.front(), u"HID\\VID_1234&PID_00AB");
    int error = 0;
    auto connection = source->open(list[0].path, &error);
    ASSERT_NE(connection, nullptr) << error;
    const Report output = {0x07, 0x01, 0x02};
    ASSERT_EQ(connection->writeOutput(output.data(), output.size()), 3);
    EXPECT_EQ(readReport(*connection), (Report{0x07, 0xCA, 0xFE}));
}

TEST(SimScenarioRun, DeniedAccessIsRefusedUntilTheGrant) {
    auto source = startScenario(parsed("device locator\naccess denied\ngrant 500\n"));
    int error = 0;
    EXPECT_EQ(openOnly(*source, &error), nullptr);
    EXPECT_EQ(error, EACCES);
    std::unique_ptr<HidConnection> connection;
    EXPECT_TRUE(eventually([&] { return (connection = openOnly(*source)) != nullptr; }));
}

TEST(SimScenarioRun, StreamSendsItsReportAtAboutItsRate) {
    const auto started = Clock::now();
    auto source = startScenario(parsed("device locator\nstream 2000 00 11 22 33\n"));
    auto connection = openOnly(*source);
    ASSERT_NE(connection, nullptr);
    constexpr int wanted = 400;
    int received = 0;
    const auto deadline = Clock::now() + 10s;
    while (received < wanted && Clock::now() < deadline) {
        if (waitForEvents(connection->inputFd(), 100ms) & POLLIN) {
            Report report(8);
            const int length = connection->readInput(report.data(), report.size());
            report.resize(length > 0 ? length : 0);
            ASSERT_EQ(report, (Report{0x00, 0x11, 0x22, 0x33}));
            ++received;
        }
    }
    EXPECT_EQ(received, wanted);
    // No more than the rate allows can have been sent since the start.
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(wanted * 1000 / 2000));
}

TEST(SimScenarioRun, TimelineUnplugsAndReplugsAsANewInstance) {
    auto source = startScenario(parsed("device locator\nplug 700\nunplug 400\n"));
    const auto before = source->enumerate();
    ASSERT_EQ(before.size(), 1u);
    auto connection = source->open(before[0].path, nullptr);
    ASSERT_NE(connection, nullptr);

    EXPECT_TRUE(eventually([&] { return source->enumerate().empty(); }));
    EXPECT_TRUE(waitForEvents(connection->inputFd()) & POLLHUP);
    EXPECT_TRUE(eventually([&] { return source->enumerate().size() == 1; }));
    const auto after = source->enumerate();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0].instance, before[0].instance);
    EXPECT_NE(after[0].path, before[0].path);
    EXPECT_NE(source->open(after[0].path, nullptr), nullptr);
}

TEST(SimScenarioRun, DeviceAbsentAtTheStartArrivesOnTime) {
    auto source = startScenario(parsed("device locator\n"
                                       "device mouse\nattached no\nplug 400\n"));
    EXPECT_EQ(source->enumerate().size(), 1u);
    EXPECT_TRUE(eventually([&] { return source->enumerate().size() == 2; }));
}

TEST(SimScenarioRun, DestroyingTheSourceStopsStreamsAndTimeline) {
    for (int round = 0; round < 20; ++round) {
        auto source = startScenario(
            parsed("device locator\nstream 20000 00 01\nunplug 1\nplug 2\nunplug 3\nplug 4\n"));
        // The device may already be out: the timeline has begun.
        const auto list = source->enumerate();
        auto connection = list.empty() ? nullptr : source->open(list.front().path, nullptr);
        source.reset(); // joins the runner; a hang here fails the test by its time-out
        if (connection) {
            EXPECT_TRUE(waitForEvents(connection->inputFd()) & (POLLHUP | POLLIN));
        }
    }
}

struct Malformed {
    const char* text;
    int line;
    const char* problem; // a piece of the message
};

TEST(SimScenarioErrors, OneMessageNamesTheLineAndTheProblem) {
    const std::string longString(127, 'x');
    const std::string longReport = "answer report " + std::string(2 * 4097, 'A');
    const Malformed cases[] = {
        {"vid 3F7C\n", 1, "'vid' comes before the first 'device' line"},
        {"# fine\n\ndevice\nfrobnicate 1\n", 4, "unknown setting 'frobnicate'"},
        {"device phone\n", 1, "unknown built-in device 'phone'"},
        {"device\nvid 12345\n", 2, "vid must be 1 to 4 hex digits"},
        {"device\npid 0xG1\n", 2, "pid must be 1 to 4 hex digits"},
        {"device\nvid 1\nserial A\nvid 2\n", 4, "'vid' is already set for this device on line 2"},
        {"device\ndescriptor 0600F\n", 2, "odd number of hex digits"},
        {"device\ndescriptor 06 00 ZZ\n", 2, "'ZZ' is not hex"},
        {"device\ndescriptor\n", 2, "needs at least one byte"},
        {"device\naccess maybe\n", 2, "access must be read-write or denied"},
        {"device\nanswer loudly\n", 2, "answer must be echo, silent or report"},
        {"device\nanswer echo 00\n", 2, "'answer echo' takes nothing after it"},
        {"device\nanswer report\n", 2, "the answer report needs at least one byte"},
        {"device\nlate -5\n", 2, "late must be a whole number of milliseconds from 0 to 60000"},
        {"device\nlate 60001\n", 2, "from 0 to 60000"},
        {"device\nstream 0 00\n", 2, "stream rate must be a whole number"},
        {"device\nstream 20001 00\n", 2, "from 1 to 20000"},
        {"device\nstream 500\n", 2, "the stream report needs at least one byte"},
        {"device\nstream 15000 00\ndevice\nstream 5001 00\n", 4, "all devices together"},
        {"device\nattached maybe\n", 2, "attached must be yes or no"},
        {"device\nunplug 86400001\n", 2, "unplug must be a whole number of milliseconds"},
        {"device\nunplug 10\nunplug 20\n", 3, "'unplug 20' finds the device already unplugged"},
        {"device\nplug 10\n", 2, "'plug 10' finds the device already plugged in"},
        {"device\nattached no\nunplug 5\nplug 9\n", 3, "already unplugged"},
        {"device\ngrant 10\n", 2, "'grant' needs 'access denied'"},
        {"device\r\nvid 1\r\nlate x\r\n", 3, "late must be"},
        {"# only a comment\n", 0, "describes no device"},
        {"", 0, "describes no device"},
    };
    for (const Malformed& c : cases) {
        const ScenarioError error = refusal(c.text);
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_NE(error.message().find(c.problem), std::string::npos)
            << c.text << " gave: " << error.message();
    }

    const ScenarioError tooLong = refusal("device\nproduct " + longString + "\n");
    EXPECT_EQ(tooLong.message(), "line 2: the string is longer than 126 characters");
    EXPECT_EQ(refusal("device\n" + longReport + "\n").message(),
              "line 2: the answer report is longer than 4096 bytes");
}

TEST(SimScenarioErrors, FileBoundsAreKept) {
    EXPECT_EQ(refusal("device\n" + std::string(40000, '#') + "\n").message(),
              "line 2: the line is longer than 32768 characters");
    EXPECT_EQ(refusal(std::string("device\nserial A\0B\n", 18)).line, 2);
    std::string many;
    for (int i = 0; i < 65; ++i) {
        many += "device mouse\n";
    }
    EXPECT_EQ(refusal(many).message(), "line 65: more than 64 devices");
    std::string events = "device\n";
    for (int i = 0; i < 1001; ++i) {
        events += (i % 2 == 0 ? "unplug " : "plug ") + std::to_string(i) + "\n";
    }
    EXPECT_EQ(refusal(events).line, 1002);
    EXPECT_EQ(refusal(std::string(scenario_limits::MaxFileBytes + 1, '\n')).line, 0);
}

TEST(SimScenarioErrors, UnreadableFilesAreNamed) {
    ScenarioError error;
    EXPECT_FALSE(loadScenarioFile("/nonexistent/scenario.txt", error));
    EXPECT_EQ(error.message(), "cannot open the file: No such file or directory");
    EXPECT_FALSE(loadScenarioFile(examples, error)); // a folder
    EXPECT_NE(error.message().find("cannot read"), std::string::npos) << error.message();
}

// A recording replays each device by its D: number, with the report ID byte the contract adds
// for a device without numbered reports, and no report before its recorded time (a second in,
// so the connections are open by then: a report reaches only those open when it is sent).
TEST(SimRecordingRun, EveryDeviceReplaysItsReportsAtTheirTimes) {
    const Scenario scenario = parsed("# hid-recorder lines\n"
                                     "D: 0\n"
                                     "R: 25 06 00 ff 09 01 a1 01 15 00 26 ff 00 75 08 95 40 09 "
                                     "01 81 02 09 01 91 02 c0\n"
                                     "N: Locator\n"
                                     "P: usb-1\n"
                                     "I: 3 3f7c 5a21\n"
                                     "D: 1\n"
                                     "R: 18 06 00 ff 09 01 a1 01 85 05 75 08 95 01 09 01 81 02 c0\n"
                                     "N: Numbered\n"
                                     "I: 3 1234 0001\n"
                                     "E: 000001.200000 2 05 2a\n"
                                     "D: 0\n"
                                     "E: 000001.000000 3 52 01 0a\n"
                                     "# O: 000001.100000 2 52 ff\n");
    ASSERT_EQ(scenario.devices.size(), 2u);
    EXPECT_EQ(scenario.devices[0].vendorId, 0x3F7C);
    EXPECT_EQ(scenario.devices[1].product, u"Numbered");

    const auto started = Clock::now();
    auto source = startScenario(scenario);
    const auto list = source->enumerate();
    ASSERT_EQ(list.size(), 2u);
    int error = 0;
    const bool locatorFirst = list[0].vendorId == 0x3F7C;
    auto locator = source->open(list[locatorFirst ? 0 : 1].path, &error);
    auto numbered = source->open(list[locatorFirst ? 1 : 0].path, &error);
    ASSERT_TRUE(locator && numbered);
    EXPECT_EQ(readReport(*locator), (Report{0x00, 0x52, 0x01, 0x0A}));
    EXPECT_EQ(readReport(*numbered), (Report{0x05, 0x2A}));
    EXPECT_GE(Clock::now() - started, 1200ms);
}

TEST(SimRecordingErrors, MalformedRecordingsNameTheLineAndTheProblem) {
    const std::string secondWithoutDescriptor = "R: 1 c0\nI: 3 3f7c 5a21\nD: 2\nN: other\n";
    const Malformed cases[] = {
        {"# comment\nD: x\n", 2, "'D:' needs a device number"},
        {"R: 2 06\n", 1, "holds 1 bytes, not the 2"},
        {"R: 1 06 00\n", 1, "more than the 1 bytes"},
        {"R: 0\n", 1, "must start with its length"},
        {"R: 1 6\n", 1, "'6' is not a byte in two hex digits"},
        {"R: 1 c0\nR: 1 c0\n", 2, "a second 'R:' line"},
        {"I: 3 3f7c\n", 1, "'I:' needs bus, vendor and product"},
        {"E: 1.5 1 00\n", 1, "'E:' must start with the time"},
        {"N: x\nE: 000001.000000 2 00\n", 2, "holds 1 bytes, not the 2"},
        {"N: x\nX: 1\n", 2, "not a recording line"},
        {"N: x\n", 1, "device 0 has no 'R:' line"},
        {"R: 1 c0\nN: x\n", 1, "device 0 has no 'I:' line"},
        {secondWithoutDescriptor.c_str(), 4, "device 2 has no 'R:' line"},
    };
    for (const Malformed& c : cases) {
        const ScenarioError error = refusal(c.text);
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_NE(error.message().find(c.problem), std::string::npos)
            << c.text << " gave: " << error.message();
    }
}

class ScenarioFromEnvironment : public ::testing::Test {
protected:
    void TearDown() override {
        ::unsetenv("TARVEX_HID_PLATFORM");
        std::filesystem::remove(file);
    }
    void use(const std::string& text) {
        std::ofstream(file) << text;
        ::setenv("TARVEX_HID_PLATFORM", ("sim:" + file.string()).c_str(), 1);
    }
    std::filesystem::path file = std::filesystem::temp_directory_path() /
                                 ("tarvex-scenario-" + std::to_string(::getpid()) + ".txt");
};

TEST_F(ScenarioFromEnvironment, StartsTheDevicesTheFileDescribes) {
    use("device locator\ndevice keyboard\n");
    auto source = deviceSourceFromEnvironment();
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->enumerate().size(), 2u);
}

TEST_F(ScenarioFromEnvironment, MalformedFileStartsNothingAndSaysWhere) {
    use("device locator\nstream 99999 00\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(deviceSourceFromEnvironment(), nullptr);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(file.string()), std::string::npos) << message;
    EXPECT_NE(message.find("line 2: the stream rate"), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
}

} // namespace
} // namespace platform
