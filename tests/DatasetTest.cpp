// The pieces of a dataset: JSON written and read back, the table's record formats, the
// descriptor's round trip and what it refuses, and a table read back with its faults.
#include <gtest/gtest.h>

#include "analysis/Dataset.h"
#include "analysis/GrowingTable.h"
#include "analysis/SettingsTable.h"
#include "analysis/TableFormat.h"
#include "core/Errors.h"
#include "core/Json.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

TEST(Json, StringsAreEscapedAndAlwaysValidUtf8) {
  const struct {
    std::string text;
    std::string quoted;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab\there\nline\r", "\"tab\\there\\nline\\r\""},
      {std::string("nul\0x", 5) + "\x1b\x7f", "\"nul\\u0000x\\u001b\\u007f\""},
      {"K\xc3\xb8"
       "benhavn \xe2\x82\xac \xf0\x9f\x90\x8b",
       "\"K\xc3\xb8"
       "benhavn \xe2\x82\xac \xf0\x9f\x90\x8b\""},
      // Bytes that are no UTF-8: a lone continuation, a cut sequence, an overlong form, a
      // surrogate.
      {"a\x80z", "\"a\\ufffdz\""},
      {"a\xe2\x82", "\"a\\ufffd\\ufffd\""},
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(json::Quoted(c.text), c.quoted);
    // What is written reads back; a text that was valid UTF-8 reads back unchanged.
    const json::Value read = json::Parse(c.quoted);
    ASSERT_EQ(read.kind(), json::Value::Kind::String);
    if (c.quoted.find("ufffd") == std::string::npos) {
      EXPECT_EQ(read.text(), c.text);
    }
  }
}

TEST(Json, ReadsWhatItWritesAndRefusesWhatIsNotJson) {
  json::Value object = json::Value::Object();
  object.Set("n", json::Value::Integer(-9007199254740993));
  object.Set("list", json::Value::Array()).Add(json::Value::Boolean(true));
  object.Set("none", json::Value());
  object.Set("empty", json::Value::Object());
  const json::Value read = json::Parse(json::Serialize(object));
  EXPECT_EQ(json::Serialize(read), json::Serialize(object));
  EXPECT_EQ(read.Find("n")->integer(), -9007199254740993);
  EXPECT_EQ(read.Find("missing"), nullptr);

  const json::Value escapes = json::Parse(R"(["\u00e9\ud83d\udc0b\/", 1.5e3, -0])");
  EXPECT_EQ(escapes.items()[0].text(), "\xc3\xa9\xf0\x9f\x90\x8b/");
  EXPECT_EQ(escapes.items()[1].integer(), std::nullopt);  // not a whole number as written
  EXPECT_EQ(escapes.items()[2].integer(), 0);

  for (const char* bad : {"", "{", "{\"a\" 1}", "[1,]", "[01]", "\"\\x\"", "\"\\ud800\"",
                          "\"a\nb\"", "tru", "{} x", "[1.]", "\"\xff\""}) {
    EXPECT_THROW(json::Parse(bad), Error) << bad;
  }
  EXPECT_THROW(json::Parse(std::string(100, '[') + std::string(100, ']')), Error);
}

