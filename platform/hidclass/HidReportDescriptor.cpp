#include "platform/hidclass/HidReportDescriptor.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_set>

// The object behind PHIDP_PREPARSED_DATA; callers only ever hold the pointer.
struct HIDP_PREPARSED_DATA {
    platform::ParsedDescriptor descriptor;
};

namespace platform {
namespace {

enum class ItemType : std::uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };

namespace MainTag {
constexpr std::uint8_t Input = 0x8, Output = 0x9, Collection = 0xA, Feature = 0xB,
                       EndCollection = 0xC;
}
namespace GlobalTag {
constexpr std::uint8_t UsagePage = 0x0, LogicalMin = 0x1, LogicalMax = 0x2, PhysicalMin = 0x3,
                       PhysicalMax = 0x4, UnitExponent = 0x5, Unit = 0x6, ReportSize = 0x7,
                       ReportId = 0x8, ReportCount = 0x9, Push = 0xA, Pop = 0xB;
}
namespace LocalTag {
constexpr std::uint8_t Usage = 0x0, UsageMin = 0x1, UsageMax = 0x2, DesignatorIndex = 0x3,
                       DesignatorMin = 0x4, DesignatorMax = 0x5, StringIndex = 0x7, StringMin = 0x8,
                       StringMax = 0x9, Delimiter = 0xA;
}

constexpr std::uint8_t kLongItemPrefix = 0xFE;

struct Item {
    std::uint8_t tag = 0;
    ItemType type = ItemType::Main;
    std::uint8_t size = 0; // data bytes: 0, 1, 2 or 4
    std::uint32_t data = 0;

    // Signed items are two's complement in as many bytes as the item carries.
    std::int32_t signedData() const {
        switch (size) {
        case 1:
            return static_cast<std::int8_t>(data);
        case 2:
            return static_cast<std::int16_t>(data);
        default:
            return static_cast<std::int32_t>(data);
        }
    }
};

// Reads the short item at `pos` and advances past it. Long items and the reserved item type
// are refused, as is an item whose data runs past the end.
std::optional<Item> readItem(std::span<const std::uint8_t> bytes, std::size_t& pos) {
    const std::uint8_t prefix = bytes[pos];
    if (prefix == kLongItemPrefix)
        return std::nullopt;
    Item item;
    item.size = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
    item.type = static_cast<ItemType>((prefix >> 2) & 0x3);
    item.tag = prefix >> 4;
    if (item.type == ItemType::Reserved || bytes.size() - pos - 1 < item.size)
        return std::nullopt;
    for (std::uint8_t i = 0; i < item.size; ++i)
        item.data |= static_cast<std::uint32_t>(bytes[pos + 1 + i]) << (8 * i);
    pos += 1 + item.size;
    return item;
}

struct GlobalState {
    USAGE usagePage = 0;
    LONG logicalMin = 0, logicalMax = 0;
    LONG physicalMin = 0, physicalMax = 0;
    ULONG unitsExp = 0, units = 0;
    std::uint32_t reportSize = 0, reportCount = 0;
    std::uint8_t reportId = 0;
    std::vector<HIDP_UNKNOWN_TOKEN> unknowns;
};

// A usage as an item gives it: four-byte usages carry their own page.
struct RawUsage {
    USAGE usage = 0;
    std::optional<USAGE> page;

    static RawUsage from(const Item& item) {
        RawUsage raw{static_cast<USAGE>(item.data & 0xFFFF), std::nullopt};
        if (item.size == 4)
            raw.page = static_cast<USAGE>(item.data >> 16);
        return raw;
    }
};

struct UsageEntry {
    RawUsage min, max;
    bool isRange = false;
    int aliasSet = -1; // delimiter set the usage belongs to; -1 outside delimiters
};

// A usage entry with its page settled when the main item is reached.
struct ResolvedUsage {
    USAGE page = 0, min = 0, max = 0;
    bool isRange = false;
    int aliasSet = -1;
    std::uint32_t span() const { return static_cast<std::uint32_t>(max) - min + 1; }
};

struct IndexOrRange {
    std::optional<std::uint32_t> index, min, max;
};

struct LocalState {
    std::vector<UsageEntry> usages;
    std::optional<RawUsage> usageMin, usageMax;
    IndexOrRange strings, designators;
    bool inDelimiter = false;
    int aliasSets = 0;
};

// One field of a main item before data indices are assigned; `slot` groups aliases, which
// share their bits and their data indices.
struct PendingField {
    ReportField field;
    std::size_t slot = 0;
};

class Parser {
public:
    // Parses every top-level collection, or only the one of index `onlyTopLevel`.
    explicit Parser(std::optional<std::size_t> onlyTopLevel = std::nullopt)
        : onlyTopLevel_(onlyTopLevel) {}
    std::optional<ParsedDescriptor> run(std::span<const std::uint8_t> bytes);

private:
    bool onMain(const Item& item);
    bool onGlobal(const Item& item);
    bool onLocal(const Item& item);
    void rememberUnknownGlobal(const Item& item);
    bool finish();

