// Golden descriptors with their expected capabilities, and descriptors the parser must refuse.

#include "GoldenDescriptors.h"
#include "HidParseTestSupport.h"
#include "platform/hidclass/HidReportDescriptor.h"
#include "tests/support/FakeDeviceSource.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

using namespace hidparse_test;

namespace {

// Where a capability's bits start in its report (byte 0 is the report ID).
std::uint32_t bitOffsetOf(const Preparsed& data, HIDP_REPORT_TYPE type, USAGE page, USAGE usage) {
    const platform::ParsedDescriptor* descriptor = platform::DescriptorOf(data.get());
    for (const platform::ReportField& field : descriptor->fields) {
        if (!field.isPadding && field.reportType == type && field.usagePage == page &&
            field.usageMin <= usage && usage <= field.usageMax)
            return field.bitOffset;
    }
    ADD_FAILURE() << "no field for usage " << page << ":" << usage;
    return 0;
}

TEST(HidReportDescriptorGolden, Locator) {
    const Preparsed data = parse(testing_support::locatorDescriptor());
    ASSERT_TRUE(data);
    const HIDP_CAPS caps = capsOf(data);
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_EQ(caps.Usage, 0x01);
    EXPECT_EQ(caps.InputReportByteLength, 65);
    EXPECT_EQ(caps.OutputReportByteLength, 65);
    EXPECT_EQ(caps.FeatureReportByteLength, 0);
    EXPECT_EQ(caps.NumberLinkCollectionNodes, 1);
    EXPECT_EQ(caps.NumberInputButtonCaps, 0);
    EXPECT_EQ(caps.NumberInputValueCaps, 1);
    EXPECT_EQ(caps.NumberInputDataIndices, 1);
    EXPECT_EQ(caps.NumberOutputValueCaps, 1);
    EXPECT_EQ(caps.NumberOutputDataIndices, 1);
    EXPECT_EQ(caps.NumberFeatureValueCaps, 0);

    for (const HIDP_REPORT_TYPE type : {HidP_Input, HidP_Output}) {
        const USAGE usage = type == HidP_Input ? 2 : 3;
        const std::vector<HIDP_VALUE_CAPS> values = valueCapsOf(data, type);
        ASSERT_EQ(values.size(), 1u);
        const HIDP_VALUE_CAPS& value = values[0];
        EXPECT_EQ(value.UsagePage, 0xFF00);
        EXPECT_EQ(value.ReportID, 0);
        EXPECT_FALSE(value.IsRange);
        EXPECT_EQ(value.NotRange.Usage, usage);
        EXPECT_EQ(value.NotRange.DataIndex, 0);
        EXPECT_EQ(value.BitSize, 8);
        EXPECT_EQ(value.ReportCount, 64);
        EXPECT_EQ(value.LogicalMin, 0);
        EXPECT_EQ(value.LogicalMax, 255);
        EXPECT_TRUE(value.IsAbsolute);
        EXPECT_EQ(value.BitField, 0x02);
        EXPECT_EQ(value.LinkCollection, 0);
        EXPECT_EQ(value.LinkUsagePage, 0xFF00);
        EXPECT_EQ(bitOffsetOf(data, type, 0xFF00, usage), 8u);
    }
    const std::vector<HIDP_LINK_COLLECTION_NODE> nodes = nodesOf(data);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].CollectionType, 1u);
    EXPECT_EQ(nodes[0].NumberOfChildren, 0);
}

