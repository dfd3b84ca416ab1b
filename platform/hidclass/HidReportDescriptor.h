#pragma once
// The report-descriptor parser behind the HidP_* operations. It turns descriptor bytes into a
// table of fields (one per capability, plus padding) and the link-collection tree, with every
// fact the report operations need: report ID, bit position and size, count, flags, logical and
// physical ranges, units, usages and data indices.

#include "platform/hidclass/HidPi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform {

// Bounds of what the parser accepts; a descriptor beyond them is refused, so no table grows
// without limit whatever the device sends.
constexpr std::size_t kMaxDescriptorBytes = 4096;
constexpr std::size_t kMaxReportBytes = 4096; // including the report-ID byte
constexpr std::size_t kMaxCollections = 256;
constexpr std::size_t kMaxFields = 2048;
constexpr std::size_t kMaxUsagesPerItem = 256;
constexpr std::size_t kMaxGlobalStackDepth = 16;
constexpr std::size_t kMaxDataIndices = 0xFFFF;
constexpr std::size_t kReportTypeCount = 3;

// Main item flags, as kept in the capabilities' BitField.
constexpr std::uint16_t kMainConstant = 0x01;
constexpr std::uint16_t kMainVariable = 0x02;
constexpr std::uint16_t kMainRelative = 0x04;
constexpr std::uint16_t kMainNullState = 0x40;

// A run of bits in one report carrying one usage or usage range. Array items yield one field per
// usage entry, all sharing the item's bits; padding (a main item without usages) yields one field
// without a capability. A field may have no bits at all (a report size of 0): it keeps its
// capability and data indices but never touches the report.
struct ReportField {
    HIDP_REPORT_TYPE reportType = HidP_Input;
    std::uint8_t reportId = 0;
    std::uint16_t flags = 0;
    // Counted from the start of the report buffer, whose byte 0 is the report ID.
    std::uint32_t bitOffset = 0;
    std::uint16_t bitSize = 0;
    std::uint16_t reportCount = 0;
    bool isPadding = false;
    bool isButton = false;
    bool isRange = false;
    bool isStringRange = false;
    bool isDesignatorRange = false;
    bool isAlias = false;
    USAGE usagePage = 0;
    USAGE usageMin = 0, usageMax = 0;
    USHORT stringMin = 0, stringMax = 0;
    USHORT designatorMin = 0, designatorMax = 0;
    USHORT dataIndexMin = 0, dataIndexMax = 0;
    USHORT linkCollection = 0;
    LONG logicalMin = 0, logicalMax = 0;
    LONG physicalMin = 0, physicalMax = 0;
    ULONG unitsExp = 0, units = 0;
    // Array items: the selector that stands for usageMin; usageMin + k is firstSelector + k. A
    // selector is a 1-based position in the item's whole usage list, whatever the logical range,
    // and 0 is an empty slot; a list that starts with usage 0 ("no control") puts that usage on
    // the empty slot, so the selectors of such a list equal the usages of its first range.
    std::uint32_t firstSelector = 0;
    // Global items of kinds this parser does not know, in force at the main item; one per tag.
    std::vector<HIDP_UNKNOWN_TOKEN> globalUnknowns;

    bool isArray() const { return (flags & kMainVariable) == 0; }
    bool isAbsolute() const { return (flags & kMainRelative) == 0; }
    bool hasNull() const { return (flags & kMainNullState) != 0; }
};

struct LinkCollection {
    USAGE usage = 0;
    USAGE usagePage = 0;
    USHORT parent = 0;
    USHORT numberOfChildren = 0;
    USHORT nextSibling = 0;
    USHORT firstChild = 0;
    std::uint8_t collectionType = 0;
    bool isAlias = false;
};

// What one report type holds: the bits used by each report ID (excluding the ID byte).
struct ReportTypeLayout {
    std::array<std::uint32_t, 256> bitsById{};
    std::array<bool, 256> idDeclared{};
    USHORT byteLength = 0; // the longest report of this type, plus the report-ID byte
    USHORT buttonCaps = 0;
    USHORT valueCaps = 0;
    USHORT dataIndices = 0;
};

struct ParsedDescriptor {
    // In capability order: main items as declared, the usages of one item last first. A
    // variable item's data indices follow that order; an array item's follow the declaration.
    std::vector<ReportField> fields;
    // Node 0 is the first top-level collection. Children are linked newest first: FirstChild is
    // the last child declared and NextSibling leads back to earlier ones. Further top-level
    // collections follow node 0 on its NextSibling chain, in declaration order, with parent 0.
    std::vector<LinkCollection> collections;
    std::array<ReportTypeLayout, kReportTypeCount> layouts{};
    // Whether the whole descriptor declares report IDs, whichever collections were parsed.
    bool usesReportIds = false;
    // How many top-level collections the whole descriptor declares.
    std::size_t topLevelCollections = 0;
};

// Every top-level collection together, as one hidraw node presents a device: nodes, data
// indices and report bits run on across the collections. Null when the descriptor is malformed
// or beyond the bounds above.
std::optional<ParsedDescriptor> ParseReportDescriptor(std::span<const std::uint8_t> descriptor);

// One top-level collection (0-based) on its own, as that system gives each its own interface:
// only its nodes, from 0, only its controls, with data indices and report bits from the start.
// Global items before and between the collections still apply, and the whole descriptor must be
// well-formed; the bounds above apply to the collection alone. Null otherwise, and when there is
// no collection of that index.
std::optional<ParsedDescriptor> ParseTopLevelCollection(std::span<const std::uint8_t> descriptor,
                                                        std::size_t topLevelCollection);

// Whether the descriptor declares report IDs, so that every report starts with its ID byte.
// False for a descriptor the parser refuses.
bool DeclaresReportIds(std::span<const std::uint8_t> descriptor);

// The parsed form behind preparsed data made by ParsePreparsedData; null for null, foreign or
// released pointers (the pointer itself is never dereferenced unless it is live).
const ParsedDescriptor* DescriptorOf(PHIDP_PREPARSED_DATA preparsedData);

} // namespace platform