    bool openCollection(const Item& item);
    bool closeCollection();
    bool addNode(const ResolvedUsage& usage, std::uint8_t type, bool isAlias);
    bool addMainItem(HIDP_REPORT_TYPE type, std::uint16_t flags);
    bool checkReportIdUse();
    bool completeUsageRange();
    std::optional<std::vector<ResolvedUsage>> resolveUsages() const;
    ReportField fieldTemplate(HIDP_REPORT_TYPE type, std::uint16_t flags,
                              std::uint32_t bitOffset) const;
    std::vector<PendingField> variableFields(const std::vector<ResolvedUsage>& usages,
                                             const ReportField& base) const;
    std::vector<PendingField> arrayFields(const std::vector<ResolvedUsage>& usages,
                                          const ReportField& base) const;
    bool appendWithDataIndices(std::vector<PendingField> pending, HIDP_REPORT_TYPE type,
                               bool indicesInDeclarationOrder);
    bool isSelected() const {
        return !onlyTopLevel_ || result_.topLevelCollections == *onlyTopLevel_ + 1;
    }

    std::optional<std::size_t> onlyTopLevel_;
    ParsedDescriptor result_;
    GlobalState global_;
    std::vector<GlobalState> globalStack_;
    LocalState local_;
    // The nodes of the open collections that are parsed, and how deep the descriptor is nested
    // (collections that are skipped count there only).
    std::vector<USHORT> openCollections_;
    std::size_t depth_ = 0;
    USHORT lastTopLevel_ = 0;
    bool sawItemWithoutId_ = false;
};

std::optional<ParsedDescriptor> Parser::run(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > kMaxDescriptorBytes)
        return std::nullopt;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::optional<Item> item = readItem(bytes, pos);
        if (!item)
            return std::nullopt;
        bool ok = false;
        switch (item->type) {
        case ItemType::Main:
            ok = onMain(*item);
            local_ = LocalState{};
            break;
        case ItemType::Global:
            ok = onGlobal(*item);
            break;
        case ItemType::Local:
            ok = onLocal(*item);
            break;
        case ItemType::Reserved: // readItem refuses these already
            break;
        }
        if (!ok)
            return std::nullopt;
    }
    if (!finish())
        return std::nullopt;
    return std::move(result_);
}

bool Parser::onMain(const Item& item) {
    if (local_.inDelimiter)
        return false;
    const auto flags = static_cast<std::uint16_t>(item.data & 0xFFFF);
    switch (item.tag) {
    case MainTag::Input:
        return addMainItem(HidP_Input, flags);
    case MainTag::Output:
        return addMainItem(HidP_Output, flags);
    case MainTag::Feature:
        return addMainItem(HidP_Feature, flags);
    case MainTag::Collection:
        return openCollection(item);
    case MainTag::EndCollection:
        return closeCollection();
    default:
        return false;
    }
}

bool Parser::onGlobal(const Item& item) {
    switch (item.tag) {
    case GlobalTag::UsagePage:
        if (item.data > 0xFFFF)
            return false;
        global_.usagePage = static_cast<USAGE>(item.data);
        return true;
    case GlobalTag::LogicalMin:
        global_.logicalMin = item.signedData();
        return true;
    case GlobalTag::LogicalMax:
        global_.logicalMax = item.signedData();
        return true;
    case GlobalTag::PhysicalMin:
        global_.physicalMin = item.signedData();
        return true;
    case GlobalTag::PhysicalMax:
        global_.physicalMax = item.signedData();
        return true;
    case GlobalTag::UnitExponent:
        global_.unitsExp = item.data;
        return true;
    case GlobalTag::Unit:
        global_.units = item.data;
        return true;
    case GlobalTag::ReportSize:
        global_.reportSize = item.data;
        return true;
    case GlobalTag::ReportId:
        if (item.data == 0 || item.data > 0xFF)
            return false;
        global_.reportId = static_cast<std::uint8_t>(item.data);
        result_.usesReportIds = true;
        return true;
    case GlobalTag::ReportCount:
        global_.reportCount = item.data;
        return true;
    case GlobalTag::Push:
        if (globalStack_.size() >= kMaxGlobalStackDepth)
            return false;
        globalStack_.push_back(global_);
        return true;
    case GlobalTag::Pop:
        if (globalStack_.empty())
            return false;
        global_ = globalStack_.back();
        globalStack_.pop_back();
        return true;
    default:
        rememberUnknownGlobal(item);
        return true;
    }
}

