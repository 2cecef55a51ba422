#include "analysis/SettingsTable.h"

#include "analysis/CameraClock.h"
#include "analysis/Columns.h"
#include "analysis/FileOrder.h"
#include "analysis/Region.h"
#include "analysis/TimeZone.h"
#include "core/IntegerText.h"

namespace swelox {
namespace {

// A setting held as the text typed: the row reads and writes that member as it is.
template <std::string RunSettings::*member>
std::string TextOf(const RunSettings& settings) {
  return settings.*member;
}
template <std::string RunSettings::*member>
void SetText(RunSettings& settings, const std::string& text) {
  settings.*member = text;
}

const SettingRow kTable[] = {
    {Setting::Width,
     "width",
     "width",
     "N",
     "rectangle width",
     "fields/width",
     "Width",
     SettingText::Side,
     nullptr,
     TextOf<&RunSettings::width>,
     SetText<&RunSettings::width>,
     {"width", DescriptorEntry::Value::Text, "the width", false}},
    {Setting::Height,
     "height",
     "height",
     "N",
     "rectangle height",
     "fields/height",
     "Height",
     SettingText::Side,
     nullptr,
     TextOf<&RunSettings::height>,
     SetText<&RunSettings::height>,
     {"height", DescriptorEntry::Value::Text, "the height", false}},
    {Setting::Repeats,
     "repeats",
     "repeats",
     "N",
     "extra runs with larger rectangles",
     "fields/repeats",
     "Run ... repeats",
     SettingText::Integer,
     nullptr,
     TextOf<&RunSettings::repeats>,
     SetText<&RunSettings::repeats>,
     {"repeats", DescriptorEntry::Value::Text, "the number of repeats", false}},
    {Setting::WidthIncrement,
     "width increment",
     "width-increment",
     "P",
     "percent added to the width per run",
     "fields/widthIncrement",
     "Add ... % to rectangle width",
     SettingText::Integer,
     nullptr,
     TextOf<&RunSettings::widthIncrement>,
     SetText<&RunSettings::widthIncrement>,
     {"widthIncrement", DescriptorEntry::Value::Text, "the width increment", false}},
    {Setting::HeightIncrement,
     "height increment",
     "height-increment",
     "P",
     "percent added to the height per run",
     "fields/heightIncrement",
     "Add ... % to rectangle height",
     SettingText::Integer,
     nullptr,
     TextOf<&RunSettings::heightIncrement>,
     SetText<&RunSettings::heightIncrement>,
     {"heightIncrement", DescriptorEntry::Value::Text, "the height increment", false}},
    {Setting::Direction,
     "direction",
     "right",
     nullptr,
     "compare to the right (default: the one below)",
     "direction",
     "Compare with rectangle below",
     SettingText::Choice,
     "right",
     [](const RunSettings& s) {
       return std::string(s.direction == Direction::Right ? "right" : "below");
     },
     [](RunSettings& s, const std::string& text) {
       if (text != "right" && text != "below") {
         throw Error("'" + text + "' is no direction (below, right)", ErrorScope::Settings);
       }
       s.direction = text == "right" ? Direction::Right : Direction::Below;
     },
     {"direction", DescriptorEntry::Value::Text, "the direction", false}},
    {Setting::Region,
     "region",
     "region",
     "WxH+X+Y",
     "only W x H pixels, X from the left, Y from the top (default: all)",
     "fields/region",
     "Region",
     SettingText::Typed,
     nullptr,
     [](const RunSettings& s) { return s.region ? s.region->Text() : std::string(); },
     [](RunSettings& s, const std::string& text) { s.region = ParseRegion(text); },
     {"region", DescriptorEntry::Value::TextOrNull, "the region", false}},
    {Setting::Columns,
     "columns",
     "columns",
     "LIST",
     "add columns after Pic (time, path, region, direction, quality)",
     "columns",
     "Columns",
     SettingText::Choice,
     nullptr,
     [](const RunSettings& s) { return ColumnListText(s.columns); },
     [](RunSettings& s, const std::string& text) { s.columns = ParseColumnList(text); },
     {"columns", DescriptorEntry::Value::List, "the column list", false}},
    {Setting::Order,
     "order",
     "sort",
     "ORDER",
     "order the files by name or time (default: as given)",
     "order",
     "Order",
     SettingText::Choice,
     nullptr,
     [](const RunSettings& s) { return std::string(FileOrderName(s.order)); },
     [](RunSettings& s, const std::string& text) { s.order = ParseFileOrder(text); },
     {"order", DescriptorEntry::Value::Text, "the order", false}},
    {Setting::CameraZone,
     "camera zone",
     "camera-zone",
     "ZONE",
     "zone of photos without an offset: +02:00 or Europe/Lisbon",
     "time/cameraZone",
     "Camera zone",
     SettingText::Typed,
     nullptr,
     [](const RunSettings& s) { return s.time.zone; },
     [](RunSettings& s, const std::string& text) {
       TimeZone::Parse(text);
       s.time.zone = text;
     },
     {"cameraZone", DescriptorEntry::Value::TextOrNull, "the camera zone", true}},
    {Setting::ClockShift,
     "clock shift",
     "clock-shift",
     "SHIFT",
     "correct the camera clock: add [-]HH:MM:SS to each time",
     "time/clockShift",
     "Clock shift",
     SettingText::Typed,
     nullptr,
     [](const RunSettings& s) { return s.time.shift; },
     [](RunSettings& s, const std::string& text) {
       ParseClockShift(text);  // refuses a text that is no shift, naming it
       s.time.shift = text;
     },
     {"clockShift", DescriptorEntry::Value::TextOrNull, "the clock shift", true}},
    {Setting::Utc,
     "UTC",
     "utc",
     nullptr,
     "write the Time column in UTC (...Z)",
     "time/utc",
     "Time column in UTC",
     SettingText::Choice,
     "true",
     [](const RunSettings& s) { return std::string(s.time.utc ? "true" : "false"); },
     [](RunSettings& s, const std::string& text) {
       if (text != "true" && text != "false") {
         throw Error("'" + text + "' is neither true nor false", ErrorScope::Settings);
       }
       s.time.utc = text == "true";
     },
     {"utc", DescriptorEntry::Value::Boolean, "the time zone of the Time column", true, "UTC",
      "local"}},
};

static_assert(std::size(kTable) == kSettingCount, "one row for each Setting");

}  // namespace

std::span<const SettingRow> SettingsTable() { return kTable; }

const SettingRow& RowOf(Setting setting) {
  // The rows are in the order of the enumerators (checked by the tests of the table).
  return kTable[static_cast<size_t>(setting)];
}

std::string DefaultText(const SettingRow& row) { return row.text(RunSettings{}); }

void ReadText(const SettingRow& row, RunSettings& settings, const std::string& text) {
  if (text.empty() && DefaultText(row).empty()) return;
  row.set(settings, text);
}

RectangleSize CheckedSize(const RectangleTexts& texts) {
  const int32_t width = ParseInteger(texts.width);
  const int32_t height = ParseInteger(texts.height);
  return RectangleSize::Checked(width, height);
}

}  // namespace swelox
