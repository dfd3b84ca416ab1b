#pragma once
// The HID parsing library: types, constants and status codes with that system's names, layouts
// and values, and the operations built on the report-descriptor parser. Preparsed data is
// opaque to callers; it is made by ParsePreparsedData and released by FreePreparsedData.

#include "platform/win32/WinTypes.h"

#include <cstddef>
#include <cstdint>

// The capability records are packed to four bytes, as that system's header declares them, so
// their sizes and offsets match (HIDP_CAPS is 64 bytes).
#pragma pack(push, 4)

using USAGE = USHORT;
using PUSAGE = USAGE*;

struct HIDP_PREPARSED_DATA;
using PHIDP_PREPARSED_DATA = HIDP_PREPARSED_DATA*;

enum HIDP_REPORT_TYPE : int { HidP_Input, HidP_Output, HidP_Feature };

constexpr USHORT HIDP_LINK_COLLECTION_ROOT = static_cast<USHORT>(-1);
constexpr USHORT HIDP_LINK_COLLECTION_UNSPECIFIED = 0;

struct USAGE_AND_PAGE {
    USAGE Usage;
    USAGE UsagePage;
};
using PUSAGE_AND_PAGE = USAGE_AND_PAGE*;

// The usage, string, designator and data-index part of a capability: a range, or one value each
// (the Reserved members then repeat the value, so reading it through the range gives min == max).
struct HIDP_CAPS_RANGE {
    USAGE UsageMin, UsageMax;
    USHORT StringMin, StringMax;
    USHORT DesignatorMin, DesignatorMax;
    USHORT DataIndexMin, DataIndexMax;
};
struct HIDP_CAPS_NOT_RANGE {
    USAGE Usage, Reserved1;
    USHORT StringIndex, Reserved2;
    USHORT DesignatorIndex, Reserved3;
    USHORT DataIndex, Reserved4;
};

struct HIDP_BUTTON_CAPS {
    USAGE UsagePage;
    UCHAR ReportID;
    BOOLEAN IsAlias;
    USHORT BitField; // the main item's flags (constant, variable, relative, ...)
    USHORT LinkCollection;
    USAGE LinkUsage;
    USAGE LinkUsagePage;
    BOOLEAN IsRange;
    BOOLEAN IsStringRange;
    BOOLEAN IsDesignatorRange;
    BOOLEAN IsAbsolute;
    ULONG Reserved[10];
    union {
        HIDP_CAPS_RANGE Range;
        HIDP_CAPS_NOT_RANGE NotRange;
    };
};
using PHIDP_BUTTON_CAPS = HIDP_BUTTON_CAPS*;

struct HIDP_VALUE_CAPS {
    USAGE UsagePage;
    UCHAR ReportID;
    BOOLEAN IsAlias;
    USHORT BitField;
    USHORT LinkCollection;
    USAGE LinkUsage;
    USAGE LinkUsagePage;
    BOOLEAN IsRange;
    BOOLEAN IsStringRange;
    BOOLEAN IsDesignatorRange;
    BOOLEAN IsAbsolute;
    BOOLEAN HasNull;
    UCHAR Reserved;
    USHORT BitSize;
    USHORT ReportCount;
    USHORT Reserved2[5];
    ULONG UnitsExp;
    ULONG Units;
    LONG LogicalMin, LogicalMax;
    LONG PhysicalMin, PhysicalMax;
    union {
        HIDP_CAPS_RANGE Range;
        HIDP_CAPS_NOT_RANGE NotRange;
    };
};
using PHIDP_VALUE_CAPS = HIDP_VALUE_CAPS*;

struct HIDP_LINK_COLLECTION_NODE {
    USAGE LinkUsage;
    USAGE LinkUsagePage;
    USHORT Parent;
    USHORT NumberOfChildren;
    USHORT NextSibling;
    USHORT FirstChild;
    ULONG CollectionType : 8;
    ULONG IsAlias : 1;
    ULONG Reserved : 23;
    PVOID UserContext;
};
using PHIDP_LINK_COLLECTION_NODE = HIDP_LINK_COLLECTION_NODE*;