// Global items of reserved kinds are kept, as their one-byte prefix and data, for
// HidP_GetExtendedAttributes. A later item of the same tag replaces an earlier one, as it would
// replace a known global's value, so at most one per reserved tag is kept.
void Parser::rememberUnknownGlobal(const Item& item) {
    const auto sizeCode = static_cast<std::uint8_t>(item.size == 4 ? 3 : item.size);
    HIDP_UNKNOWN_TOKEN token{};
    token.Token =
        static_cast<UCHAR>(item.tag << 4 | static_cast<std::uint8_t>(item.type) << 2 | sizeCode);
    token.BitField = item.data;
    std::vector<HIDP_UNKNOWN_TOKEN>& unknowns = global_.unknowns;
    const auto sameTag = std::find_if(unknowns.begin(), unknowns.end(), [&](const auto& known) {
        return known.Token >> 4 == item.tag;
    });
    if (sameTag != unknowns.end())
        *sameTag = token;
    else
        unknowns.push_back(token);
}

bool Parser::onLocal(const Item& item) {
    const bool isIndex = item.tag >= LocalTag::DesignatorIndex && item.tag <= LocalTag::StringMax;
    if (isIndex && item.data > 0xFFFF)
        return false;
    switch (item.tag) {
    case LocalTag::Usage:
        if (local_.usages.size() >= kMaxUsagesPerItem)
            return false;
        local_.usages.push_back({RawUsage::from(item), RawUsage::from(item), false,
                                 local_.inDelimiter ? local_.aliasSets : -1});
        return true;
    case LocalTag::UsageMin:
        if (local_.usageMin)
            return false;
        local_.usageMin = RawUsage::from(item);
        return completeUsageRange();
    case LocalTag::UsageMax:
        if (local_.usageMax)
            return false;
        local_.usageMax = RawUsage::from(item);
        return completeUsageRange();
    case LocalTag::DesignatorIndex:
        local_.designators.index = item.data;
        return true;
    case LocalTag::DesignatorMin:
        local_.designators.min = item.data;
        return true;
    case LocalTag::DesignatorMax:
        local_.designators.max = item.data;
        return true;
    case LocalTag::StringIndex:
        local_.strings.index = item.data;
        return true;
    case LocalTag::StringMin:
        local_.strings.min = item.data;
        return true;
    case LocalTag::StringMax:
        local_.strings.max = item.data;
        return true;
    case LocalTag::Delimiter:
        // 1 opens a set of alternative usages for one control, 0 closes it; sets do not nest.
        if (item.data > 1 || (item.data == 1) == local_.inDelimiter)
            return false;
        local_.inDelimiter = item.data == 1;
        if (!local_.inDelimiter)
            ++local_.aliasSets;
        return true;
    default:
        return true;
    }
}

// Turns a complete Usage Minimum / Usage Maximum pair into a range entry, refusing a pair that
// names two pages or runs backwards. A half-declared pair is refused at the main item.
bool Parser::completeUsageRange() {
    if (!local_.usageMin || !local_.usageMax)
        return true;
    const RawUsage min = *local_.usageMin;
    const RawUsage max = *local_.usageMax;
    local_.usageMin.reset();
    local_.usageMax.reset();
    if ((min.page && max.page && *min.page != *max.page) || min.usage > max.usage ||
        local_.usages.size() >= kMaxUsagesPerItem)
        return false;
    UsageEntry entry{min, max, true, local_.inDelimiter ? local_.aliasSets : -1};
    if (!entry.min.page)
        entry.min.page = max.page;
    local_.usages.push_back(entry);
    return true;
}

