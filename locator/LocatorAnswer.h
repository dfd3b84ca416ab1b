#pragma once
// What the tool makes of an input report: the terminal's report block, the report text in which
// an answer is decoded, the window state a read-back puts into the controls, and the two
// verifications of an answer (against the controls after "Set", against the factory defaults
// after a reset). No window here: controls come and go as TLocatorSelection.

#include "locator/LocatorReport.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Data bytes every report of the protocol carries after its report ID.
inline constexpr std::size_t kReportDataBytes = 64;

// The eight terminal lines of one report: "> " and eight bytes as upper-case hex pairs. Only the
// first `size` bytes are read; a byte the report did not carry shows as "--".
std::vector<std::string> ReportBlockLines(const std::uint8_t* data, std::size_t size);

// The 64 data bytes `data` points at, as upper-case hex pairs separated by single spaces: 191
// characters.
std::string ReportText(const std::uint8_t* data);

// The controls' state as a read-back sets it and a verification reads it: each list's selected
// item index (-1: nothing selected) and the texts of the three edit boxes.
struct TLocatorSelection {
    int OEM1 = -1;
    int OEM2 = -1;
    std::string LocationID;
    int CustMsgCounts = -1;
    int CustMsgPeriod = -1;
    int LocationStatus = -1;
    int LocationStatusPolling = -1;
    int LocationStatusMsgCounts = -1;
    int EnableCustMsgAntenna = -1;
    int CustMsgPower = -1;
    int TransmitLowBatFFM = -1;
    int Frequency = -1;
    int LowBatFreeMsg = -1;
    std::string Ext1;
    std::string Ext2;

    friend bool operator==(const TLocatorSelection&, const TLocatorSelection&) = default;
};

// The selection that shows a report text's configuration. Indices are not range-checked: the
// window leaves a list unselected for an index it does not have.
TLocatorSelection SelectionFromReportText(const std::string& Str);

// The report text of an answer, or none for a report shorter than the protocol's 64 data bytes:
// it cannot carry a whole configuration, so the handlers show it and otherwise ignore it.
std::optional<std::string> LocatorAnswerText(const std::uint8_t* data, std::size_t size);

// The fields (indices into LocatorFields()) in which the answer differs from the controls, in
// field order. The one verification of an answer: the window lists these as terminal lines,
// tarvexctl with the values written and read. Ext1 and Ext2 compare by value, so "F" matches
// "0F" and "0a" matches "0A"; a text that is not hexadecimal never matches, nor does a
// Location ID text that is not an integer.
std::vector<int> DifferingFields(const std::string& Str, const TLocatorSelection& controls);

// One terminal line for each field in which the answer differs from the controls, in field
// order; none when everything matches.
std::vector<std::string> CompareLocatorUIValues(const std::string& Str,
                                                const TLocatorSelection& controls);

// The controls' state that shows a configuration: what the window holds after writing it.
TLocatorSelection SelectionFromConfig(const TLocatorConfig& config);

// Whether every field of the answer holds its factory default; the three switches must be
// exactly 0.
bool MatchesFactoryDefaults(const std::string& Str);
