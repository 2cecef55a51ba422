// swelox-cli --watch: the photos of a folder, then each new one as soon as it is whole, until a
// stop (SIGINT, SIGTERM, a failed write).
#pragma once

#include <string>

#include "analysis/BatchRun.h"
#include "analysis/FolderWatch.h"
#include "cli/ConsoleListener.h"
#include "cli/OutputTable.h"

namespace swelox::cli {

// Runs `batch` (its settings, no files) over the watched photos as they come: the header line
// once, then each photo's rows as soon as it is measured. The photos already there come first
// (in the order of the settings) unless `newOnly`; a burst is measured with all the jobs. A photo
// that fails is reported and the watch goes on; the folder's troubles are lines on standard
// error. The rows go to `table` when there is one, else to `console`.
BatchResult RunWatch(FolderWatch& watch, const BatchOptions& batch, ConsoleListener& console,
                     OutputTable* table);

}  // namespace swelox::cli