// Settles each usage's page: four-byte usages carry theirs, the others take the usage page in
// force at the main item. Null when a range was left half-declared.
std::optional<std::vector<ResolvedUsage>> Parser::resolveUsages() const {
    if (local_.usageMin || local_.usageMax)
        return std::nullopt;
    std::vector<ResolvedUsage> resolved;
    resolved.reserve(local_.usages.size());
    for (const UsageEntry& entry : local_.usages) {
        resolved.push_back({entry.min.page.value_or(global_.usagePage), entry.min.usage,
                            entry.max.usage, entry.isRange, entry.aliasSet});
    }
    return resolved;
}

bool Parser::openCollection(const Item& item) {
    if (item.data > 0xFF || depth_ >= kMaxCollections)
        return false;
    std::optional<std::vector<ResolvedUsage>> usages = resolveUsages();
    if (!usages)
        return false;
    if (depth_++ == 0)
        ++result_.topLevelCollections;
    if (!isSelected())
        return true;
    const auto type = static_cast<std::uint8_t>(item.data);
    if (usages->empty())
        usages->push_back({global_.usagePage, 0, 0, false, -1});
    // A collection opened with a set of alternative usages becomes one node per alternative;
    // all but the last are aliases of the node after them, and the last one holds the children.
    const int aliasSet = usages->front().aliasSet;
    std::size_t count = 1;
    while (aliasSet >= 0 && count < usages->size() && (*usages)[count].aliasSet == aliasSet)
        ++count;
    for (std::size_t i = 0; i < count; ++i) {
        if (!addNode((*usages)[i], type, i + 1 < count))
            return false;
    }
    openCollections_.push_back(static_cast<USHORT>(result_.collections.size() - 1));
    return true;
}

bool Parser::addNode(const ResolvedUsage& usage, std::uint8_t type, bool isAlias) {
    if (result_.collections.size() >= kMaxCollections)
        return false;
    const auto index = static_cast<USHORT>(result_.collections.size());
    LinkCollection node;
    node.usage = usage.min;
    node.usagePage = usage.page;
    node.collectionType = type;
    node.isAlias = isAlias;
    if (openCollections_.empty()) {
        if (index != 0)
            result_.collections[lastTopLevel_].nextSibling = index;
        lastTopLevel_ = index;
    } else {
        LinkCollection& parent = result_.collections[openCollections_.back()];
        node.parent = openCollections_.back();
        node.nextSibling = parent.firstChild;
        parent.firstChild = index;
        ++parent.numberOfChildren;
    }
    result_.collections.push_back(node);
    return true;
}

bool Parser::closeCollection() {
    if (depth_ == 0)
        return false;
    --depth_;
    if (isSelected())
        openCollections_.pop_back();
    return true;
}

// A descriptor uses report IDs for all its reports or for none.
bool Parser::checkReportIdUse() {
    if (global_.reportId == 0) {
        sawItemWithoutId_ = true;
        return !result_.usesReportIds;
    }
    return !sawItemWithoutId_;
}

ReportField Parser::fieldTemplate(HIDP_REPORT_TYPE type, std::uint16_t flags,
                                  std::uint32_t bitOffset) const {
    ReportField field;
    field.reportType = type;
    field.reportId = global_.reportId;
    field.flags = flags;
    field.bitOffset = bitOffset;
    field.bitSize = static_cast<std::uint16_t>(global_.reportSize);
    field.reportCount = static_cast<std::uint16_t>(global_.reportCount);
    field.isButton = global_.reportSize > 0 && (global_.reportSize == 1 || field.isArray());
    field.logicalMin = global_.logicalMin;
    field.logicalMax = global_.logicalMax;
    field.physicalMin = global_.physicalMin;
    field.physicalMax = global_.physicalMax;
    field.unitsExp = global_.unitsExp;
    field.units = global_.units;
    field.globalUnknowns = global_.unknowns;
    field.linkCollection = openCollections_.back();
    const auto setIndexOrRange = [](const IndexOrRange& locals, bool& isRange, USHORT& min,
                                    USHORT& max) {
        isRange = locals.min && locals.max;
        if (isRange) {
            min = static_cast<USHORT>(*locals.min);
            max = static_cast<USHORT>(*locals.max);
        } else if (locals.index) {
            min = max = static_cast<USHORT>(*locals.index);
        }
    };
    setIndexOrRange(local_.strings, field.isStringRange, field.stringMin, field.stringMax);
    setIndexOrRange(local_.designators, field.isDesignatorRange, field.designatorMin,
                    field.designatorMax);
    return field;
}