TEST(HidReportDescriptorGolden, BootKeyboard) {
    const Preparsed data = parse(golden::kBootKeyboard);
    ASSERT_TRUE(data);
    const HIDP_CAPS caps = capsOf(data);
    EXPECT_EQ(caps.UsagePage, 0x01);
    EXPECT_EQ(caps.Usage, 0x06);
    EXPECT_EQ(caps.InputReportByteLength, 9);  // modifiers, reserved byte, six keys, ID
    EXPECT_EQ(caps.OutputReportByteLength, 2); // five LEDs and three padding bits, ID
    EXPECT_EQ(caps.NumberInputButtonCaps, 2);
    EXPECT_EQ(caps.NumberInputValueCaps, 0);
    EXPECT_EQ(caps.NumberInputDataIndices, 8 + 102);
    EXPECT_EQ(caps.NumberOutputButtonCaps, 1);
    EXPECT_EQ(caps.NumberOutputDataIndices, 5);

    const std::vector<HIDP_BUTTON_CAPS> input = buttonCapsOf(data, HidP_Input);
    ASSERT_EQ(input.size(), 2u);
    const HIDP_BUTTON_CAPS& modifiers = input[0];
    EXPECT_EQ(modifiers.UsagePage, 0x07);
    EXPECT_TRUE(modifiers.IsRange);
    EXPECT_EQ(modifiers.Range.UsageMin, 0xE0);
    EXPECT_EQ(modifiers.Range.UsageMax, 0xE7);
    EXPECT_EQ(modifiers.Range.DataIndexMin, 0);
    EXPECT_EQ(modifiers.Range.DataIndexMax, 7);
    EXPECT_EQ(modifiers.BitField, 0x02);
    const HIDP_BUTTON_CAPS& keys = input[1];
    EXPECT_TRUE(keys.IsRange);
    EXPECT_EQ(keys.Range.UsageMin, 0x00);
    EXPECT_EQ(keys.Range.UsageMax, 0x65);
    EXPECT_EQ(keys.Range.DataIndexMin, 8);
    EXPECT_EQ(keys.Range.DataIndexMax, 109);
    EXPECT_EQ(keys.BitField, 0x00); // an array
    EXPECT_TRUE(keys.IsAbsolute);
    EXPECT_EQ(bitOffsetOf(data, HidP_Input, 0x07, 0xE0), 8u);
    EXPECT_EQ(bitOffsetOf(data, HidP_Input, 0x07, 0x04), 24u); // after the reserved byte

    const std::vector<HIDP_BUTTON_CAPS> leds = buttonCapsOf(data, HidP_Output);
    ASSERT_EQ(leds.size(), 1u);
    EXPECT_EQ(leds[0].UsagePage, 0x08);
    EXPECT_EQ(leds[0].Range.UsageMin, 1);
    EXPECT_EQ(leds[0].Range.UsageMax, 5);
    EXPECT_EQ(leds[0].Range.DataIndexMin, 0);
    EXPECT_EQ(leds[0].Range.DataIndexMax, 4);
    EXPECT_EQ(bitOffsetOf(data, HidP_Output, 0x08, 1), 8u);
}

TEST(HidReportDescriptorGolden, ThreeButtonMouse) {
    const Preparsed data = parse(golden::kMouse);
    ASSERT_TRUE(data);
    const HIDP_CAPS caps = capsOf(data);
    EXPECT_EQ(caps.Usage, 0x02);
    EXPECT_EQ(caps.InputReportByteLength, 5);
    EXPECT_EQ(caps.OutputReportByteLength, 0);
    EXPECT_EQ(caps.NumberLinkCollectionNodes, 2);
    EXPECT_EQ(caps.NumberInputButtonCaps, 1);
    EXPECT_EQ(caps.NumberInputValueCaps, 3);
    EXPECT_EQ(caps.NumberInputDataIndices, 6);

    const std::vector<HIDP_LINK_COLLECTION_NODE> nodes = nodesOf(data);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0].LinkUsage, 0x02);
    EXPECT_EQ(nodes[0].NumberOfChildren, 1);
    EXPECT_EQ(nodes[0].FirstChild, 1);
    EXPECT_EQ(nodes[1].LinkUsage, 0x01);
    EXPECT_EQ(nodes[1].LinkUsagePage, 0x01);
    EXPECT_EQ(nodes[1].Parent, 0);
    EXPECT_EQ(nodes[1].CollectionType, 0u);

    const std::vector<HIDP_BUTTON_CAPS> buttons = buttonCapsOf(data, HidP_Input);
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0].UsagePage, 0x09);
    EXPECT_EQ(buttons[0].Range.UsageMin, 1);
    EXPECT_EQ(buttons[0].Range.UsageMax, 3);
    EXPECT_EQ(buttons[0].Range.DataIndexMin, 0);
    EXPECT_EQ(buttons[0].Range.DataIndexMax, 2);
    EXPECT_EQ(buttons[0].LinkCollection, 1);
    EXPECT_EQ(buttons[0].LinkUsage, 0x01);

    // One item declares X, Y, Wheel: the last usage comes first and takes the lowest index.
    const std::vector<HIDP_VALUE_CAPS> values = valueCapsOf(data, HidP_Input);
    ASSERT_EQ(values.size(), 3u);
    const USAGE expectedUsages[] = {0x38, 0x31, 0x30};
    const std::uint32_t expectedOffsets[] = {32, 24, 16};
    for (std::size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(values[i].NotRange.Usage, expectedUsages[i]);
        EXPECT_EQ(values[i].NotRange.DataIndex, 3 + i);
        EXPECT_EQ(values[i].LogicalMin, -127);
        EXPECT_EQ(values[i].LogicalMax, 127);
        EXPECT_FALSE(values[i].IsAbsolute);
        EXPECT_EQ(values[i].BitSize, 8);
        EXPECT_EQ(values[i].ReportCount, 1);
        EXPECT_EQ(bitOffsetOf(data, HidP_Input, 0x01, expectedUsages[i]), expectedOffsets[i]);
    }
}