TEST(TableFormat, CsvRecordsReadBackAsTheirFields) {
  EXPECT_EQ(FormatForName("season.CSV"), TableFormat::Csv);
  EXPECT_EQ(FormatForName("season.csv.tsv"), TableFormat::Tsv);
  EXPECT_EQ(FormatForName("csv"), TableFormat::Tsv);
  const struct {
    std::string line;
    std::string csv;
  } cases[] = {
      {"1\t2\tname.jpg", "1,2,name.jpg\r\n"},
      {"a,b\tsay \"hi\"\t\tcr\rhere", "\"a,b\",\"say \"\"hi\"\"\",,\"cr\rhere\"\r\n"},
      {"", "\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TableRecord(c.line, TableFormat::Csv), c.csv);
    EXPECT_EQ(TableRecord(c.line, TableFormat::Tsv), c.line + "\n");
    const std::string record = c.csv.substr(0, c.csv.size() - 2);
    const SplitFields csv = SplitRecord(record, TableFormat::Csv);
    const SplitFields tsv = SplitRecord(c.line, TableFormat::Tsv);
    EXPECT_TRUE(csv.complete);
    EXPECT_EQ(csv.fields, tsv.fields) << c.line;
  }
  EXPECT_FALSE(SplitRecord("1,\"open", TableFormat::Csv).complete);
}

// The results area's text saved as CSV: its lines become records, its tabs fields.
TEST(TableFormat, ShownTextBecomesRecords) {
  const struct {
    const char* name;
    std::string text;
    std::string csv;
  } cases[] = {
      {"nothing", "", ""},
      {"columns become fields, lines records", "a\tb\tc\n1\t2\t3\n", "a,b,c\r\n1,2,3\r\n"},
      {"no final line break", "a\tb", "a,b\r\n"},
      {"empty lines and fields stay", "a\t\n\n\tb\n", "a,\r\n\r\n,b\r\n"},
      {"a comma quotes the field", "1\tsea, calm.jpg\n", "1,\"sea, calm.jpg\"\r\n"},
      {"quotes are doubled", "say \"hi\"\tx\n", "\"say \"\"hi\"\"\",x\r\n"},
      {"carriage return", "a\rb\n", "\"a\rb\"\r\n"},
      {"other text as it is", "  K\xc3\xbcste\t-1\n", "  K\xc3\xbcste,-1\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TableText(c.text, TableFormat::Csv), c.csv) << c.name;
    EXPECT_EQ(TableText(c.text, TableFormat::Tsv), c.text) << c.name;
  }
}

TEST(Dataset, DescriptorNamesAndRoundTrip) {
  EXPECT_EQ(DescriptorPathFor("season.tsv"), "season.datapackage.json");
  EXPECT_EQ(DescriptorPathFor("out/2026.07/day"), "out/2026.07/day.datapackage.json");
  EXPECT_EQ(DescriptorPathFor("a.b.csv"), "a.b.datapackage.json");
  EXPECT_EQ(DescriptorPathFor(".hidden"), ".hidden.datapackage.json");

  Dataset d;
  d.tablePath = "Season 2026.csv";
  d.format = TableFormat::Csv;
  d.settings.width = "$10";
  d.settings.repeats = "2";
  d.settings.direction = Direction::Right;
  d.settings.region = PixelRegion{1, 2, 30, 40};
  d.settings.columns = {Column::Quality, Column::Time};
  d.settings.order = FileOrder::Time;
  d.photoColumns = true;
  d.program = "swelox 1.0.0";
  d.decoder = "libjpeg-turbo 2.1.5, libjpeg API 62";
  d.idct = "JDCT_FLOAT";
  d.created = d.started = "2026-07-14T09:31:07Z";
  d.end = {RunEnd::Status::Failed, 60, 15, 2, 1, 45, "JPEG error #53.", "photos/x\\\\y.jpg"};
  const std::string text = DescriptorText(d);
  EXPECT_NE(text.find("\"name\": \"season-2026\""), std::string::npos);
  EXPECT_NE(
      text.find("\"summary\": \"ended by an error at photos/x\\\\\\\\y.jpg: JPEG error #53.\""),
      std::string::npos);
  const Dataset read = ReadDescriptor(text);
  EXPECT_EQ(DatasetDifference(read, d), "");
  EXPECT_EQ(read.tablePath, d.tablePath);
  EXPECT_EQ(read.end.photosFailed, 2);
  EXPECT_EQ(read.end.errorPhoto, d.end.errorPhoto);
  EXPECT_EQ(read.end.status, RunEnd::Status::Failed);
  EXPECT_EQ(read.ended, "");

  Dataset other = d;
  other.settings.region.reset();
  EXPECT_EQ(DatasetDifference(d, other), "the region is 30x40+1+2, not none");
  other = d;
  other.program = "swelox 1.1.0";
  EXPECT_EQ(DatasetDifference(d, other), "the program is swelox 1.0.0, not swelox 1.1.0");

  EXPECT_EQ(EndSummary({RunEnd::Status::Stopped, 60, 15, 0, 0, 15, "", ""}),
            "stopped after 15 of 60 photos");
  // A descriptor that lacks a setting is refused by name, not read with a default.
  std::string lacking = text;
  lacking.replace(lacking.find("\"repeats\""), 9, "\"repeat\"");
  try {
    ReadDescriptor(lacking);
    ADD_FAILURE() << "read";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "the descriptor has no 'repeats'");
  }
}

// Every setting travels in the descriptor: a value other than the default is read back as it was
// written, tells the table from one made with the default, by the setting's phrase, and a value
// the setting cannot take is refused naming it.
TEST(Dataset, EverySettingRoundTripsAndTellsTablesApart) {
  const std::string changed[kSettingCount] = {
      "20",        "30",        "2",         "50",   "25",
      "right",     "30x40+1+2", "time,path", "name", "Europe/Lisbon",
      "-00:03:10", "true"};
  for (const SettingRow& row : SettingsTable()) {
    Dataset table, run;
    row.set(table.settings, changed[static_cast<size_t>(row.setting)]);
    ASSERT_NE(table.settings, run.settings) << row.name;
    const Dataset read = ReadDescriptor(DescriptorText(table));
    EXPECT_EQ(read.settings, table.settings) << row.name;
    const std::string difference = DatasetDifference(table, run);
    EXPECT_EQ(difference.rfind(std::string(row.descriptor.phrase) + " is ", 0), 0u)
        << row.name << ": " << difference;
  }
  std::string text = DescriptorText(Dataset{});
  text.replace(text.find("\"below\""), 7, "\"aslant\"");
  try {
    ReadDescriptor(text);
    ADD_FAILURE() << "read";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "the descriptor gives the direction 'aslant'");
  }
}