struct HIDP_CAPS {
    USAGE Usage;
    USAGE UsagePage;
    USHORT InputReportByteLength;
    USHORT OutputReportByteLength;
    USHORT FeatureReportByteLength;
    USHORT Reserved[17];
    USHORT NumberLinkCollectionNodes;
    USHORT NumberInputButtonCaps;
    USHORT NumberInputValueCaps;
    USHORT NumberInputDataIndices;
    USHORT NumberOutputButtonCaps;
    USHORT NumberOutputValueCaps;
    USHORT NumberOutputDataIndices;
    USHORT NumberFeatureButtonCaps;
    USHORT NumberFeatureValueCaps;
    USHORT NumberFeatureDataIndices;
};
using PHIDP_CAPS = HIDP_CAPS*;

struct HIDP_DATA {
    USHORT DataIndex;
    USHORT Reserved;
    union {
        ULONG RawValue;
        BOOLEAN On;
    };
};
using PHIDP_DATA = HIDP_DATA*;

struct HIDP_UNKNOWN_TOKEN {
    UCHAR Token;
    UCHAR Reserved[3];
    ULONG BitField;
};
using PHIDP_UNKNOWN_TOKEN = HIDP_UNKNOWN_TOKEN*;

struct HIDP_EXTENDED_ATTRIBUTES {
    UCHAR NumGlobalUnknowns;
    UCHAR Reserved[3];
    PHIDP_UNKNOWN_TOKEN GlobalUnknowns;
    ULONG Data[1];
};
using PHIDP_EXTENDED_ATTRIBUTES = HIDP_EXTENDED_ATTRIBUTES*;

#pragma pack(pop)

static_assert(sizeof(HIDP_CAPS) == 64);
static_assert(sizeof(HIDP_BUTTON_CAPS) == 72);
static_assert(sizeof(HIDP_VALUE_CAPS) == 72);
static_assert(sizeof(HIDP_DATA) == 8);
static_assert(sizeof(USAGE_AND_PAGE) == 4);
static_assert(sizeof(HIDP_LINK_COLLECTION_NODE) == 16 + sizeof(PVOID));

// Status codes: severity in bits 28..31, the HID facility (0x11) in bits 16..27.
constexpr NTSTATUS HidpErrorCode(std::uint32_t severity, std::uint32_t code) {
    return static_cast<NTSTATUS>((severity << 28) | (0x11u << 16) | code);
}

constexpr NTSTATUS HIDP_STATUS_SUCCESS = HidpErrorCode(0x0, 0);
constexpr NTSTATUS HIDP_STATUS_NULL = HidpErrorCode(0x8, 1);
constexpr NTSTATUS HIDP_STATUS_INVALID_PREPARSED_DATA = HidpErrorCode(0xC, 1);
constexpr NTSTATUS HIDP_STATUS_INVALID_REPORT_TYPE = HidpErrorCode(0xC, 2);
constexpr NTSTATUS HIDP_STATUS_INVALID_REPORT_LENGTH = HidpErrorCode(0xC, 3);
constexpr NTSTATUS HIDP_STATUS_USAGE_NOT_FOUND = HidpErrorCode(0xC, 4);
constexpr NTSTATUS HIDP_STATUS_VALUE_OUT_OF_RANGE = HidpErrorCode(0xC, 5);
constexpr NTSTATUS HIDP_STATUS_BAD_LOG_PHY_VALUES = HidpErrorCode(0xC, 6);
constexpr NTSTATUS HIDP_STATUS_BUFFER_TOO_SMALL = HidpErrorCode(0xC, 7);
constexpr NTSTATUS HIDP_STATUS_INTERNAL_ERROR = HidpErrorCode(0xC, 8);
constexpr NTSTATUS HIDP_STATUS_I8042_TRANS_UNKNOWN = HidpErrorCode(0xC, 9);
constexpr NTSTATUS HIDP_STATUS_INCOMPATIBLE_REPORT_ID = HidpErrorCode(0xC, 0xA);
constexpr NTSTATUS HIDP_STATUS_NOT_VALUE_ARRAY = HidpErrorCode(0xC, 0xB);
constexpr NTSTATUS HIDP_STATUS_IS_VALUE_ARRAY = HidpErrorCode(0xC, 0xC);
constexpr NTSTATUS HIDP_STATUS_DATA_INDEX_NOT_FOUND = HidpErrorCode(0xC, 0xD);
constexpr NTSTATUS HIDP_STATUS_DATA_INDEX_OUT_OF_RANGE = HidpErrorCode(0xC, 0xE);
constexpr NTSTATUS HIDP_STATUS_BUTTON_NOT_PRESSED = HidpErrorCode(0xC, 0xF);
constexpr NTSTATUS HIDP_STATUS_REPORT_DOES_NOT_EXIST = HidpErrorCode(0xC, 0x10);
constexpr NTSTATUS HIDP_STATUS_NOT_IMPLEMENTED = HidpErrorCode(0xC, 0x20);
constexpr NTSTATUS HIDP_STATUS_I8242_TRANS_UNKNOWN = HIDP_STATUS_I8042_TRANS_UNKNOWN;