TEST(HidReportDescriptorGolden, CompositeWithReportIds) {
    const Preparsed data = parse(golden::kComposite);
    ASSERT_TRUE(data);
    const HIDP_CAPS caps = capsOf(data);
    EXPECT_EQ(caps.UsagePage, 0x01);
    EXPECT_EQ(caps.Usage, 0x02);
    EXPECT_EQ(caps.InputReportByteLength, 7); // ID 1: buttons byte, X, Y, wheel
    EXPECT_EQ(caps.OutputReportByteLength, 0);
    EXPECT_EQ(caps.FeatureReportByteLength, 9);
    EXPECT_EQ(caps.NumberLinkCollectionNodes, 5);
    EXPECT_EQ(caps.NumberInputButtonCaps, 2);
    EXPECT_EQ(caps.NumberInputValueCaps, 3);
    EXPECT_EQ(caps.NumberInputDataIndices, 2 + 3 + 0x400);
    EXPECT_EQ(caps.NumberFeatureValueCaps, 1);
    EXPECT_EQ(caps.NumberFeatureDataIndices, 1);

    // Mouse(0) holds Pointer(1) and Wheel(2), linked newest first; the consumer (3) and vendor
    // (4) collections follow the first top-level collection.
    const std::vector<HIDP_LINK_COLLECTION_NODE> nodes = nodesOf(data);
    ASSERT_EQ(nodes.size(), 5u);
    EXPECT_EQ(nodes[0].NumberOfChildren, 2);
    EXPECT_EQ(nodes[0].FirstChild, 2);
    EXPECT_EQ(nodes[0].NextSibling, 3);
    EXPECT_EQ(nodes[2].NextSibling, 1);
    EXPECT_EQ(nodes[1].NextSibling, 0);
    EXPECT_EQ(nodes[1].Parent, 0);
    EXPECT_EQ(nodes[2].Parent, 0);
    EXPECT_EQ(nodes[2].CollectionType, 2u);
    EXPECT_EQ(nodes[2].LinkUsage, 0x38);
    EXPECT_EQ(nodes[3].LinkUsagePage, 0x0C);
    EXPECT_EQ(nodes[3].NextSibling, 4);
    EXPECT_EQ(nodes[4].LinkUsagePage, 0xFF00);
    EXPECT_EQ(nodes[4].NextSibling, 0);

    const std::vector<HIDP_VALUE_CAPS> values = valueCapsOf(data, HidP_Input);
    ASSERT_EQ(values.size(), 3u);
    const HIDP_VALUE_CAPS& y = values[0];
    const HIDP_VALUE_CAPS& x = values[1];
    const HIDP_VALUE_CAPS& wheel = values[2];
    EXPECT_EQ(y.NotRange.Usage, 0x31);
    EXPECT_EQ(x.NotRange.Usage, 0x30);
    EXPECT_EQ(y.NotRange.DataIndex, 2);
    EXPECT_EQ(x.NotRange.DataIndex, 3);
    EXPECT_EQ(x.ReportID, 1);
    EXPECT_EQ(x.BitSize, 16);
    EXPECT_EQ(x.LogicalMin, -32767);
    EXPECT_EQ(x.LogicalMax, 32767);
    EXPECT_EQ(x.PhysicalMin, -1024);
    EXPECT_EQ(x.PhysicalMax, 1024);
    EXPECT_EQ(x.UnitsExp, 0x0Eu);
    EXPECT_EQ(x.Units, 0x11u);
    EXPECT_EQ(x.LinkCollection, 1);
    EXPECT_EQ(bitOffsetOf(data, HidP_Input, 0x01, 0x30), 16u);
    EXPECT_EQ(bitOffsetOf(data, HidP_Input, 0x01, 0x31), 32u);
    // Pop restored the logical range and dropped the physical range and unit.
    EXPECT_EQ(wheel.NotRange.Usage, 0x38);
    EXPECT_EQ(wheel.LinkCollection, 2);
    EXPECT_EQ(wheel.LogicalMin, -127);
    EXPECT_EQ(wheel.PhysicalMax, 0);
    EXPECT_EQ(wheel.Units, 0u);
    EXPECT_TRUE(wheel.HasNull);
    EXPECT_EQ(wheel.NotRange.DataIndex, 4);
    EXPECT_EQ(bitOffsetOf(data, HidP_Input, 0x01, 0x38), 48u);

    const std::vector<HIDP_BUTTON_CAPS> buttons = buttonCapsOf(data, HidP_Input);
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].ReportID, 1);
    EXPECT_EQ(buttons[0].Range.UsageMax, 2);
    const HIDP_BUTTON_CAPS& consumer = buttons[1];
    EXPECT_EQ(consumer.ReportID, 2);
    EXPECT_EQ(consumer.UsagePage, 0x0C);
    EXPECT_EQ(consumer.Range.UsageMin, 0);
    EXPECT_EQ(consumer.Range.UsageMax, 0x3FF);
    EXPECT_EQ(consumer.Range.DataIndexMin, 5);
    EXPECT_EQ(consumer.Range.DataIndexMax, 5 + 0x3FF);
    EXPECT_EQ(consumer.LinkCollection, 3);
    EXPECT_EQ(bitOffsetOf(data, HidP_Input, 0x0C, 0xE9), 8u);

    // The four-byte usage names its own page whatever the usage page in force.
    const std::vector<HIDP_VALUE_CAPS> feature = valueCapsOf(data, HidP_Feature);
    ASSERT_EQ(feature.size(), 1u);
    EXPECT_EQ(feature[0].UsagePage, 0xFF00);
    EXPECT_EQ(feature[0].NotRange.Usage, 2);
    EXPECT_EQ(feature[0].ReportID, 3);
    EXPECT_EQ(feature[0].ReportCount, 8);
    EXPECT_EQ(feature[0].LinkCollection, 4);
}