// A table whose lines do not belong to its descriptor is refused with the line named; a cut
// last record is measured, not refused.
TEST(Dataset, TimeSettingsAreRecordedAndTellTablesApart) {
  Dataset d;
  d.tablePath = "day.tsv";
  d.settings.columns = {Column::Time};
  d.settings.time = {"Europe/Lisbon", "-00:03:10", true};
  const std::string text = DescriptorText(d);
  EXPECT_NE(text.find("\"cameraZone\": \"Europe/Lisbon\""), std::string::npos);
  EXPECT_NE(text.find("corrected by -00:03:10, in UTC (Z)"), std::string::npos);
  const Dataset read = ReadDescriptor(text);
  EXPECT_EQ(read.settings.time, d.settings.time);
  EXPECT_EQ(DatasetDifference(read, d), "");
  Dataset other = d;
  other.settings.time.shift.clear();
  EXPECT_EQ(DatasetDifference(d, other), "the clock shift is -00:03:10, not none");
  other = d;
  other.settings.time.utc = false;
  EXPECT_EQ(DatasetDifference(d, other), "the time zone of the Time column is UTC, not local");
  // A descriptor from before the time settings holds the times as recorded.
  std::string older = DescriptorText(Dataset{});
  const size_t from = older.find(",\n      \"cameraZone\": null");
  const size_t to = older.find("\"utc\": false");
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos);
  older.erase(from, to + std::string_view("\"utc\": false").size() - from);
  EXPECT_EQ(ReadDescriptor(older).settings.time, TimeSettings{});
}

TEST(Dataset, TablesReadBackWithTheirFaults) {
  test::TempDir dir;
  Dataset d;
  d.photoColumns = true;
  d.program = "swelox 1.0.0";
  const std::string row =
      "8\t8\t15\t12\t0\t0\t0\ta.jpg\t1\ta.jpg\t100\t2026-07-14T09:31:07.000000000Z\tfalse\n";
  const std::string header = TableHeader(d.settings, true) + "\n";
  const struct {
    std::string name;
    std::string text;
    std::string fault;  // empty: read
  } cases[] = {
      {"t.tsv", header + row + row.substr(0, 20), ""},
      {"t.tsv", "", ""},
      {"t.tsv", header + "8\t8\n", "line 2 is not a row of this table"},
      {"t.tsv", header + row.substr(0, row.size() - 6) + "maybe\n",
       "line 2 is not a row of this table"},
      {"t.tsv", "Width\tHeight\n" + row,
       "line 1 is not the header of the table its descriptor describes"},
      {"t.csv", TableRecord(header.substr(0, header.size() - 1), TableFormat::Csv) + "1,2\n",
       "line 2 does not end as a record of this table"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = dir.File(c.name);
    d.format = FormatForName(c.name);
    d.tablePath = c.name;
    test::WriteBytes(path, test::ToBytes(c.text));
    test::WriteBytes(DescriptorPathFor(path), test::ToBytes(DescriptorText(d)));
    if (c.fault.empty()) {
      const TableContents contents = ReadTable(path);
      EXPECT_EQ(contents.held.rows(), c.text.empty() ? 0 : 1);
      EXPECT_EQ(contents.headerWhole, !c.text.empty());
      EXPECT_EQ(contents.cutBytes, c.text.empty() ? 0 : 20);
      EXPECT_EQ(contents.held.Count("a.jpg\t100\t2026-07-14T09:31:07.000000000Z", 0),
                c.text.empty() ? 0 : 1);
    } else {
      try {
        ReadTable(path);
        ADD_FAILURE() << "read";
      } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), path + ": " + c.fault);
      }
    }
  }
}

}  // namespace
}  // namespace swelox
