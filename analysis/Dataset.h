// A table of rows as a dataset: the Frictionless Data Package descriptor that travels beside it
// (the format that Camtrap DP builds on), with the table's schema, the settings the runs started
// from, the program and decoder that made the digits, and how the runs ended. No Qt: the window's
// Save and swelox-cli's --output write the same descriptor.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/BatchRun.h"
#include "analysis/Settings.h"
#include "analysis/TableFormat.h"
#include "core/PathList.h"

namespace swelox {

// How the runs that made a table ended.
struct RunEnd {
  enum class Status { Running, Complete, Stopped, Failed };
  Status status = Status::Running;
  int64_t photos = 0;          // the photos given (a photo given twice counts twice)
  int64_t photosMeasured = 0;  // of those, the ones whose rows of every run the table holds
  int64_t photosFailed = 0;    // distinct photos skipped for an error (keep going)
  int64_t photosDamaged = 0;   // distinct photos in the table whose data the decoder filled in
  int64_t rows = 0;            // rows in the table
  std::string error;           // Failed: the message of the error that ended the runs
  std::string errorPhoto;  // Failed: the photo it belongs to; empty for an error of the settings
};

// Sets `end.status` (and for an error its message and photo) from how the runs ended.
void SetOutcome(RunEnd& end, const BatchResult& result);

// "running", "complete", "stopped", "error".
const char* StatusName(RunEnd::Status status);
// "complete: 60 photos", "stopped after 15 of 60 photos", "ended by an error at PHOTO: MESSAGE".
std::string EndSummary(const RunEnd& end);

// A table made by one task of a job (--shard=K/N): the K-th of N contiguous slices of one ordered
// list of photos, which the merge puts back together. `part` 0: the table of a whole list.
struct PartOfList {
  int64_t part = 0;        // from 1
  int64_t partOf = 0;      // the number of parts
  int64_t listPhotos = 0;  // the photos of the whole list
  std::string listHash;    // a fingerprint of the whole ordered list (ListFingerprint)
  bool operator==(const PartOfList&) const = default;
};

// 16 hexadecimal digits that tell one ordered list of paths from another.
std::string ListFingerprint(const PathList& paths);

// Everything a descriptor says.
struct Dataset {
  std::string tablePath;  // the table's name as the descriptor gives it: beside the descriptor
  TableFormat format = TableFormat::Tsv;
  RunSettings settings;
  // The table ends with the columns that tell each row's run and photo (PhotoColumns), as a table
  // that grows over several commands needs.
  bool photoColumns = false;
  std::string program;  // "swelox-cli 1.0.0"
  std::string decoder;  // DecoderLibrary()
  std::string idct;     // DecoderIdct()
  std::string created;  // when the table was begun, ISO 8601 UTC
  std::string started;  // when the latest runs started
  std::string ended;    // and ended; empty while they run
  RunEnd end;
  PartOfList part;
};

// The columns that end a growing table's rows: the run (from 1, as the progress caption counts),
// the photo's path as given (escaped as the Path column is), its size in bytes and its
// modification time (ISO 8601 UTC with nanoseconds) when the run started, and whether the decoder
// filled in its data ("true" or "false").
inline constexpr const char* kPhotoColumns[] = {"Run", "Source", "Bytes", "Modified", "Damaged"};

// One column of the table: its title, Table Schema type and meaning.
struct ColumnSchema {
  std::string name;
  std::string type;
  std::string description;
  std::vector<std::string> values;  // the only values allowed; none: any
};
std::vector<ColumnSchema> TableSchema(const RunSettings& settings, bool photoColumns);

// The header line of such a table.
std::string TableHeader(const RunSettings& settings, bool photoColumns);

// "season.tsv" -> "season.datapackage.json"; the last extension is replaced, a name without one
// gets the suffix.
std::string DescriptorPathFor(const std::string& tablePath);

// ISO 8601 in UTC, to the second: "2026-07-14T09:31:07Z".
std::string UtcTime(std::chrono::system_clock::time_point when);

// The descriptor as JSON text, ending with a line feed.
std::string DescriptorText(const Dataset& dataset);

// Reads a descriptor written by DescriptorText back. Raises Error (settings) naming what is
// missing or malformed.
Dataset ReadDescriptor(std::string_view text);

// What differs between the table's making and a new run's, such that their rows cannot share
// one table, as a phrase naming the first difference: "the width is 15, not 20", "the program is
// swelox-cli 1.0.0, not swelox-cli 1.1.0", "the part is 2 of 4, not the whole list"; empty when
// they agree. Times, outcomes and the file name do not count.
std::string DatasetDifference(const Dataset& table, const Dataset& run);

}  // namespace swelox