// Each top-level collection parsed on its own starts its nodes, data indices and report lengths
// afresh; the global items before it (the usage page, the logical range) still apply.
TEST(HidReportDescriptorTopLevel, EachCollectionParsesOnItsOwn) {
    const std::span<const std::uint8_t> bytes = golden::kComposite;
    const auto parseOne = [&](std::size_t index) {
        return Preparsed(platform::ParsePreparsedData(bytes.data(), bytes.size(), index));
    };
    EXPECT_EQ(platform::ParseReportDescriptor(bytes)->topLevelCollections, 3u);

    const Preparsed mouse = parseOne(0);
    ASSERT_TRUE(mouse);
    EXPECT_EQ(capsOf(mouse).NumberLinkCollectionNodes, 3);
    EXPECT_EQ(nodesOf(mouse)[0].NextSibling, 0);
    EXPECT_EQ(capsOf(mouse).NumberInputDataIndices, 5);
    EXPECT_EQ(capsOf(mouse).FeatureReportByteLength, 0);

    const Preparsed consumer = parseOne(1);
    ASSERT_TRUE(consumer);
    const HIDP_CAPS caps = capsOf(consumer);
    EXPECT_EQ(caps.UsagePage, 0x0C);
    EXPECT_EQ(caps.Usage, 0x01);
    EXPECT_EQ(caps.NumberLinkCollectionNodes, 1);
    EXPECT_EQ(caps.InputReportByteLength, 3);
    EXPECT_EQ(caps.NumberInputDataIndices, 0x400);
    const std::vector<HIDP_BUTTON_CAPS> keys = buttonCapsOf(consumer, HidP_Input);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].ReportID, 2);
    EXPECT_EQ(keys[0].LinkCollection, 0);
    EXPECT_EQ(keys[0].Range.DataIndexMin, 0);

    const Preparsed vendor = parseOne(2);
    ASSERT_TRUE(vendor);
    EXPECT_EQ(capsOf(vendor).InputReportByteLength, 0);
    EXPECT_EQ(capsOf(vendor).FeatureReportByteLength, 9);
    const std::vector<HIDP_VALUE_CAPS> feature = valueCapsOf(vendor, HidP_Feature);
    ASSERT_EQ(feature.size(), 1u);
    EXPECT_EQ(feature[0].LogicalMax, 255);
    EXPECT_EQ(feature[0].NotRange.DataIndex, 0);

    EXPECT_FALSE(parseOne(3));
}