namespace platform {

// Parses a report descriptor as the device presents it (every top-level collection of one
// interface). Returns null when the descriptor is malformed or exceeds the parser's bounds
// (4096 bytes of descriptor, 4096 bytes per report). The result stays valid until
// FreePreparsedData; it may be read from several threads at once.
PHIDP_PREPARSED_DATA ParsePreparsedData(const std::uint8_t* descriptor, std::size_t length);

// The preparsed data of one top-level collection (0-based) on its own, as that system gives each
// collection's interface: link nodes, data indices and report lengths start afresh. Null also
// when the descriptor has no collection of that index.
PHIDP_PREPARSED_DATA ParsePreparsedData(const std::uint8_t* descriptor, std::size_t length,
                                        std::size_t topLevelCollection);

// Releases preparsed data made by ParsePreparsedData. Returns false, and does nothing, for null,
// a pointer this parser did not make, or one already released.
bool FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData);

// The operations below answer HIDP_STATUS_INVALID_PREPARSED_DATA for null, foreign or released
// preparsed data, and HIDP_STATUS_INVALID_REPORT_TYPE for a type other than the three above.
// The capability queries fill what fits, set the length to the number of matching entries and
// answer HIDP_STATUS_BUFFER_TOO_SMALL when that is more than the caller's length;
// HIDP_STATUS_USAGE_NOT_FOUND when nothing matches. A null length pointer answers HIDP_STATUS_NULL.

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities);

NTSTATUS HidP_GetLinkCollectionNodes(PHIDP_LINK_COLLECTION_NODE LinkCollectionNodes,
                                     PULONG LinkCollectionNodesLength,
                                     PHIDP_PREPARSED_DATA PreparsedData);

// UsagePage 0, LinkCollection HIDP_LINK_COLLECTION_UNSPECIFIED and Usage 0 match anything;
// HIDP_LINK_COLLECTION_ROOT matches the first top-level collection only.
NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                    USHORT LinkCollection, USAGE Usage,
                                    PHIDP_BUTTON_CAPS ButtonCaps, PUSHORT ButtonCapsLength,
                                    PHIDP_PREPARSED_DATA PreparsedData);

NTSTATUS HidP_GetButtonCaps(HIDP_REPORT_TYPE ReportType, PHIDP_BUTTON_CAPS ButtonCaps,
                            PUSHORT ButtonCapsLength, PHIDP_PREPARSED_DATA PreparsedData);

NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                   USHORT LinkCollection, USAGE Usage, PHIDP_VALUE_CAPS ValueCaps,
                                   PUSHORT ValueCapsLength, PHIDP_PREPARSED_DATA PreparsedData);

NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE ReportType, PHIDP_VALUE_CAPS ValueCaps,
                           PUSHORT ValueCapsLength, PHIDP_PREPARSED_DATA PreparsedData);

// How many HIDP_DATA entries HidP_GetData can return for a report type: the usage list's length
// over every page, plus each value capability's usages (one for a value array). 0 for invalid
// preparsed data or report type.
ULONG HidP_MaxDataListLength(HIDP_REPORT_TYPE ReportType, PHIDP_PREPARSED_DATA PreparsedData);

// How many usages HidP_GetUsages can return for a report type and usage page (0: every page):
// the report counts of the matching button capabilities added up, each entry of an array item
// counting all its places. 0 for invalid preparsed data or report type.
ULONG HidP_MaxUsageListLength(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                              PHIDP_PREPARSED_DATA PreparsedData);

// Buttons are usages by another name; callers written for either name get the same count.
inline ULONG HidP_MaxButtonListLength(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                      PHIDP_PREPARSED_DATA PreparsedData) {
    return HidP_MaxUsageListLength(ReportType, UsagePage, PreparsedData);
}

