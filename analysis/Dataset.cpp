#include "analysis/Dataset.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "analysis/Columns.h"
#include "analysis/SettingsTable.h"
#include "core/Errors.h"
#include "core/IntegerText.h"
#include "core/Json.h"
#include "core/PrintableText.h"

namespace swelox {
namespace {

using json::Value;

struct Described {
  const char* name;
  const char* type;
  const char* description;
};

// The columns every row has, in the order of the header line.
constexpr Described kRowColumns[] = {
    {"Width", "integer", "The picture's (or the region's) width in pixels, minus 2."},
    {"Height", "integer", "The picture's (or the region's) height in pixels, minus 2."},
    {"Bwide", "integer", "The rectangle width used for this row, in pixels."},
    {"Bhigh", "integer", "The rectangle height used for this row, in pixels."},
    {"meanDiff", "integer",
     "The mean absolute difference between the summed brightness of neighbouring rectangles, in "
     "sixteenths of a brightness step per pixel of rectangle area (truncated); 0 when nDiffs is "
     "0."},
    {"RMS", "integer",
     "The root mean square of the differences from their mean, in the unit of meanDiff."},
    {"nDiffs", "integer",
     "The number of rectangle pairs compared; 0 when no two rectangles could be compared."},
    {"Pic", "string",
     "The photo's file name (after its last '/'), backslashes doubled and control bytes escaped."},
};

// What the Time column holds under the time settings.
std::string TimeDescription(const TimeSettings& time) {
  if (time == TimeSettings{}) {
    return "The capture time from the photo's EXIF data, ISO 8601 local time as the camera "
           "recorded it, with sub-seconds and the offset from UTC where recorded; empty when the "
           "photo records none.";
  }
  std::string text = "The capture time from the photo's EXIF data, ISO 8601 with sub-seconds";
  if (!time.shift.empty()) text += ", the camera's clock corrected by " + time.shift;
  text += time.utc ? ", in UTC (Z)" : ", local time with its offset from UTC";
  text += time.zone.empty()
              ? " where the photo records one"
              : ", the offset the photo records, else that of " + time.zone + " at that time";
  text += time.utc && time.zone.empty() ? "; empty when the photo records no time or no offset."
                                        : "; empty when the photo records none.";
  return text;
}

ColumnSchema ExtraSchema(Column column, const TimeSettings& time) {
  switch (column) {
    case Column::Time:
      return {"Time", "string", TimeDescription(time), {}};
    case Column::Path:
      return {"Path",
              "string",
              "The photo's path as given, backslashes doubled and control bytes escaped.",
              {}};
    case Column::Region:
      return {"Region",
              "string",
              "The region of each photo analysed, WxH+X+Y; empty for the whole photo.",
              {}};
    case Column::Direction:
      return {"Direction",
              "string",
              "The neighbour each rectangle is compared with: the one below or the one to the "
              "right.",
              {"below", "right"}};
    case Column::Quality:
      break;
  }
  return {"Quality",
          "string",
          "What the row is worth: ok; damaged when the decoder found the photo's data cut short or "
          "corrupt and filled it in; none when no comparison was possible (nDiffs 0), so that its "
          "zeros are no measurement.",
          {"ok", "damaged", "none"}};
}

constexpr Described kPhotoColumnSchema[] = {
    {"Run", "integer",
     "The run that made the row, from 1; each run after the first grows the "
     "rectangle."},
    {"Source", "string",
     "The photo's path as given, backslashes doubled and control bytes escaped; with Bytes and "
     "Modified it identifies the photo when the table grows."},
    {"Bytes", "integer", "The photo's size in bytes when its runs started."},
    {"Modified", "string",
     "The photo's modification time when its runs started, ISO 8601 UTC with nanoseconds."},
    {"Damaged", "boolean",
     "Whether the decoder found the photo's data cut short or corrupt and filled it in."},
};

[[noreturn]] void Malformed(const std::string& what) {
  throw Error("the descriptor " + what, ErrorScope::Settings);
}

const Value& Member(const Value& object, std::string_view key) {
  const Value* value = object.Find(key);
  if (value == nullptr) Malformed("has no '" + std::string(key) + "'");
  return *value;
}

std::string Text(const Value& object, std::string_view key) {
  const Value& value = Member(object, key);
  if (value.kind() == Value::Kind::Null) return {};
  if (value.kind() != Value::Kind::String) Malformed("'" + std::string(key) + "' is no text");
  return value.text();
}

int64_t Count(const Value& object, std::string_view key) {
  const std::optional<int64_t> value = Member(object, key).integer();
  if (!value) Malformed("'" + std::string(key) + "' is no whole number");
  return *value;
}

Value TextOrNull(const std::string& text) { return text.empty() ? Value() : Value::String(text); }

// A setting as the descriptor holds it, from the text the settings table gives it.
Value DescriptorValue(const SettingRow& row, const RunSettings& settings) {
  const std::string text = row.text(settings);
  switch (row.descriptor.value) {
    case DescriptorEntry::Value::Text:
      return Value::String(text);
    case DescriptorEntry::Value::TextOrNull:
      return TextOrNull(text);
    case DescriptorEntry::Value::Boolean:
      return Value::Boolean(text == "true");
    case DescriptorEntry::Value::List:
      break;
  }
  Value list = Value::Array();
  for (size_t from = 0; from < text.size();) {
    const size_t comma = std::min(text.find(',', from), text.size());
    list.Add(Value::String(text.substr(from, comma - from)));
    from = comma + 1;
  }
  return list;
}

// Reads one setting of the descriptor back into `settings`, which hold the defaults. A value the
// setting cannot take is refused as the descriptor's fault, naming the setting.
void ReadSetting(const Value& object, const SettingRow& row, RunSettings& settings) {
  const DescriptorEntry& entry = row.descriptor;
  if (entry.olderTablesLack && object.Find(entry.key) == nullptr) return;
  std::string text;
  switch (entry.value) {
    case DescriptorEntry::Value::Text:
    case DescriptorEntry::Value::TextOrNull:
      text = Text(object, entry.key);
      break;
    case DescriptorEntry::Value::Boolean: {
      const Value& value = Member(object, entry.key);
      if (value.kind() != Value::Kind::Boolean) {
        Malformed("'" + std::string(entry.key) + "' is no truth value");
      }
      text = value.boolean() ? "true" : "false";
      break;
    }
    case DescriptorEntry::Value::List: {
      const Value& value = Member(object, entry.key);
      if (value.kind() != Value::Kind::Array) {
        Malformed("'" + std::string(entry.key) + "' is no list");
      }
      for (const Value& item : value.items()) {
        if (item.kind() != Value::Kind::String) {
          Malformed("'" + std::string(entry.key) + "' holds no names");
        }
        text += (text.empty() ? "" : ",") + item.text();
      }
      break;
    }
  }
  try {
    ReadText(row, settings, text);
  } catch (const Error&) {
    Malformed("gives the " + std::string(row.name) + " '" + text + "'");
  }
}

// A setting's value as a difference between two tables shows it.
std::string DifferenceText(const SettingRow& row, const RunSettings& settings) {
  const std::string text = row.text(settings);
  const DescriptorEntry& entry = row.descriptor;
  if (entry.value != DescriptorEntry::Value::Boolean || entry.shownTrue == nullptr) return text;
  return text == "true" ? entry.shownTrue : entry.shownFalse;
}

std::string PartText(const PartOfList& part) {
  return part.part > 0 ? FormatInteger(part.part) + " of " + FormatInteger(part.partOf)
                       : "the whole list";
}

// Only the parts of a job are bound to one list; a whole list's table grows with new photos.
std::string ListText(const PartOfList& part) {
  if (part.part == 0) return {};
  return FormatInteger(part.listPhotos) + (part.listPhotos == 1 ? " photo" : " photos") +
         " (fingerprint " + part.listHash + ")";
}

}  // namespace

std::string ListFingerprint(const PathList& paths) {
  // FNV-1a over the paths, each ended by its NUL: the same list gives the same digits on every
  // machine.
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (size_t i = 0; i < paths.size(); ++i) {
    for (const char c : paths.view(i)) {
      hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    hash *= 0x100000001b3ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

const char* StatusName(RunEnd::Status status) {
  switch (status) {
    case RunEnd::Status::Complete:
      return "complete";
    case RunEnd::Status::Stopped:
      return "stopped";
    case RunEnd::Status::Failed:
      return "error";
    case RunEnd::Status::Running:
      break;
  }
  return "running";
}

void SetOutcome(RunEnd& end, const BatchResult& result) {
  if (result.fatal) {
    end.status = RunEnd::Status::Failed;
    end.error = ExplainedMessage(*result.fatal);
    end.errorPhoto = EscapeControlBytes(result.fatalFile, Backslash::Doubled);
  } else if (result.stopped) {
    end.status = RunEnd::Status::Stopped;
  } else {
    end.status = RunEnd::Status::Complete;
  }
}

std::string EndSummary(const RunEnd& end) {
  const std::string photos = FormatInteger(end.photos) + (end.photos == 1 ? " photo" : " photos");
  switch (end.status) {
    case RunEnd::Status::Complete:
      return "complete: " + photos;
    case RunEnd::Status::Stopped:
      return "stopped after " + FormatInteger(end.photosMeasured) + " of " + photos;
    case RunEnd::Status::Failed:
      return end.errorPhoto.empty() ? "ended by an error: " + end.error
                                    : "ended by an error at " + end.errorPhoto + ": " + end.error;
    case RunEnd::Status::Running:
      break;
  }
  return "running, or ended without a word (killed), after " + FormatInteger(end.photosMeasured) +
         " of " + photos;
}

std::vector<ColumnSchema> TableSchema(const RunSettings& settings, bool photoColumns) {
  std::vector<ColumnSchema> schema;
  for (const Described& d : kRowColumns) schema.push_back({d.name, d.type, d.description, {}});
  for (const Column column : settings.columns) schema.push_back(ExtraSchema(column, settings.time));
  if (photoColumns) {
    for (const Described& d : kPhotoColumnSchema) {
      schema.push_back({d.name, d.type, d.description, {}});
    }
  }
  return schema;
}

std::string TableHeader(const RunSettings& settings, bool photoColumns) {
  std::string header = HeaderLine(settings.columns);
  if (photoColumns) {
    for (const char* name : kPhotoColumns) header += std::string("\t") + name;
  }
  return header;
}

std::string DescriptorPathFor(const std::string& tablePath) {
  const size_t slash = tablePath.find_last_of('/');
  const size_t dot = tablePath.find_last_of('.');
  const bool extension =
      dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
  return (extension ? tablePath.substr(0, dot) : tablePath) + ".datapackage.json";
}

std::string UtcTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string DescriptorText(const Dataset& dataset) {
  // A Data Package name: lower-case letters, digits, '.', '_' and '-' only.
  const size_t slash = dataset.tablePath.find_last_of('/');
  std::string name = dataset.tablePath.substr(slash == std::string::npos ? 0 : slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-')) {
      c = '-';
    }
  }
  if (name.empty()) name = "swelox-results";

  Value package = Value::Object();
  package.Set("profile", Value::String("tabular-data-package"));
  package.Set("name", Value::String(name));
  package.Set("title", Value::String("Visual noise of sea photographs, measured by Swelox"));
  package.Set("created", Value::String(dataset.created));

  const bool csv = dataset.format == TableFormat::Csv;
  Value& resources = package.Set("resources", Value::Array());
  Value& resource = resources.Add(Value::Object());
  resource.Set("name", Value::String(name));
  resource.Set("path", Value::String(dataset.tablePath));
  resource.Set("profile", Value::String("tabular-data-resource"));
  resource.Set("format", Value::String(csv ? "csv" : "tsv"));
  resource.Set("mediatype", Value::String(csv ? "text/csv" : "text/tab-separated-values"));
  resource.Set("encoding", Value::String("utf-8"));
  Value& dialect = resource.Set("dialect", Value::Object());
  dialect.Set("delimiter", Value::String(csv ? "," : "\t"));
  dialect.Set("lineTerminator", Value::String(csv ? "\r\n" : "\n"));
  dialect.Set("header", Value::Boolean(true));
  // Tab-separated fields are never quoted: a name's tab or quote is escaped in the text itself.
  dialect.Set("doubleQuote", Value::Boolean(csv));
  if (csv) dialect.Set("quoteChar", Value::String("\""));
  Value& schema = resource.Set("schema", Value::Object());
  Value& fields = schema.Set("fields", Value::Array());
  for (const ColumnSchema& column : TableSchema(dataset.settings, dataset.photoColumns)) {
    Value& field = fields.Add(Value::Object());
    field.Set("name", Value::String(column.name));
    field.Set("type", Value::String(column.type));
    field.Set("description", Value::String(column.description));
    if (!column.values.empty()) {
      Value allowed = Value::Array();
      for (const std::string& v : column.values) allowed.Add(Value::String(v));
      field.Set("constraints", Value::Object()).Set("enum", std::move(allowed));
    }
  }
  schema.Set("missingValues", Value::Array()).Add(Value::String(""));

  Value& made = package.Set("swelox", Value::Object());
  made.Set("program", Value::String(dataset.program));
  made.Set("decoder", Value::String(dataset.decoder));
  made.Set("idct", Value::String(dataset.idct));
  Value& settings = made.Set("settings", Value::Object());
  for (const SettingRow& row : SettingsTable()) {
    settings.Set(row.descriptor.key, DescriptorValue(row, dataset.settings));
  }
  made.Set("photoColumns", Value::Boolean(dataset.photoColumns));
  made.Set("started", Value::String(dataset.started));
  made.Set("ended", TextOrNull(dataset.ended));
  Value& end = made.Set("outcome", Value::Object());
  end.Set("status", Value::String(StatusName(dataset.end.status)));
  end.Set("summary", Value::String(EndSummary(dataset.end)));
  end.Set("photos", Value::Integer(dataset.end.photos));
  end.Set("photosMeasured", Value::Integer(dataset.end.photosMeasured));
  end.Set("photosFailed", Value::Integer(dataset.end.photosFailed));
  end.Set("photosDamaged", Value::Integer(dataset.end.photosDamaged));
  end.Set("rows", Value::Integer(dataset.end.rows));
  end.Set("error", TextOrNull(dataset.end.error));
  end.Set("errorPhoto", TextOrNull(dataset.end.errorPhoto));
  // A part of a job's list, or null for a whole list's table.
  const PartOfList& part = dataset.part;
  made.Set("part", part.part > 0 ? Value::Integer(part.part) : Value());
  made.Set("partOf", part.part > 0 ? Value::Integer(part.partOf) : Value());
  if (part.part > 0) {
    Value& list = made.Set("list", Value::Object());
    list.Set("photos", Value::Integer(part.listPhotos));
    list.Set("fingerprint", Value::String(part.listHash));
  }
  return json::Serialize(package) + "\n";
}

Dataset ReadDescriptor(std::string_view text) {
  const Value package = json::Parse(text);
  Dataset dataset;
  dataset.created = Text(package, "created");
  const Value& resources = Member(package, "resources");
  if (resources.kind() != Value::Kind::Array || resources.items().size() != 1) {
    Malformed("does not describe one table");
  }
  const Value& resource = resources.items().front();
  dataset.tablePath = Text(resource, "path");
  const std::string format = Text(resource, "format");
  if (format != "tsv" && format != "csv") Malformed("gives the format '" + format + "'");
  dataset.format = format == "csv" ? TableFormat::Csv : TableFormat::Tsv;

  const Value& made = Member(package, "swelox");
  dataset.program = Text(made, "program");
  dataset.decoder = Text(made, "decoder");
  dataset.idct = Text(made, "idct");
  const Value& photoColumns = Member(made, "photoColumns");
  if (photoColumns.kind() != Value::Kind::Boolean) Malformed("'photoColumns' is no truth value");
  dataset.photoColumns = photoColumns.boolean();
  dataset.started = Text(made, "started");
  dataset.ended = Text(made, "ended");

  const Value& settings = Member(made, "settings");
  for (const SettingRow& row : SettingsTable()) ReadSetting(settings, row, dataset.settings);

  const Value& end = Member(made, "outcome");
  const std::string status = Text(end, "status");
  for (const RunEnd::Status known : {RunEnd::Status::Running, RunEnd::Status::Complete,
                                     RunEnd::Status::Stopped, RunEnd::Status::Failed}) {
    if (status == StatusName(known)) dataset.end.status = known;
  }
  dataset.end.photos = Count(end, "photos");
  dataset.end.photosMeasured = Count(end, "photosMeasured");
  dataset.end.photosFailed = Count(end, "photosFailed");
  dataset.end.photosDamaged = Count(end, "photosDamaged");
  dataset.end.rows = Count(end, "rows");
  dataset.end.error = Text(end, "error");
  dataset.end.errorPhoto = Text(end, "errorPhoto");

  // Tables made before jobs had parts say nothing of them: a whole list's.
  const Value* part = made.Find("part");
  if (part != nullptr && part->kind() != Value::Kind::Null) {
    PartOfList& p = dataset.part;
    p.part = Count(made, "part");
    p.partOf = Count(made, "partOf");
    const Value& list = Member(made, "list");
    p.listPhotos = Count(list, "photos");
    p.listHash = Text(list, "fingerprint");
    if (p.part < 1 || p.part > p.partOf)
      Malformed("gives part " + FormatInteger(p.part) + " of " + FormatInteger(p.partOf));
  }
  return dataset;
}

std::string DatasetDifference(const Dataset& table, const Dataset& run) {
  const auto differ = [](const std::string& what, const std::string& was, const std::string& is) {
    const auto shown = [](const std::string& text) { return text.empty() ? "none" : text; };
    return was == is ? std::string() : what + " is " + shown(was) + ", not " + shown(is);
  };
  std::vector<std::pair<std::string, std::pair<std::string, std::string>>> checks = {
      {"the program", {table.program, run.program}},
      {"the decoder", {table.decoder, run.decoder}},
      {"the IDCT", {table.idct, run.idct}},
  };
  for (const SettingRow& row : SettingsTable()) {
    checks.push_back({row.descriptor.phrase,
                      {DifferenceText(row, table.settings), DifferenceText(row, run.settings)}});
  }
  const auto formatName = [](TableFormat format) {
    return format == TableFormat::Csv ? "csv" : "tsv";
  };
  const auto kindName = [](bool photoColumns) {
    return photoColumns ? "a growing one" : "a saved one";
  };
  checks.push_back({"the format", {formatName(table.format), formatName(run.format)}});
  checks.push_back({"the part", {PartText(table.part), PartText(run.part)}});
  checks.push_back(
      {"the list of photos the parts share", {ListText(table.part), ListText(run.part)}});
  checks.push_back(
      {"the kind of table", {kindName(table.photoColumns), kindName(run.photoColumns)}});
  for (const auto& [what, values] : checks) {
    const std::string difference = differ(what, values.first, values.second);
    if (!difference.empty()) return difference;
  }
  return {};
}

}  // namespace swelox
