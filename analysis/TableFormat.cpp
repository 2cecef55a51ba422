#include "analysis/TableFormat.h"

#include <algorithm>

namespace swelox {

TableFormat FormatForName(std::string_view path) {
  constexpr std::string_view kCsv = ".csv";
  if (path.size() < kCsv.size()) return TableFormat::Tsv;
  const std::string_view end = path.substr(path.size() - kCsv.size());
  for (size_t k = 0; k < kCsv.size(); ++k) {
    const char c = end[k] >= 'A' && end[k] <= 'Z' ? static_cast<char>(end[k] - 'A' + 'a') : end[k];
    if (c != kCsv[k]) return TableFormat::Tsv;
  }
  return TableFormat::Csv;
}

std::string TableText(std::string_view text, TableFormat format) {
  if (format == TableFormat::Tsv) return std::string(text);
  std::string records;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    records += TableRecord(text.substr(0, end), format);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return records;
}

std::string_view RecordEnd(TableFormat format) {
  return format == TableFormat::Csv ? "\r\n" : "\n";
}

std::string TableRecord(std::string_view line, TableFormat format) {
  if (format == TableFormat::Tsv) return std::string(line) + "\n";
  std::string record;
  for (;;) {
    const size_t tab = line.find('\t');
    const std::string_view field = line.substr(0, tab);
    if (field.find_first_of(",\"\r") == std::string_view::npos) {
      record += field;
    } else {
      record += '"';
      for (const char c : field) {
        if (c == '"') record += '"';
        record += c;
      }
      record += '"';
    }
    if (tab == std::string_view::npos) break;
    record += ',';
    line.remove_prefix(tab + 1);
  }
  return record + "\r\n";
}

SplitFields SplitRecord(std::string_view record, TableFormat format) {
  SplitFields split;
  if (format == TableFormat::Tsv) {
    for (;;) {
      const size_t tab = record.find('\t');
      split.fields.emplace_back(record.substr(0, tab));
      if (tab == std::string_view::npos) return split;
      record.remove_prefix(tab + 1);
    }
  }
  std::string field;
  bool quoted = false;
  for (size_t k = 0; k < record.size(); ++k) {
    const char c = record[k];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (k + 1 < record.size() && record[k + 1] == '"') {
        field += '"';
        ++k;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      split.fields.push_back(std::move(field));
      field.clear();
    } else {
      field += c;
    }
  }
  split.fields.push_back(std::move(field));
  split.complete = !quoted;
  return split;
}

}  // namespace swelox