// The report operations below read or write one report buffer whose length must equal the
// report type's byte length in HIDP_CAPS (else HIDP_STATUS_INVALID_REPORT_LENGTH). Byte 0 is the
// report ID: where the descriptor declares IDs it must name one that carries the control asked
// for (else HIDP_STATUS_INCOMPATIBLE_REPORT_ID), or be 0, which lets every report's controls
// through; where it declares none it must be 0 (else HIDP_STATUS_INCOMPATIBLE_REPORT_ID too). A
// usage that is in no report of the type answers HIDP_STATUS_USAGE_NOT_FOUND. Null list, length
// or report pointers answer HIDP_STATUS_NULL. The report ID byte is never written, and a control
// without bits (a report size of 0) never reads or writes the report.
//
// An array item's places hold selectors: the 1-based position of a usage in the item's usage
// list, whatever its logical range, 0 for an empty place (a list that starts with usage 0 puts
// that usage on the empty place, so keyboards' and consumer controls' selectors are usages).

// Every control of the report named by its ID byte, by data index: buttons that are on (an array
// usage once for each place holding it), and each value, 0 included (value arrays and values
// without bits excepted), in data-index order. Fills what fits of *DataLength entries and sets
// *DataLength to how many there are (HIDP_STATUS_BUFFER_TOO_SMALL when that is more);
// HidP_MaxDataListLength entries always suffice.
NTSTATUS HidP_GetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList, PULONG DataLength,
                      PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength);

// Sets controls by data index, in list order. An array usage turned on takes the first empty
// place, even when it is on already; turned off, it leaves the first place holding it and the
// places after that move down one (HIDP_STATUS_BUTTON_NOT_PRESSED when none holds it). Stops at
// the first entry that fails, with *DataLength set to the number of entries applied before it;
// HIDP_STATUS_DATA_INDEX_NOT_FOUND for an index that is in no report of the type,
// HIDP_STATUS_IS_VALUE_ARRAY for a value array, HIDP_STATUS_BUFFER_TOO_SMALL when an array has
// no empty place left. An empty list answers HIDP_STATUS_REPORT_DOES_NOT_EXIST.
NTSTATUS HidP_SetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList, PULONG DataLength,
                      PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength);

// The buttons of one usage page (0: every page) that are on in the report, from variable and
// array items, an array's in the order of its places. Fills what fits and sets *UsageLength to
// the count; HIDP_STATUS_BUFFER_TOO_SMALL when it is more than was asked for.
NTSTATUS HidP_GetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                        PUSAGE UsageList, PULONG UsageLength, PHIDP_PREPARSED_DATA PreparsedData,
                        PCHAR Report, ULONG ReportLength);

// As HidP_GetUsages, over every usage page, with each button's page.
NTSTATUS HidP_GetUsagesEx(HIDP_REPORT_TYPE ReportType, USHORT LinkCollection,
                          PUSAGE_AND_PAGE ButtonList, ULONG* UsageLength,
                          PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength);

// Turns the listed buttons on (a variable bit set, or the first empty array place taken, even
// for a usage on already). Stops at the first usage that fails, with *UsageLength set to its
// position: HIDP_STATUS_USAGE_NOT_FOUND for an unknown usage, HIDP_STATUS_BUFFER_TOO_SMALL when
// the array is full; the usages placed before it stay. Zeros in the list are skipped.
NTSTATUS HidP_SetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                        PUSAGE UsageList, PULONG UsageLength, PHIDP_PREPARSED_DATA PreparsedData,
                        PCHAR Report, ULONG ReportLength);

// Turns the listed buttons off (an array's first place holding the usage is emptied where it
// is); HIDP_STATUS_BUTTON_NOT_PRESSED for one that is not on.
NTSTATUS HidP_UnsetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                          PUSAGE UsageList, PULONG UsageLength, PHIDP_PREPARSED_DATA PreparsedData,
                          PCHAR Report, ULONG ReportLength);

// The raw bits of one value, zero-extended, as the report carries them, without a range check;
// *UsageValue is left alone on failure. This and the other single-value operations act on place
// 0 of a value array (a usage that owns several places, read and written whole by
// HidP_GetUsageValueArray and HidP_SetUsageValueArray).
NTSTATUS HidP_GetUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                            USAGE Usage, PULONG UsageValue, PHIDP_PREPARSED_DATA PreparsedData,
                            PCHAR Report, ULONG ReportLength);