// Wraps report items in an application collection, the smallest valid container.
std::vector<std::uint8_t> inCollection(std::vector<std::uint8_t> items) {
    std::vector<std::uint8_t> descriptor = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01};
    descriptor.insert(descriptor.end(), items.begin(), items.end());
    descriptor.push_back(0xC0);
    return descriptor;
}

std::vector<std::uint8_t> repeated(std::vector<std::uint8_t> item, std::size_t times) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < times; ++i)
        bytes.insert(bytes.end(), item.begin(), item.end());
    return bytes;
}

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> bytes;
    for (const auto& part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

// An 8-bit input value with one usage, preceded by `before`.
std::vector<std::uint8_t> byteInput(std::vector<std::uint8_t> before = {}) {
    return concat({before, {0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02}});
}

TEST(HidReportDescriptorBounds, DescriptorOfExactly4096BytesIsAcceptedOneMoreIsNot) {
    // One-byte Unit Exponent items change nothing the caps report; they stretch the descriptor.
    constexpr std::uint8_t kUnitExponentZero = 0x54;
    const std::vector<std::uint8_t> base = inCollection(byteInput());
    std::vector<std::uint8_t> descriptor =
        concat({repeated({kUnitExponentZero}, 4096 - base.size()), base});
    ASSERT_EQ(descriptor.size(), 4096u);
    EXPECT_TRUE(parse(descriptor));
    descriptor.insert(descriptor.begin(), kUnitExponentZero);
    EXPECT_FALSE(parse(descriptor));
}

TEST(HidReportDescriptorBounds, ReportOf4096BytesWithIdByteIsAcceptedLongerIsNot) {
    const auto withCount = [](std::uint16_t count) {
        return inCollection({0x75, 0x08, 0x96, static_cast<std::uint8_t>(count & 0xFF),
                             static_cast<std::uint8_t>(count >> 8), 0x09, 0x01, 0x81, 0x02});
    };
    const Preparsed longest = parse(withCount(4095));
    ASSERT_TRUE(longest);
    EXPECT_EQ(capsOf(longest).InputReportByteLength, 4096);
    EXPECT_FALSE(parse(withCount(4096)));
}

TEST(HidReportDescriptorBounds, CollectionTableHolds256Nodes) {
    const auto withChildren = [](std::size_t children) {
        return inCollection(repeated({0xA1, 0x00, 0xC0}, children));
    };
    const Preparsed full = parse(withChildren(255));
    ASSERT_TRUE(full);
    EXPECT_EQ(capsOf(full).NumberLinkCollectionNodes, 256);
    EXPECT_FALSE(parse(withChildren(256)));
}

TEST(HidReportDescriptorBounds, PushDepthIsLimited) {
    const auto nested = [](std::size_t depth) {
        return inCollection(concat({repeated({0xA4}, depth), repeated({0xB4}, depth)}));
    };
    EXPECT_TRUE(parse(nested(platform::kMaxGlobalStackDepth)));
    EXPECT_FALSE(parse(nested(platform::kMaxGlobalStackDepth + 1)));
}

TEST(HidReportDescriptorBounds, ItemWithoutReportCountDeclaresNoReport) {
    const Preparsed data = parse(inCollection({0x75, 0x08, 0x09, 0x30, 0x91, 0x02}));
    ASSERT_TRUE(data);
    EXPECT_EQ(capsOf(data).OutputReportByteLength, 0);
    EXPECT_EQ(capsOf(data).NumberOutputValueCaps, 0);
}

TEST(HidReportDescriptorSemantics, OneByteLogicalMaximumIsSignExtended) {
    const Preparsed data = parse(inCollection(byteInput({0x15, 0x00, 0x25, 0xFF})));
    ASSERT_TRUE(data);
    const std::vector<HIDP_VALUE_CAPS> values = valueCapsOf(data, HidP_Input);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].LogicalMax, -1);
}

