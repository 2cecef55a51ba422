// The settings of a set of runs as the user gives them: sizes and increments as the texts typed
// into the window's fields (read as integers only where a step needs them), and the direction.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "imaging/PixelRegion.h"

namespace swelox {

// Compare each rectangle with the one below it (the default) or with the one to its right.
enum class Direction { Below, Right };

// A column that may follow Pic in the rows: the photo's capture time, its path as given, the
// region analysed, the direction compared and what the row is worth (analysis/Quality).
enum class Column { Time, Path, Region, Direction, Quality };

// The order in which the files are analysed: as given, by name (digits compared as numbers), or
// by capture time.
enum class FileOrder { AsGiven, Name, Time };

// The rectangle size as the user typed it; it is read as integers only after the decode, so that
// a picture that cannot be decoded is reported before a bad size.
struct RectangleTexts {
  std::string width;
  std::string height;
  bool operator==(const RectangleTexts&) const = default;
};

// How the capture times are read and written: the zone of a camera whose photos record no offset
// from UTC ("+02:00", "Europe/Lisbon"), the correction of a camera clock known to be off
// ("[-]HH:MM:SS", added to every photo's time) and whether the Time column is written in UTC.
// All empty and false: the times as the camera recorded them.
struct TimeSettings {
  std::string zone;
  std::string shift;
  bool utc = false;
  bool operator==(const TimeSettings&) const = default;
};

// The window's fields, as text, and the direction.
struct RunSettings {
  std::string width = "15";
  std::string height = "12";
  std::string repeats = "0";
  std::string widthIncrement = "100";
  std::string heightIncrement = "100";
  Direction direction = Direction::Below;
  std::optional<PixelRegion> region =
      std::nullopt;                  // the part of each picture analysed; none: all of it
  std::vector<Column> columns = {};  // after Pic, in this order; none: the rows end with Pic
  FileOrder order = FileOrder::AsGiven;
  TimeSettings time = {};
  bool operator==(const RunSettings&) const = default;
};

}  // namespace swelox
