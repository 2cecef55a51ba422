// A whole set of runs over a list of files, as the batch tool makes it: each file is decoded
// once for all its runs, several files at a time, and the rows come out in run order exactly as
// if every run had decoded every file again, one after the other.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/Errors.h"
#include "analysis/RunPlan.h"

namespace swelox {

class BatchListener {
 public:
  virtual ~BatchListener() = default;
  // The header line, then every row, in order; each as soon as all before it are known.
  virtual void Line(const std::string& line) = 0;
  // Before the row of a file: the caption the window's start button would show.
  virtual void Progress(const std::string& caption) = 0;
  // With keep-going, a file whose analysis failed and was skipped.
  virtual void FileFailed(const std::string& path, const Error& error) = 0;
};

struct BatchOptions {
  RunSettings settings;
  std::vector<std::string> files;
  bool keepGoing = false;
  int jobs = 1;
  // Runs that share one decode of a file; more runs take further decodes.
  int runsPerDecode = 32;
};

struct BatchResult {
  std::optional<Error> fatal;  // the error that ended the runs
  bool anyFileFailed = false;
};

BatchResult RunBatch(const BatchOptions& options, BatchListener& listener);

}  // namespace swelox