// One value, sign-extended when its logical range is signed, and scaled into its physical range
// when that is declared. HIDP_STATUS_NULL when it lies outside its logical range and the item has
// a null state, HIDP_STATUS_VALUE_OUT_OF_RANGE when it lies outside without one;
// HIDP_STATUS_BAD_LOG_PHY_VALUES when either range runs backwards or is empty; *UsageValue is
// then 0. A physical range of 0..0 means none is declared.
NTSTATUS HidP_GetScaledUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                  USHORT LinkCollection, USAGE Usage, PLONG UsageValue,
                                  PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                  ULONG ReportLength);

// All places of a value array, packed as the report packs them. HIDP_STATUS_NOT_VALUE_ARRAY for
// any other usage, a usage of a range capability too; HIDP_STATUS_BUFFER_TOO_SMALL when
// UsageValueByteLength is below the places' bits rounded up to bytes.
NTSTATUS HidP_GetUsageValueArray(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                 USHORT LinkCollection, USAGE Usage, PCHAR UsageValue,
                                 USHORT UsageValueByteLength, PHIDP_PREPARSED_DATA PreparsedData,
                                 PCHAR Report, ULONG ReportLength);

// Writes the low bits of UsageValue into one value.
NTSTATUS HidP_SetUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                            USAGE Usage, ULONG UsageValue, PHIDP_PREPARSED_DATA PreparsedData,
                            PCHAR Report, ULONG ReportLength);

// Writes a physical value, scaled into the logical range without overflow however wide the
// ranges. A value outside the physical range writes the null state where the item has one (and
// answers HIDP_STATUS_SUCCESS), else answers HIDP_STATUS_VALUE_OUT_OF_RANGE and leaves the
// report alone.
NTSTATUS HidP_SetScaledUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                  USHORT LinkCollection, USAGE Usage, LONG UsageValue,
                                  PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                  ULONG ReportLength);

// The inverse of HidP_GetUsageValueArray.
NTSTATUS HidP_SetUsageValueArray(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                 USHORT LinkCollection, USAGE Usage, PCHAR UsageValue,
                                 USHORT UsageValueByteLength, PHIDP_PREPARSED_DATA PreparsedData,
                                 PCHAR Report, ULONG ReportLength);

// The global items of reserved kinds in force at a control, one per tag, placed after the record
// in the caller's buffer (*LengthAttributes must leave room for them: else
// HIDP_STATUS_BUFFER_TOO_SMALL with the length needed); HIDP_STATUS_DATA_INDEX_NOT_FOUND for an
// unknown data index.
NTSTATUS HidP_GetExtendedAttributes(HIDP_REPORT_TYPE ReportType, USHORT DataIndex,
                                    PHIDP_PREPARSED_DATA PreparsedData,
                                    PHIDP_EXTENDED_ATTRIBUTES Attributes, PULONG LengthAttributes);

// Clears a report buffer for one report ID: byte 0 becomes the ID, the ReportLength - 1 bytes
// after it 0. HIDP_STATUS_REPORT_DOES_NOT_EXIST when the type has no control in a report of
// that ID (padding alone is no report).
NTSTATUS HidP_InitializeReportForID(HIDP_REPORT_TYPE ReportType, UCHAR ReportID,
                                    PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                    ULONG ReportLength);

} // namespace platform

// The button names of the usage operations, as that system's header spells them: macros, so
// that they resolve to whichever HidP_*Usages is in scope, the parser's own or an entry bound at
// run time.
#define HidP_GetButtons(Rty, UPa, LCo, ULi, ULe, Ppd, Rep, RLe)                                    \
    HidP_GetUsages(Rty, UPa, LCo, ULi, ULe, Ppd, Rep, RLe)
#define HidP_GetButtonsEx(Rty, LCo, BLi, ULe, Ppd, Rep, RLe)                                       \
    HidP_GetUsagesEx(Rty, LCo, BLi, ULe, Ppd, Rep, RLe)
#define HidP_SetButtons(Rty, UPa, LCo, ULi, ULe, Ppd, Rep, RLe)                                    \
    HidP_SetUsages(Rty, UPa, LCo, ULi, ULe, Ppd, Rep, RLe)
#define HidP_UnsetButtons(Rty, UPa, LCo, ULi, ULe, Ppd, Rep, RLe)                                  \
    HidP_UnsetUsages(Rty, UPa, LCo, ULi, ULe, Ppd, Rep, RLe)