// A report size of 0 is accepted: its usages become values without bits. A report count of 0
// declares nothing.
bool Parser::addMainItem(HIDP_REPORT_TYPE type, std::uint16_t flags) {
    const std::optional<std::vector<ResolvedUsage>> usages = resolveUsages();
    if (!usages || depth_ == 0 || !checkReportIdUse())
        return false;
    const std::uint64_t size = global_.reportSize;
    const std::uint64_t count = global_.reportCount;
    const bool isPadding = usages->empty();
    if (!isPadding && size > 32)
        return false;
    ReportTypeLayout& layout = result_.layouts[type];
    const std::uint64_t usedBits = layout.bitsById[global_.reportId] + size * count;
    if (count > 0xFFFF || size > 0xFFFF || (usedBits + 7) / 8 + 1 > kMaxReportBytes)
        return false;
    if (count == 0 || !isSelected())
        return true;
    layout.idDeclared[global_.reportId] = true;
    const ReportField base = fieldTemplate(type, flags, 8 + layout.bitsById[global_.reportId]);
    layout.bitsById[global_.reportId] = static_cast<std::uint32_t>(usedBits);
    if (isPadding) {
        if (result_.fields.size() >= kMaxFields)
            return false;
        result_.fields.push_back(base);
        result_.fields.back().isPadding = true;
        return true;
    }
    // Selectors need bits; an array without any is laid out as its usages' values.
    const bool isSelectorArray = base.isArray() && size > 0;
    return appendWithDataIndices(isSelectorArray ? arrayFields(*usages, base)
                                                 : variableFields(*usages, base),
                                 type, isSelectorArray);
}

// Variable items: each usage entry (or set of aliases) takes as many fields as it has usages,
// in declaration order; the last one takes all fields left, and entries beyond the report
// count are dropped.
std::vector<PendingField> Parser::variableFields(const std::vector<ResolvedUsage>& usages,
                                                 const ReportField& base) const {
    std::vector<PendingField> pending;
    std::uint32_t remaining = base.reportCount;
    std::uint32_t bitOffset = base.bitOffset;
    std::size_t slot = 0;
    for (std::size_t i = 0; i < usages.size() && remaining > 0;) {
        std::size_t end = i + 1;
        while (usages[i].aliasSet >= 0 && end < usages.size() &&
               usages[end].aliasSet == usages[i].aliasSet)
            ++end;
        const bool isLastSlot = end == usages.size();
        const std::uint32_t fields =
            isLastSlot ? remaining : std::min<std::uint32_t>(usages[i].span(), remaining);
        for (std::size_t j = i; j < end; ++j) {
            ReportField field = base;
            field.bitOffset = bitOffset;
            field.reportCount = static_cast<std::uint16_t>(fields);
            field.usagePage = usages[j].page;
            field.usageMin = usages[j].min;
            field.usageMax = static_cast<USAGE>(std::min<std::uint32_t>(
                usages[j].max, static_cast<std::uint32_t>(usages[j].min) + fields - 1));
            field.isRange = usages[j].isRange;
            field.isAlias = j > i;
            pending.push_back({field, slot});
        }
        bitOffset += fields * base.bitSize;
        remaining -= fields;
        ++slot;
        i = end;
    }
    return pending;
}

// Array items: every usage entry shares the item's bits; a selector names a usage by its place
// in the item's whole usage list, counted from 1 (or from 0 when that list starts with usage 0).
std::vector<PendingField> Parser::arrayFields(const std::vector<ResolvedUsage>& usages,
                                              const ReportField& base) const {
    std::vector<PendingField> pending;
    std::uint32_t selector = usages.front().min == 0 ? 0 : 1;
    for (std::size_t i = 0; i < usages.size(); ++i) {
        ReportField field = base;
        field.usagePage = usages[i].page;
        field.usageMin = usages[i].min;
        field.usageMax = usages[i].max;
        field.isRange = usages[i].isRange;
        field.isAlias =
            usages[i].aliasSet >= 0 && i > 0 && usages[i - 1].aliasSet == usages[i].aliasSet;
        field.firstSelector = selector;
        selector += usages[i].span();
        pending.push_back({field, i});
    }
    return pending;
}

