// The tables of a job's parts (--shard with --output) joined into the one table a whole run over
// the list makes: the same rows in the same order, and a descriptor that counts them all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace swelox {

struct MergeSummary {
  int64_t parts = 0;
  int64_t photos = 0;
  int64_t rows = 0;
};

// Reads every part once, as it writes `output` (a new file: ".csv" makes CSV whatever the parts
// are) and its descriptor. Raises Error (settings) naming the problem, before `output` exists:
// a part that is not one (no descriptor, a whole list's table), parts made with other settings or
// another program, of other lists or numbers of parts, a part missing or given twice, a part not
// finished (stopped or killed), a row that does not belong, a table that already exists.
MergeSummary MergeParts(const std::vector<std::string>& parts, const std::string& output);

}  // namespace swelox
