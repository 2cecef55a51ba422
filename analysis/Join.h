// The rows of dataset tables joined to a log by time: each sighting gets the figures of one photo,
// each effort segment the count, mean and maximum of the figures of the photos inside it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace swelox {

struct JoinSettings {
  std::string log;          // the sightings or segments, TSV or CSV by its name
  std::string timeColumn;   // sightings: the column of their times
  std::string startColumn;  // segments: the columns of their start and end
  std::string endColumn;
  bool before = false;             // sightings: the last photo at or before, not the nearest
  int64_t toleranceSeconds = 300;  // sightings: the most a photo's time may be away
  std::string width, height;       // the rectangle size (Bwide, Bhigh); empty: the only one
  std::string zone;                // the zone of times without an offset; empty: none
};

// The log's records unchanged, in their order, each followed by the new fields; `problems`
// receives one line per record whose time could not be read. Raises a settings Error for a
// missing column, a table without the columns the join needs, several sizes and none chosen, or
// times with and without offsets and no zone to read the latter in.
std::string JoinTables(const JoinSettings& settings, const std::vector<std::string>& tables,
                       std::vector<std::string>& problems);

}  // namespace swelox