TEST(HidReportDescriptorSemantics, LastUsageTakesTheRemainingFieldsAsAValueArray) {
    const Preparsed data = parse(inCollection(
        {0x75, 0x08, 0x95, 0x04, 0x09, 0x30, 0x09, 0x31, 0x81, 0x02})); // X, Y over 4 fields
    ASSERT_TRUE(data);
    const std::vector<HIDP_VALUE_CAPS> values = valueCapsOf(data, HidP_Input);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].NotRange.Usage, 0x31);
    EXPECT_EQ(values[0].ReportCount, 3);
    EXPECT_EQ(values[1].NotRange.Usage, 0x30);
    EXPECT_EQ(values[1].ReportCount, 1);
    EXPECT_EQ(bitOffsetOf(data, HidP_Input, 0x01, 0x31), 16u);
    EXPECT_EQ(capsOf(data).InputReportByteLength, 5);
}

TEST(HidReportDescriptorSemantics, UsageRangeLongerThanTheFieldsIsCut) {
    const Preparsed data = parse(inCollection({0x05, 0x09, 0x19, 0x01, 0x29, 0x10, 0x75, 0x01, 0x95,
                                               0x04, 0x81, 0x02, 0x95, 0x04, 0x81, 0x01}));
    ASSERT_TRUE(data);
    const std::vector<HIDP_BUTTON_CAPS> buttons = buttonCapsOf(data, HidP_Input);
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0].Range.UsageMax, 4);
    EXPECT_EQ(buttons[0].Range.DataIndexMax, 3);
    EXPECT_EQ(capsOf(data).NumberInputDataIndices, 4);
}

// Each capability of an alias set but the last is an alias of the one after it; the preferred
// usage, declared first, comes last.
TEST(HidReportDescriptorSemantics, DelimitedUsagesAreAliasesSharingADataIndex) {
    const Preparsed data = parse(inCollection(
        {0xA9, 0x01, 0x09, 0x30, 0x09, 0x33, 0xA9, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}));
    ASSERT_TRUE(data);
    const std::vector<HIDP_VALUE_CAPS> values = valueCapsOf(data, HidP_Input);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].NotRange.Usage, 0x33);
    EXPECT_TRUE(values[0].IsAlias);
    EXPECT_EQ(values[1].NotRange.Usage, 0x30);
    EXPECT_FALSE(values[1].IsAlias);
    EXPECT_EQ(values[0].NotRange.DataIndex, values[1].NotRange.DataIndex);
    EXPECT_EQ(capsOf(data).NumberInputDataIndices, 1);
    EXPECT_EQ(capsOf(data).InputReportByteLength, 2);
    // Every button capability counts in the usage list's length, the alias too.
    const Preparsed buttons =
        parse(inCollection({0x05, 0x09, 0xA9, 0x01, 0x09, 0x01, 0x09, 0x02, 0xA9, 0x00,
                            0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0x95, 0x07, 0x81, 0x01}));
    ASSERT_TRUE(buttons);
    EXPECT_EQ(platform::HidP_MaxUsageListLength(HidP_Input, 0x09, buttons.get()), 2u);
    const std::vector<HIDP_BUTTON_CAPS> caps = buttonCapsOf(buttons, HidP_Input);
    ASSERT_EQ(caps.size(), 2u);
    EXPECT_TRUE(caps[0].IsAlias);
    EXPECT_FALSE(caps[1].IsAlias);
    EXPECT_EQ(caps[1].NotRange.Usage, 1);
}

