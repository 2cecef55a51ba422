#include "analysis/Columns.h"

#include <algorithm>

#include "core/Errors.h"

namespace swelox {

const char* ColumnName(Column column) {
  switch (column) {
    case Column::Time:
      return "time";
    case Column::Path:
      return "path";
    case Column::Region:
      return "region";
    case Column::Direction:
      return "direction";
  }
  return "";
}

const char* ColumnTitle(Column column) {
  switch (column) {
    case Column::Time:
      return "Time";
    case Column::Path:
      return "Path";
    case Column::Region:
      return "Region";
    case Column::Direction:
      return "Direction";
  }
  return "";
}

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
      throw Error("an empty column name in '" + list + "'", ErrorScope::Settings);
    }
    const auto* known = std::find_if(std::begin(kAllColumns), std::end(kAllColumns),
                                     [&](Column c) { return name == ColumnName(c); });
    if (known == std::end(kAllColumns)) {
      throw Error("unknown column '" + std::string(name) +
                      "' (the columns are time, path, region and direction)",
                  ErrorScope::Settings);
    }
    if (std::find(columns.begin(), columns.end(), *known) != columns.end()) {
      throw Error("the column '" + std::string(name) + "' is listed twice", ErrorScope::Settings);
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
