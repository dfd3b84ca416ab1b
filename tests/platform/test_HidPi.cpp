// The capability queries' contract: status codes, filters and short buffers.

#include "GoldenDescriptors.h"
#include "HidParseTestSupport.h"
#include "tests/support/FakeDeviceSource.h"

#include <gtest/gtest.h>

#include <array>

using namespace hidparse_test;

namespace {

constexpr auto kNoSuchReportType = static_cast<HIDP_REPORT_TYPE>(3);

// Every operation refuses preparsed data it did not make, without touching it.
void expectAllRefuse(PHIDP_PREPARSED_DATA data) {
    HIDP_CAPS caps{};
    EXPECT_EQ(platform::HidP_GetCaps(data, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
    std::array<HIDP_LINK_COLLECTION_NODE, 4> nodes{};
    ULONG nodeCount = nodes.size();
    EXPECT_EQ(platform::HidP_GetLinkCollectionNodes(nodes.data(), &nodeCount, data),
              HIDP_STATUS_INVALID_PREPARSED_DATA);
    std::array<HIDP_BUTTON_CAPS, 4> buttons{};
    USHORT length = buttons.size();
    EXPECT_EQ(platform::HidP_GetButtonCaps(HidP_Input, buttons.data(), &length, data),
              HIDP_STATUS_INVALID_PREPARSED_DATA);
    std::array<HIDP_VALUE_CAPS, 4> values{};
    length = values.size();
    EXPECT_EQ(
        platform::HidP_GetSpecificValueCaps(HidP_Input, 0, 0, 0, values.data(), &length, data),
        HIDP_STATUS_INVALID_PREPARSED_DATA);
}

TEST(HidPiPreparsedData, NullForeignAndReleasedPointersAreRefused) {
    expectAllRefuse(nullptr);
    std::array<std::uint8_t, 256> foreign{};
    expectAllRefuse(reinterpret_cast<PHIDP_PREPARSED_DATA>(foreign.data()));

    PHIDP_PREPARSED_DATA released =
        platform::ParsePreparsedData(golden::kMouse, sizeof golden::kMouse);
    ASSERT_NE(released, nullptr);
    EXPECT_TRUE(platform::FreePreparsedData(released));
    expectAllRefuse(released);
    EXPECT_FALSE(platform::FreePreparsedData(released));
    EXPECT_FALSE(platform::FreePreparsedData(nullptr));
}

TEST(HidPiPreparsedData, NullDescriptorIsRefused) {
    EXPECT_EQ(platform::ParsePreparsedData(nullptr, 10), nullptr);
}

TEST(HidPiCaps, UnknownReportTypeIsRefused) {
    const Preparsed data = parse(golden::kMouse);
    std::array<HIDP_BUTTON_CAPS, 4> buttons{};
    USHORT length = buttons.size();
    EXPECT_EQ(platform::HidP_GetButtonCaps(kNoSuchReportType, buttons.data(), &length, data.get()),
              HIDP_STATUS_INVALID_REPORT_TYPE);
    std::array<HIDP_VALUE_CAPS, 4> values{};
    EXPECT_EQ(platform::HidP_GetValueCaps(kNoSuchReportType, values.data(), &length, data.get()),
              HIDP_STATUS_INVALID_REPORT_TYPE);
}

TEST(HidPiCaps, NullArgumentsAreReportedNotFollowed) {
    const Preparsed data = parse(golden::kMouse);
    EXPECT_EQ(platform::HidP_GetCaps(data.get(), nullptr), HIDP_STATUS_NULL);
    std::array<HIDP_VALUE_CAPS, 4> values{};
    EXPECT_EQ(platform::HidP_GetValueCaps(HidP_Input, values.data(), nullptr, data.get()),
              HIDP_STATUS_NULL);
    EXPECT_EQ(platform::HidP_GetLinkCollectionNodes(nullptr, nullptr, data.get()),
              HIDP_STATUS_NULL);
}

TEST(HidPiCaps, ShortBufferIsFilledAndTheNeededCountReported) {
    const Preparsed data = parse(golden::kComposite);
    std::array<HIDP_VALUE_CAPS, 3> values{};
    values[1].UsagePage = 0xBEEF; // must stay untouched: beyond the caller's length
    USHORT length = 1;
    EXPECT_EQ(platform::HidP_GetValueCaps(HidP_Input, values.data(), &length, data.get()),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(values[0].NotRange.Usage, 0x31);
    EXPECT_EQ(values[1].UsagePage, 0xBEEF);

    length = 0;
    EXPECT_EQ(platform::HidP_GetValueCaps(HidP_Input, nullptr, &length, data.get()),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 3);

    std::array<HIDP_LINK_COLLECTION_NODE, 5> nodes{};
    nodes[2].LinkUsage = 0xBEEF;
    ULONG nodeCount = 2;
    EXPECT_EQ(platform::HidP_GetLinkCollectionNodes(nodes.data(), &nodeCount, data.get()),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(nodeCount, 5u);
    EXPECT_EQ(nodes[1].LinkUsage, 0x01);
    EXPECT_EQ(nodes[2].LinkUsage, 0xBEEF);
}

TEST(HidPiCaps, NothingMatchingIsUsageNotFound) {
    const Preparsed data = parse(golden::kMouse);
    std::array<HIDP_BUTTON_CAPS, 4> buttons{};
    USHORT length = buttons.size();
    EXPECT_EQ(platform::HidP_GetButtonCaps(HidP_Feature, buttons.data(), &length, data.get()),
              HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(length, 0);
    length = buttons.size();
    EXPECT_EQ(platform::HidP_GetSpecificButtonCaps(HidP_Input, 0x09, 0, 4, buttons.data(), &length,
                                                   data.get()),
              HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(HidPiListLengths, CountDataIndicesAndPressableUsages) {
    const Preparsed keyboard = parse(golden::kBootKeyboard);
    // Eight modifier bits plus six places in the key array, not the array's 102 usages.
    EXPECT_EQ(platform::HidP_MaxDataListLength(HidP_Input, keyboard.get()), 14u);
    EXPECT_EQ(platform::HidP_MaxDataListLength(HidP_Output, keyboard.get()), 5u);
    EXPECT_EQ(platform::HidP_MaxUsageListLength(HidP_Input, 0, keyboard.get()), 14u);
    EXPECT_EQ(platform::HidP_MaxUsageListLength(HidP_Output, 0x08, keyboard.get()), 5u);
    EXPECT_EQ(platform::HidP_MaxUsageListLength(HidP_Input, 0x08, keyboard.get()), 0u);

    // Composite: two buttons and a one-place consumer array; X, Y, the wheel; a value array
    // counted once.
    const Preparsed composite = parse(golden::kComposite);
    EXPECT_EQ(platform::HidP_MaxUsageListLength(HidP_Input, 0, composite.get()), 3u);
    EXPECT_EQ(platform::HidP_MaxDataListLength(HidP_Input, composite.get()), 6u);
    EXPECT_EQ(platform::HidP_MaxDataListLength(HidP_Feature, composite.get()), 1u);

    const Preparsed mouse = parse(golden::kMouse);
    EXPECT_EQ(platform::HidP_MaxUsageListLength(HidP_Input, 0x09, mouse.get()), 3u);
    EXPECT_EQ(platform::HidP_MaxDataListLength(kNoSuchReportType, mouse.get()), 0u);
    EXPECT_EQ(platform::HidP_MaxUsageListLength(kNoSuchReportType, 0, mouse.get()), 0u);
    EXPECT_EQ(platform::HidP_MaxDataListLength(HidP_Input, nullptr), 0u);
    EXPECT_EQ(platform::HidP_MaxUsageListLength(HidP_Input, 0, nullptr), 0u);
}

// Which usages the specific query returns for a filter, in capability order.
std::vector<USAGE> valueUsagesMatching(const Preparsed& data, USAGE page, USHORT link,
                                       USAGE usage) {
    std::array<HIDP_VALUE_CAPS, 8> values{};
    USHORT length = values.size();
    const NTSTATUS status = platform::HidP_GetSpecificValueCaps(HidP_Input, page, link, usage,
                                                                values.data(), &length, data.get());
    std::vector<USAGE> usages;
    if (status == HIDP_STATUS_SUCCESS) {
        for (USHORT i = 0; i < length; ++i)
            usages.push_back(values[i].Range.UsageMin);
    }
    return usages;
}

TEST(HidPiCaps, SpecificQueriesFilterByPageCollectionAndUsage) {
    const Preparsed data = parse(golden::kComposite);
    using Usages = std::vector<USAGE>;
    EXPECT_EQ(valueUsagesMatching(data, 0, 0, 0), (Usages{0x31, 0x30, 0x38}));
    EXPECT_EQ(valueUsagesMatching(data, 0x01, 0, 0x30), Usages{0x30});
    EXPECT_EQ(valueUsagesMatching(data, 0x0C, 0, 0), Usages{});
    EXPECT_EQ(valueUsagesMatching(data, 0, 2, 0), Usages{0x38});
    EXPECT_EQ(valueUsagesMatching(data, 0, 1, 0), (Usages{0x31, 0x30}));
    // The root is the first top-level collection itself; the axes lie in its children.
    EXPECT_EQ(valueUsagesMatching(data, 0, HIDP_LINK_COLLECTION_ROOT, 0), Usages{});

    std::array<HIDP_BUTTON_CAPS, 4> buttons{};
    USHORT length = buttons.size();
    // A usage inside a range matches the range.
    ASSERT_EQ(platform::HidP_GetSpecificButtonCaps(HidP_Input, 0, 0, 0xE9, buttons.data(), &length,
                                                   data.get()),
              HIDP_STATUS_SUCCESS);
    ASSERT_EQ(length, 1);
    EXPECT_EQ(buttons[0].UsagePage, 0x0C);

    const Preparsed locator = parse(testing_support::locatorDescriptor());
    std::array<HIDP_VALUE_CAPS, 2> values{};
    length = values.size();
    EXPECT_EQ(platform::HidP_GetSpecificValueCaps(HidP_Output, 0xFF00, HIDP_LINK_COLLECTION_ROOT, 3,
                                                  values.data(), &length, locator.get()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(length, 1);
}

} // namespace
