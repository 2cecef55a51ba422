// The table of settings: one row per setting that reads back what it writes, keys that do not
// collide, and the sizes read once for the runner and the picture view.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "analysis/SettingsTable.h"
#include "core/Errors.h"

namespace swelox {
namespace {

TEST(SettingsTable, EachRowIsFoundByItsSettingAndNamesAreUnique) {
  std::set<std::string> options, keys, captions;
  for (const SettingRow& row : SettingsTable()) {
    EXPECT_EQ(&RowOf(row.setting), &row) << row.name;
    EXPECT_TRUE(options.insert(row.option).second) << row.option;
    EXPECT_TRUE(keys.insert(row.storedKey).second) << row.storedKey;
    EXPECT_TRUE(captions.insert(row.caption).second) << row.caption;
    // A flag stands for a text of its own; an option with a value has none.
    EXPECT_EQ(row.valueName == nullptr, row.flagText != nullptr) << row.name;
  }
}

// Every row reads back the text it writes: the default, a flag's text, and a text of its own.
TEST(SettingsTable, RowsReadBackWhatTheyWrite) {
  const struct {
    Setting setting;
    const char* text;
  } cases[] = {
      {Setting::Width, "$1F"},
      {Setting::Repeats, " 2"},
      {Setting::Region, "30x20+1+2"},
      {Setting::Columns, "quality,time"},
      {Setting::Order, "time"},
      {Setting::CameraZone, "+02:00"},
      {Setting::ClockShift, "-00:01:30"},
      {Setting::Direction, "below"},
  };
  for (const SettingRow& row : SettingsTable()) {
    RunSettings settings;
    ReadText(row, settings, DefaultText(row));
    EXPECT_EQ(row.text(settings), DefaultText(row)) << row.name;
    if (row.flagText != nullptr) {
      row.set(settings, row.flagText);
      EXPECT_EQ(row.text(settings), row.flagText) << row.name;
      EXPECT_NE(row.text(settings), DefaultText(row)) << row.name;
    }
  }
  for (const auto& c : cases) {
    RunSettings settings;
    RowOf(c.setting).set(settings, c.text);
    EXPECT_EQ(RowOf(c.setting).text(settings), c.text);
  }
}

TEST(SettingsTable, DefaultsAreThoseOfARunGivenNothing) {
  const RunSettings given;
  EXPECT_EQ(DefaultText(RowOf(Setting::Width)), "15");
  EXPECT_EQ(DefaultText(RowOf(Setting::Height)), "12");
  EXPECT_EQ(DefaultText(RowOf(Setting::Repeats)), given.repeats);
  EXPECT_EQ(DefaultText(RowOf(Setting::Direction)), "below");
  EXPECT_EQ(DefaultText(RowOf(Setting::Region)), "");
  EXPECT_EQ(DefaultText(RowOf(Setting::Utc)), "false");
}

// A text that stands for no value raises a settings error and leaves the setting as it was. Given
// as an option's value, an empty list, zone or shift is refused; held by the window it is none.
TEST(SettingsTable, TextsThatStandForNoValueAreRefused) {
  const struct {
    Setting setting;
    const char* text;
  } cases[] = {
      {Setting::Direction, "Right"},
      {Setting::Region, "12x"},
      {Setting::Columns, "time,time"},
      {Setting::Order, "size"},
      {Setting::CameraZone, "Mars/Olympus"},
      {Setting::ClockShift, "1:2"},
      {Setting::Utc, "yes"},
      {Setting::Columns, ""},
      {Setting::CameraZone, ""},
      {Setting::ClockShift, ""},
  };
  for (const auto& c : cases) {
    RunSettings settings;
    try {
      RowOf(c.setting).set(settings, c.text);
      ADD_FAILURE() << c.text << " was taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.scope(), ErrorScope::Settings) << c.text;
    }
    EXPECT_EQ(RowOf(c.setting).text(settings), DefaultText(RowOf(c.setting))) << c.text;
  }
}

TEST(SettingsTable, AnEmptyTextHeldIsTheDefaultWhereTheDefaultIsEmpty) {
  RunSettings settings;
  for (const Setting setting :
       {Setting::Columns, Setting::CameraZone, Setting::ClockShift, Setting::Region}) {
    ReadText(RowOf(setting), settings, "");
  }
  EXPECT_EQ(settings, RunSettings{});
  EXPECT_THROW(ReadText(RowOf(Setting::Order), settings, ""), Error);  // "given" is its default
}

TEST(SettingsTable, CheckedSizeReadsBothSidesThenChecksThem) {
  const RectangleSize size = CheckedSize({"$10", "12"});
  EXPECT_EQ(size.width, 16);
  EXPECT_EQ(size.height, 12);
  EXPECT_EQ(size.area, 192);
  const struct {
    RectangleTexts texts;
    std::string message;
  } refused[] = {
      {{"abc", "0"}, "'abc' is not a valid integer value"},  // the width is read first
      {{"0", "abc"}, "'abc' is not a valid integer value"},  // both before the check
      {{"0", "5"}, "Division by zero"},
      {{"-3", "5"}, "The rectangle width must be positive, not -3"},
      {{"65536", "65536"}, "Integer overflow"},
  };
  for (const auto& c : refused) {
    try {
      CheckedSize(c.texts);
      ADD_FAILURE() << c.texts.width << " x " << c.texts.height << " was taken";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace swelox
