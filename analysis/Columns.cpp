#include "analysis/Columns.h"

#include <algorithm>

#include "core/Errors.h"

namespace swelox {

namespace {

struct ColumnNames {
  Column column;
  const char* name;   // on the command line
  const char* title;  // in the header line
};
constexpr ColumnNames kColumnNames[] = {
    {Column::Time, "time", "Time"},          {Column::Path, "path", "Path"},
    {Column::Region, "region", "Region"},    {Column::Direction, "direction", "Direction"},
    {Column::Quality, "quality", "Quality"},
};

// "time, path, region, direction and quality".
std::string KnownNames() {
  std::string names;
  const size_t count = std::size(kColumnNames);
  for (size_t k = 0; k < count; ++k) {
    if (k > 0) names += k + 1 == count ? " and " : ", ";
    names += kColumnNames[k].name;
  }
  return names;
}

const ColumnNames& NamesOf(Column column) {
  for (const ColumnNames& names : kColumnNames) {
    if (names.column == column) return names;
  }
  return kColumnNames[0];
}

}  // namespace

const char* ColumnName(Column column) { return NamesOf(column).name; }

const char* ColumnTitle(Column column) { return NamesOf(column).title; }

std::string HeaderLine(std::span<const Column> columns) {
  std::string line = kHeaderLine;
  for (const Column column : columns) line += std::string("\t") + ColumnTitle(column);
  return line;
}

std::vector<Column> ParseColumnList(std::string_view text) {
  const std::string list(text);
  std::vector<Column> columns;
  for (;;) {
    const size_t comma = text.find(',');
    const std::string_view name = text.substr(0, comma);
    if (name.empty()) {
      throw Error(ErrorKind::Usage, "an empty column name in '" + list + "'", ErrorScope::Settings);
    }
    const auto* known = std::find_if(std::begin(kAllColumns), std::end(kAllColumns),
                                     [&](Column c) { return name == ColumnName(c); });
    if (known == std::end(kAllColumns)) {
      throw Error(
          ErrorKind::Usage,
          "unknown column '" + std::string(name) + "' (the columns are " + KnownNames() + ")",
          ErrorScope::Settings);
    }
    if (std::find(columns.begin(), columns.end(), *known) != columns.end()) {
      throw Error(ErrorKind::Usage, "the column '" + std::string(name) + "' is listed twice",
                  ErrorScope::Settings);
    }
    columns.push_back(*known);
    if (comma == std::string_view::npos) return columns;
    text.remove_prefix(comma + 1);
  }
}

std::string ColumnListText(std::span<const Column> columns) {
  std::string text;
  for (const Column column : columns) {
    if (!text.empty()) text += ',';
    text += ColumnName(column);
  }
  return text;
}

}  // namespace swelox