// Fields of one main item enter the table last usage first. A variable item's take data indices
// in that order, an array's in declaration order; aliases of one control share theirs. Within a
// set of aliases every capability but the last is an alias of the one after it, so the first
// usage declared, the preferred one, ends the set as the one that is not an alias.
bool Parser::appendWithDataIndices(std::vector<PendingField> pending, HIDP_REPORT_TYPE type,
                                   bool indicesInDeclarationOrder) {
    if (result_.fields.size() + pending.size() > kMaxFields)
        return false;
    const std::size_t firstField = result_.fields.size();
    if (!indicesInDeclarationOrder)
        std::reverse(pending.begin(), pending.end());
    ReportTypeLayout& layout = result_.layouts[type];
    std::uint32_t next = layout.dataIndices;
    for (std::size_t i = 0; i < pending.size();) {
        std::size_t end = i + 1;
        while (end < pending.size() && pending[end].slot == pending[i].slot)
            ++end;
        std::uint32_t slotIndices = 0;
        for (std::size_t j = i; j < end; ++j) {
            ReportField& field = pending[j].field;
            const std::uint32_t indices =
                static_cast<std::uint32_t>(field.usageMax) - field.usageMin + 1;
            if (next + indices > kMaxDataIndices)
                return false;
            field.dataIndexMin = static_cast<USHORT>(next);
            field.dataIndexMax = static_cast<USHORT>(next + indices - 1);
            slotIndices = std::max(slotIndices, indices);
            result_.fields.push_back(field);
            ++(field.isButton ? layout.buttonCaps : layout.valueCaps);
        }
        next += slotIndices;
        i = end;
    }
    layout.dataIndices = static_cast<USHORT>(next);
    if (indicesInDeclarationOrder)
        std::reverse(result_.fields.begin() + static_cast<std::ptrdiff_t>(firstField),
                     result_.fields.end());
    return true;
}

bool Parser::finish() {
    if (depth_ != 0 || !globalStack_.empty() || result_.collections.empty() || local_.inDelimiter)
        return false;
    for (ReportTypeLayout& layout : result_.layouts) {
        for (std::size_t id = 0; id < layout.bitsById.size(); ++id) {
            if (layout.idDeclared[id]) {
                const auto bytes = static_cast<USHORT>((layout.bitsById[id] + 7) / 8 + 1);
                layout.byteLength = std::max(layout.byteLength, bytes);
            }
        }
    }
    return true;
}

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

// The preparsed data this parser has made and not yet released. Checking membership before
// touching a pointer turns a foreign or stale pointer into a status instead of a crash.
std::unordered_set<const HIDP_PREPARSED_DATA*>& liveData() {
    static std::unordered_set<const HIDP_PREPARSED_DATA*> live;
    return live;
}

} // namespace

std::optional<ParsedDescriptor> ParseReportDescriptor(std::span<const std::uint8_t> descriptor) {
    return Parser().run(descriptor);
}

std::optional<ParsedDescriptor> ParseTopLevelCollection(std::span<const std::uint8_t> descriptor,
                                                        std::size_t topLevelCollection) {
    return Parser(topLevelCollection).run(descriptor);
}

bool DeclaresReportIds(std::span<const std::uint8_t> descriptor) {
    const std::optional<ParsedDescriptor> parsed = ParseReportDescriptor(descriptor);
    return parsed && parsed->usesReportIds;
}

namespace {

PHIDP_PREPARSED_DATA registerParsed(std::optional<ParsedDescriptor> parsed) {
    if (!parsed)
        return nullptr;
    auto data = std::make_unique<HIDP_PREPARSED_DATA>(HIDP_PREPARSED_DATA{std::move(*parsed)});
    const std::lock_guard lock(registryMutex());
    liveData().insert(data.get());
    return data.release();
}

} // namespace

PHIDP_PREPARSED_DATA ParsePreparsedData(const std::uint8_t* descriptor, std::size_t length) {
    if (descriptor == nullptr || length > kMaxDescriptorBytes)
        return nullptr;
    return registerParsed(ParseReportDescriptor({descriptor, length}));
}

PHIDP_PREPARSED_DATA ParsePreparsedData(const std::uint8_t* descriptor, std::size_t length,
                                        std::size_t topLevelCollection) {
    if (descriptor == nullptr || length > kMaxDescriptorBytes)
        return nullptr;
    return registerParsed(ParseTopLevelCollection({descriptor, length}, topLevelCollection));
}

bool FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
    {
        const std::lock_guard lock(registryMutex());
        if (liveData().erase(preparsedData) == 0)
            return false;
    }
    delete preparsedData;
    return true;
}

const ParsedDescriptor* DescriptorOf(PHIDP_PREPARSED_DATA preparsedData) {
    const std::lock_guard lock(registryMutex());
    return liveData().contains(preparsedData) ? &preparsedData->descriptor : nullptr;
}

} // namespace platform