TEST(HidReportDescriptorSemantics, DelimitedCollectionUsagesBecomeAliasNodes) {
    // Collection opened with Pointer and Mouse as alternatives, holding one child.
    const Preparsed data = parse(inCollection({0xA9, 0x01, 0x09, 0x01, 0x09, 0x02, 0xA9, 0x00, 0xA1,
                                               0x00, 0x09, 0x30, 0xA1, 0x02, 0xC0, 0xC0}));
    ASSERT_TRUE(data);
    const std::vector<HIDP_LINK_COLLECTION_NODE> nodes = nodesOf(data);
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[0].NumberOfChildren, 2);
    EXPECT_EQ(nodes[1].LinkUsage, 0x01);
    EXPECT_EQ(nodes[1].IsAlias, 1u);
    EXPECT_EQ(nodes[2].LinkUsage, 0x02);
    EXPECT_EQ(nodes[2].IsAlias, 0u);
    EXPECT_EQ(nodes[2].NumberOfChildren, 1);
    EXPECT_EQ(nodes[2].FirstChild, 3);
    EXPECT_EQ(nodes[3].Parent, 2);
    EXPECT_EQ(nodes[3].LinkUsage, 0x30);
}

// An array with a single usage and a usage range: one capability per entry, last entry first,
// all on the same bits, while data indices and selectors count through the entries as declared.
TEST(HidReportDescriptorSemantics, ArrayEntriesShareTheItemsBits) {
    const Preparsed data =
        parse(inCollection({0x05, 0x0C, 0x09, 0xE2, 0x19, 0xE9, 0x29, 0xEA, 0x15, 0x01, 0x25, 0x03,
                            0x75, 0x08, 0x95, 0x02, 0x81, 0x00}));
    ASSERT_TRUE(data);
    const std::vector<HIDP_BUTTON_CAPS> caps = buttonCapsOf(data, HidP_Input);
    ASSERT_EQ(caps.size(), 2u);
    EXPECT_TRUE(caps[0].IsRange);
    EXPECT_EQ(caps[0].Range.UsageMin, 0xE9);
    EXPECT_EQ(caps[0].Range.DataIndexMin, 1);
    EXPECT_EQ(caps[0].Range.DataIndexMax, 2);
    EXPECT_FALSE(caps[1].IsRange);
    EXPECT_EQ(caps[1].NotRange.Usage, 0xE2);
    EXPECT_EQ(caps[1].NotRange.DataIndex, 0);
    EXPECT_EQ(capsOf(data).InputReportByteLength, 3);
    // Each entry counts the item's two places.
    EXPECT_EQ(platform::HidP_MaxUsageListLength(HidP_Input, 0x0C, data.get()), 4u);

    const platform::ParsedDescriptor* descriptor = platform::DescriptorOf(data.get());
    ASSERT_EQ(descriptor->fields.size(), 2u);
    for (const platform::ReportField& field : descriptor->fields) {
        EXPECT_EQ(field.bitOffset, 8u);
        EXPECT_EQ(field.reportCount, 2);
    }
    EXPECT_EQ(descriptor->fields[0].firstSelector, 2u);
    EXPECT_EQ(descriptor->fields[1].firstSelector, 1u);
}

TEST(HidReportDescriptorSemantics, StringAndDesignatorRangesReachTheCaps) {
    const Preparsed data = parse(inCollection(byteInput({0x89, 0x04, 0x99, 0x06, 0x39, 0x02})));
    ASSERT_TRUE(data);
    const std::vector<HIDP_VALUE_CAPS> values = valueCapsOf(data, HidP_Input);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_TRUE(values[0].IsStringRange);
    EXPECT_EQ(values[0].Range.StringMin, 4);
    EXPECT_EQ(values[0].Range.StringMax, 6);
    EXPECT_FALSE(values[0].IsDesignatorRange);
    EXPECT_EQ(values[0].NotRange.DesignatorIndex, 2);
}

struct MalformedCase {
    std::string name;
    std::vector<std::uint8_t> descriptor;
};

class HidReportDescriptorMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(HidReportDescriptorMalformed, IsRefused) {
    const std::vector<std::uint8_t>& bytes = GetParam().descriptor;
    EXPECT_EQ(platform::ParsePreparsedData(bytes.data(), bytes.size()), nullptr);
}

const MalformedCase kMalformed[] = {
    {"Empty", {}},
    {"TruncatedItem", {0x05, 0x01, 0x09}},
    {"TruncatedFourByteItem", {0x05, 0x01, 0x07, 0x01, 0x00}},
    {"LongItem", inCollection({0xFE, 0x02, 0x10, 0x00, 0x00})},
    {"ReservedItemType", inCollection({0x0C})},
    {"UnknownMainItem", inCollection({0xD0})},
    {"NoCollection", {0x05, 0x01, 0x09, 0x02}},
    {"UnclosedCollection", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xA1, 0x00, 0xC0}},
    {"EndCollectionWithoutCollection", concat({inCollection({}), {0xC0}})},
    {"CollectionTypeAboveByte", {0x09, 0x02, 0xA2, 0x00, 0x01, 0xC0}},
    {"MainItemOutsideCollection", concat({byteInput(), inCollection({})})},
    {"PopWithoutPush", inCollection({0xB4})},
    {"PushWithoutPop", inCollection({0xA4})},
    {"ValueWiderThan32Bits", inCollection({0x75, 0x21, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02})},
    {"ReportLongerThan4096Bytes",
     inCollection({0x75, 0x20, 0x96, 0x00, 0x04, 0x09, 0x30, 0x81, 0x02})},
    // Two items of 2048 bytes each: the report, not one item, is bounded.
    {"ReportLongerThan4096BytesAcrossItems",
     inCollection(repeated({0x75, 0x08, 0x96, 0x00, 0x08, 0x09, 0x30, 0x81, 0x02}, 2))},
    {"ReportCountOverflowingBits",
     inCollection({0x75, 0x20, 0x97, 0xFF, 0xFF, 0xFF, 0x7F, 0x09, 0x30, 0x81, 0x02})},
    {"ReportIdZero", inCollection(byteInput({0x85, 0x00}))},
    {"ReportIdAbove255", inCollection(byteInput({0x86, 0x00, 0x01}))},
    {"ReportIdsMixedWithUnnumbered", inCollection(concat({byteInput(), byteInput({0x85, 0x01})}))},
    {"UsageMinimumWithoutMaximum", inCollection(byteInput({0x19, 0x01}))},
    {"UsageRangeBackwards", inCollection(byteInput({0x19, 0x05, 0x29, 0x01}))},
    {"UsageRangeAcrossPages",
     inCollection(byteInput({0x1B, 0x01, 0x00, 0x01, 0x00, 0x2B, 0x05, 0x00, 0x02, 0x00}))},
    {"UsagePageAbove16Bits", {0x07, 0x00, 0x00, 0x01, 0x00, 0x09, 0x01, 0xA1, 0x01, 0xC0}},
    {"TooManyUsagesForOneItem", inCollection(byteInput(repeated({0x09, 0x30}, 257)))},
    {"DataIndicesBeyond16Bits", inCollection({0x19, 0x00, 0x2A, 0xFF, 0xFF, 0x1A, 0x00, 0x00, 0x2A,
                                              0x01, 0x00, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00})},
    {"DelimiterLeftOpen", inCollection(byteInput({0xA9, 0x01, 0x09, 0x31}))},
    {"DelimiterClosedWithoutOpening", inCollection(byteInput({0xA9, 0x00}))},
    {"DelimitersNested", inCollection(byteInput({0xA9, 0x01, 0xA9, 0x01, 0xA9, 0x00, 0xA9, 0x00}))},
    {"StringIndexAbove16Bits", inCollection(byteInput({0x7B, 0x00, 0x00, 0x01, 0x00}))},
};

INSTANTIATE_TEST_SUITE_P(Table, HidReportDescriptorMalformed, testing::ValuesIn(kMalformed),
                         [](const testing::TestParamInfo<MalformedCase>& info) {
                             return info.param.name;
                         });

} // namespace
