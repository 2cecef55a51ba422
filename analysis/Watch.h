// A watched folder's photos measured as they come (swelox-cli --watch, the window's watch): the
// photos already there, then each new one as soon as it is whole, until a stop.
#pragma once

#include <functional>
#include <string>

#include "analysis/BatchRun.h"
#include "analysis/FolderWatch.h"
#include "analysis/OutputTable.h"

namespace swelox {

// Runs `batch` (its settings, no files) over the watched photos as they come: the header line
// once, then each photo's rows as soon as it is measured. The photos already there come first
// (in the order of the settings) unless the watch was started new-only; a burst is measured with
// all the jobs. A photo that fails is reported and the watch goes on; the folder's troubles go to
// `notice`, one line each. The rows go to `rows`; with a `table` (which `rows` may be, or pass
// them on), only the photos it lacks are measured, and its descriptor is brought up to date after
// each batch. The records' photo index counts on across the batches, from 0. With `showHeld`,
// the rows the table held come first, as OutputTable::ShowHeld passes them on, and the index
// counts on after their photos. Before each wait for the next photo, `rows` is told Waiting().
BatchResult RunWatch(FolderWatch& watch, const BatchOptions& batch, BatchListener& rows,
                     OutputTable* table, const std::function<void(const std::string&)>& notice,
                     bool showHeld = false);

}  // namespace swelox
