#include "cli/StationLog.h"

#include <gtest/gtest.h>

TEST(StationLog, RowsWithCommasAndQuotesReadBackAsWritten) {
    TStationRow row;
    row.TimeUtc = "2026-12-10T08:00:00Z";
    row.Station = "bench \"A\", left";
    row.Serial = "X,1";
    row.Result = "error";
    row.Error = "gone\nmid-write";
    row.LocationId = 7;
    const std::string line = TStationLog::FormatRow(row);
    ASSERT_EQ(line.back(), '\n');
    ASSERT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << "one row, one line";
    const auto fields = TStationLog::SplitRow(line.substr(0, line.size() - 1));
    ASSERT_EQ(fields.size(), 12u);
    EXPECT_EQ(fields[1], "bench \"A\", left");
    EXPECT_EQ(fields[3], "X,1");
    EXPECT_EQ(fields[8], "7");
    EXPECT_EQ(fields[10], "gone mid-write");
}
