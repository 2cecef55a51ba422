// A table of rows as a file: tab-separated as the rows are shown, or comma-separated values
// (RFC 4180) when the file's name ends in ".csv". The window's Save and swelox-cli's --output
// follow this one rule.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace swelox {

enum class TableFormat { Tsv, Csv };

// Csv for a name ending in ".csv" (in any case), Tsv for any other.
TableFormat FormatForName(std::string_view path);

// One tab-separated line (without its line feed) as a record of the file, its end included:
// as it is with "\n"; or each field a CSV field, quoted when it holds a comma, a double quote
// or a carriage return (its double quotes doubled), ending with CR LF.
std::string TableRecord(std::string_view line, TableFormat format);

// A text of tab-separated lines (the results as the window shows them) as the file's records:
// each line a record as TableRecord makes it; a final line break ends the last record rather than
// starting an empty one.
std::string TableText(std::string_view text, TableFormat format);

// What ends a record: "\n" or "\r\n".
std::string_view RecordEnd(TableFormat format);

// The fields of a record without its end; a CSV record whose last quote is not closed is not
// `complete`.
struct SplitFields {
  std::vector<std::string> fields;
  bool complete = true;
};
SplitFields SplitRecord(std::string_view record, TableFormat format);

}  // namespace swelox
