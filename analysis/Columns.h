// The columns that may follow Pic: their names on the command line, their titles in the header
// line.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/Settings.h"

namespace swelox {

inline constexpr const char* kHeaderLine =
    "Width\tHeight\tBwide\tBhigh\tmeanDiff\tRMS\tnDiffs\tPic";

inline constexpr Column kAllColumns[] = {Column::Time, Column::Path, Column::Region,
                                         Column::Direction, Column::Quality};

// "time", "path", "region", "direction", "quality".
const char* ColumnName(Column column);
// "Time", "Path", "Region", "Direction", "Quality".
const char* ColumnTitle(Column column);

// The header line with the titles of `columns` after Pic.
std::string HeaderLine(std::span<const Column> columns);

// A comma-separated list of column names, each at most once, in the order wanted. Raises an
// Error (settings) that names the fault: an unknown name, a name listed twice, an empty one.
std::vector<Column> ParseColumnList(std::string_view text);

// The names of `columns`, comma-separated: what ParseColumnList reads back.
std::string ColumnListText(std::span<const Column> columns);

}  // namespace swelox
