// A whole set of runs over a list of files, as the batch tool makes it: each file is decoded
// once for all its runs, several files at a time, and the rows come out in run order exactly as
// if every run had decoded every file again, one after the other.
#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/ImageAnalysis.h"
#include "analysis/RunPlan.h"
#include "core/Errors.h"
#include "core/PathList.h"

namespace swelox {

// One row as a record: which photo and run it is of, what it says as values, and its text.
struct RowRecord {
  size_t index = 0;  // the photo's place in the runs' order (BatchListener::FilesOrdered), from 0
  std::string path;  // as given
  int64_t run = 0;   // from 0
  RowValues values;
  std::string text;
  // Read back from the table a watch goes on with, not measured now (OutputTable::ShowHeld).
  bool held = false;
};

class BatchListener {
 public:
  virtual ~BatchListener() = default;
  // Before the header line: the files in the order the runs take them (the options' own order
  // once sorted by name or time).
  virtual void FilesOrdered(const PathList& /*files*/) {}
  // The header line, then every row, in order; each as soon as all before it are known.
  virtual void Line(const std::string& line) = 0;
  // A row with the file it is of (as in BatchOptions::files) and its run (from 0); by default
  // just the line.
  virtual void Row(const std::string& /*path*/, int64_t /*run*/, const std::string& row) {
    Line(row);
  }
  // Every row as a record, in the order of the lines; by default Row(path, run, text).
  virtual void Record(const RowRecord& record) { Row(record.path, record.run, record.text); }
  // Before the row of a file: the caption the window's start button would show.
  virtual void Progress(const std::string& caption) = 0;
  // With keep-going, a file whose analysis failed and was skipped.
  virtual void FileFailed(const std::string& path, const Error& error) = 0;
  // Before the first row of a file whose data the decoder found corrupt or cut short and decoded
  // around: its first warning, once per file however many runs.
  virtual void FileWarned(const std::string& /*path*/, const std::string& /*warning*/) {}
  // After the last row of a run (or its last skipped file): the rectangle sizes as the growth
  // step left them, just when the window would write them into its size fields. When the growth
  // fails after the width has grown, this still comes, with the grown width, before the error.
  virtual void SizesGrown(const RectangleTexts& /*sizes*/) {}
  // In a watch (analysis/Watch), once every photo that had come is measured: it waits for the
  // next one. The caption of the last photo measured is no progress any more.
  virtual void Waiting() {}
};

struct BatchOptions {
  RunSettings settings;
  PathList files;
  bool keepGoing = false;
  int jobs = 1;
  // Runs that share one decode of a file; more runs take further decodes.
  int runsPerDecode = 32;
  // Read every photo's capture time during its decode, for the records, even where no Time
  // column shows it.
  bool captureTimes = false;
  // What the files' headers gave when they were sorted by time, file by file (empty: nothing
  // read), so that their decodes do not read the EXIF data again.
  std::vector<KnownCaptureTime> knownTimes = {};
  // Once a stop is requested (from any thread, a listener's included), no further file is
  // started, the decodes under way end, and RunBatch returns soon after with `stopped` set;
  // nothing more reaches the listener.
  std::stop_token stop = {};
};

struct BatchResult {
  std::optional<Error> fatal;  // the error that ended the runs
  // The file whose analysis raised `fatal`, when the error is the file's own; empty for an error
  // of the settings (a bad size, the number of runs, the growth of the sizes).
  std::string fatalFile;
  bool anyFileFailed = false;
  bool stopped = false;  // ended early by BatchOptions::stop
};

// The files are taken in the order of options.settings.order.
BatchResult RunBatch(const BatchOptions& options, BatchListener& listener);

}  // namespace swelox
