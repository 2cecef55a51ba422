// Every setting of a run declared once: its name, swelox-cli's option and help, its default, the
// window's stored key and caption, and how its text is read. swelox-cli's options, the window's
// model, its stored settings and its checks of the fields all iterate this table, so a new
// setting is one row here (and its enumerator) plus the window's control for it.
#pragma once

#include <span>
#include <string>

#include "analysis/RectangleStatistics.h"
#include "analysis/Settings.h"
#include "core/Errors.h"

namespace swelox {

// The settings in the order of the table (and of swelox-cli's --help).
enum class Setting {
  Width,
  Height,
  Repeats,
  WidthIncrement,
  HeightIncrement,
  Direction,
  Region,
  Columns,
  Order,
  CameraZone,
  ClockShift,
  Utc,
};
inline constexpr int kSettingCount = 12;

// How a setting's text is read.
enum class SettingText {
  Side,     // a rectangle side: a whole number, read when a run needs it
  Integer,  // a whole number, read when a run needs it
  Typed,    // free text as typed, checked when a run starts (the region, the zone)
  Choice,   // one of a set of values, never held otherwise (the direction, the columns)
};

// How a dataset's descriptor holds a setting, and how a difference between two tables names it.
struct DescriptorEntry {
  enum class Value {
    Text,        // a string
    TextOrNull,  // a string; null when the setting's text is empty
    List,        // an array of the names its comma-separated text lists
    Boolean,     // true or false
  };
  const char* key;  // "widthIncrement"
  Value value;
  const char* phrase;    // "the number of repeats": "the number of repeats is 1, not 2"
  bool olderTablesLack;  // tables begun before the setting existed: read as its default
  // How a difference shows a truth value ("UTC", "local"); nullptr: as "true" and "false".
  const char* shownTrue = nullptr;
  const char* shownFalse = nullptr;
};

struct SettingRow {
  Setting setting;
  const char* name;       // in the code and the messages: "repeats"
  const char* option;     // swelox-cli's long option, without "--"
  const char* valueName;  // swelox-cli's name of the value; nullptr: a flag without one
  const char* help;       // swelox-cli's help; numbers get "(default N)" after it
  const char* storedKey;  // where the window keeps it between starts
  const char* caption;    // what the window calls its control, in messages about it
  SettingText kind;
  const char* flagText;  // a flag's text when it is given ("right")
  // The setting's text as the window and the stored settings hold it.
  std::string (*text)(const RunSettings& settings);
  // Reads a value given as text (an option's) into the settings; a text that stands for no value
  // raises its Error. An empty list of columns, zone or shift is no value given.
  void (*set)(RunSettings& settings, const std::string& text);
  DescriptorEntry descriptor;
};

std::span<const SettingRow> SettingsTable();
const SettingRow& RowOf(Setting setting);

// The text of a first start, the value of a run given no option.
std::string DefaultText(const SettingRow& row);

// Reads a text as the window holds it into `settings`, which hold this setting's default: an
// empty text leaves the default where its own text is empty (no columns, no zone, no shift).
void ReadText(const SettingRow& row, RunSettings& settings, const std::string& text);

// The rectangle size a run or the picture view measures with: both sides read as whole numbers,
// then checked together (a zero side, a negative one, an area past 32 bits).
RectangleSize CheckedSize(const RectangleTexts& texts);

}  // namespace swelox
