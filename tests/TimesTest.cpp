// Corrected capture times: zones read from the time-zone database against the C library's own
// reading of them, the summer-time changes of both hemispheres, clock shifts across midnight,
// UTC, and the order of photos by their corrected times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

#include "analysis/CameraClock.h"
#include "analysis/Columns.h"
#include "analysis/FileOrder.h"
#include "analysis/ImageAnalysis.h"
#include "analysis/TimeZone.h"
#include "core/Errors.h"
#include "toolkit/CliRun.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

int64_t Seconds(const char* iso) {
  const std::optional<IsoTime> time = ParseIsoTime(iso);
  EXPECT_TRUE(time.has_value()) << iso;
  return time ? time->Utc() : 0;
}

// The C library's offsets for `zone` at `moments`, with TZ set for the calls.
std::vector<int64_t> LibcOffsets(const char* zone, const std::vector<int64_t>& moments) {
  const char* old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  setenv("TZ", zone, 1);
  tzset();
  std::vector<int64_t> offsets;
  for (const int64_t moment : moments) {
    const std::time_t t = static_cast<std::time_t>(moment);
    std::tm local{};
    localtime_r(&t, &local);
    offsets.push_back(local.tm_gmtoff);
  }
  if (old != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  return offsets;
}

TEST(TimeZone, OffsetsAgreeWithTheCLibraryFrom1970To2060) {
  // Every 6 hours 13 minutes over 90 years, beyond 2037 too, where the file's footer rule
  // takes over; both hemispheres, a half-hour zone, and one without summer time.
  std::vector<int64_t> moments;
  for (int64_t t = Seconds("1970-01-01T00:00:00Z"); t < Seconds("2060-01-01T00:00:00Z");
       t += 6 * 3600 + 13 * 60) {
    moments.push_back(t);
  }
  for (const char* name : {"Europe/Lisbon", "America/New_York", "Australia/Sydney", "Asia/Kolkata",
                           "America/Santiago", "UTC"}) {
    const TimeZone zone = TimeZone::Parse(name);
    const std::vector<int64_t> expected = LibcOffsets(name, moments);
    int mismatches = 0;
    for (size_t k = 0; k < moments.size(); ++k) {
      if (zone.OffsetAt(moments[k]) != expected[k] && ++mismatches < 5) {
        ADD_FAILURE() << name << " at " << FormatReading(moments[k], "")
                      << "Z: " << zone.OffsetAt(moments[k]) << " against " << expected[k];
      }
    }
    EXPECT_EQ(mismatches, 0) << name;
  }
}

TEST(TimeZone, ReadingsAtBothSummerTimeChanges) {
  struct Case {
    const char* zone;
    const char* reading;  // the clock's reading
    const char* moment;   // the moment FromLocal gives
  };
  const Case cases[] = {
      // Lisbon 2026: forward at 01:00 UTC on 29 March (01:00 -> 02:00), back at 01:00 UTC on
      // 25 October (02:00 -> 01:00).
      {"Europe/Lisbon", "2026-03-29T00:59:59", "2026-03-29T00:59:59Z"},
      {"Europe/Lisbon", "2026-03-29T01:30:00", "2026-03-29T01:30:00Z"},  // skipped: winter
      {"Europe/Lisbon", "2026-03-29T02:00:00", "2026-03-29T01:00:00Z"},
      {"Europe/Lisbon", "2026-10-25T00:59:59", "2026-10-24T23:59:59Z"},
      {"Europe/Lisbon", "2026-10-25T01:00:00", "2026-10-25T00:00:00Z"},  // twice: the first
      {"Europe/Lisbon", "2026-10-25T01:59:59", "2026-10-25T00:59:59Z"},
      {"Europe/Lisbon", "2026-10-25T02:00:00", "2026-10-25T02:00:00Z"},
      {"Europe/Lisbon", "2026-07-14T09:31:07", "2026-07-14T08:31:07Z"},
      {"Europe/Lisbon", "2026-01-14T09:31:07", "2026-01-14T09:31:07Z"},
      // Sydney: back at 03:00 on 5 April 2026, forward at 02:00 on 4 October 2026.
      {"Australia/Sydney", "2026-04-05T02:30:00", "2026-04-04T15:30:00Z"},  // twice: summer
      {"Australia/Sydney", "2026-04-05T03:00:00", "2026-04-04T17:00:00Z"},
      {"Australia/Sydney", "2026-10-04T02:30:00", "2026-10-03T16:30:00Z"},  // skipped
      {"Australia/Sydney", "2026-10-04T03:00:00", "2026-10-03T16:00:00Z"},
      // After the file's last transition the footer's rule gives the changes.
      {"Europe/Lisbon", "2050-03-27T01:30:00", "2050-03-27T01:30:00Z"},
      {"Europe/Lisbon", "2050-10-30T01:30:00", "2050-10-30T00:30:00Z"},
      {"+05:30", "2026-07-14T09:31:07", "2026-07-14T04:01:07Z"},
      {"-03:00", "2026-12-31T22:00:00", "2027-01-01T01:00:00Z"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TimeZone::Parse(c.zone).FromLocal(Seconds(c.reading)), Seconds(c.moment))
        << c.zone << " " << c.reading;
  }
}

TEST(TimeZone, RefusesWhatIsNoZone) {
  for (const char* text : {"", "+2:00", "+24:00", "+02:60", "02:00", "Europe/Nowhere",
                           "../../etc/passwd", "/etc/localtime", "Europe//Lisbon",
                           "Europe/./Lisbon", "zone.tab", "Europe/Lisbon/", "-help", "Europe"}) {
    EXPECT_THROW(TimeZone::Parse(text), Error) << text;
  }
  // A database file that is no zone.
  test::TempDir dir;
  test::WriteBytes(dir.File("Fake"), {'n', 'o', 't', ' ', 'T', 'Z', 'i', 'f'});
  setenv("TZDIR", dir.path().c_str(), 1);
  EXPECT_THROW(TimeZone::Parse("Fake"), Error);
  unsetenv("TZDIR");
}

TEST(IsoTime, ReadsTheFormsOfLogsAndRefusesTheRest) {
  struct Case {
    const char* text;
    const char* reading;  // FormatReading of what is read; nullptr: nothing
    std::optional<int64_t> offset;
  };
  const Case cases[] = {
      {"2026-07-14T09:31:07", "2026-07-14T09:31:07", std::nullopt},
      {"2026-07-14 09:31:07.250", "2026-07-14T09:31:07.250", std::nullopt},
      {"2026-07-14T09:31", "2026-07-14T09:31:00", std::nullopt},
      {"2026-07-14T09:31:07Z", "2026-07-14T09:31:07", 0},
      {"2026-07-14T09:31:07+01:00", "2026-07-14T09:31:07", 3600},
      {"2026-07-14T09:31:07-0530", "2026-07-14T09:31:07", -19800},
      {"2026-07-14T09:31:07+09", "2026-07-14T09:31:07", 32400},
      {"2024-02-29T00:00:00", "2024-02-29T00:00:00", std::nullopt},
      {"2026-02-29T00:00:00", nullptr, std::nullopt},
      {"2026-06-31T00:00:00", nullptr, std::nullopt},
      {"2026-07-14T24:00:00", nullptr, std::nullopt},
      {"2026-07-14T09:60:00", nullptr, std::nullopt},
      {"2026-07-14", nullptr, std::nullopt},
      {"2026-07-14T09:31:07 ", nullptr, std::nullopt},
      {"2026-07-14T09:31:07+1", nullptr, std::nullopt},
      {"2026-07-14T09:31:07.", nullptr, std::nullopt},
      {"14/07/2026 09:31", nullptr, std::nullopt},
      {"", nullptr, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<IsoTime> time = ParseIsoTime(c.text);
    ASSERT_EQ(time.has_value(), c.reading != nullptr) << c.text;
    if (!time) continue;
    EXPECT_EQ(FormatReading(time->seconds, time->fraction), c.reading) << c.text;
    EXPECT_EQ(time->offset, c.offset) << c.text;
  }
}

TEST(ClockShift, ReadsSignedHoursMinutesSeconds) {
  EXPECT_EQ(ParseClockShift("00:00:00"), 0);
  EXPECT_EQ(ParseClockShift("01:02:03"), 3723);
  EXPECT_EQ(ParseClockShift("-00:20:00"), -1200);
  EXPECT_EQ(ParseClockShift("+1:00:00"), 3600);
  EXPECT_EQ(ParseClockShift("232590:12:00"), int64_t{232590} * 3600 + 720);  // a clock reset
  for (const char* text : {"", "1:2", "00:60:00", "00:00:60", "00:00", "--01:00:00",
                           "1234567:00:00", "01:00:00 ", "1h", "-"}) {
    EXPECT_THROW(ParseClockShift(text), Error) << text;
  }
}

TEST(CameraClock, CorrectsTheRecordedTimes) {
  struct Case {
    TimeSettings settings;
    const char* recorded;  // CaptureTime::text
    const char* written;   // the Time column; nullptr: no time
  };
  const Case cases[] = {
      // No settings: as recorded, offsets and all.
      {{}, "2026-07-14T09:31:07.25+01:00", "2026-07-14T09:31:07.25+01:00"},
      {{}, "2026-07-14T09:31:07", "2026-07-14T09:31:07"},
      // A zone for photos without an offset; a photo's own offset stands.
      {{"Europe/Lisbon", "", false}, "2026-07-14T09:31:07", "2026-07-14T09:31:07+01:00"},
      {{"Europe/Lisbon", "", false}, "2026-01-14T09:31:07.5", "2026-01-14T09:31:07.5+00:00"},
      {{"Europe/Lisbon", "", false}, "2026-07-14T09:31:07-05:30", "2026-07-14T09:31:07-05:30"},
      {{"+02:00", "", true}, "2026-07-14T01:31:07", "2026-07-13T23:31:07Z"},
      {{"Europe/Lisbon", "", true}, "2026-07-14T09:31:07+09:00", "2026-07-14T00:31:07Z"},
      // At the changes.
      {{"Europe/Lisbon", "", false}, "2026-03-29T01:30:00", "2026-03-29T01:30:00+00:00"},
      {{"Europe/Lisbon", "", false}, "2026-10-25T01:30:00", "2026-10-25T01:30:00+01:00"},
      {{"Europe/Lisbon", "", true}, "2026-10-25T01:30:00", "2026-10-25T00:30:00Z"},
      {{"Europe/Lisbon", "", true}, "2026-10-25T02:30:00", "2026-10-25T02:30:00Z"},
      // The shift moves the reading, across midnight, month and year; the zone is asked for the
      // corrected reading (a clock 40 minutes slow just before summer time begins).
      {{"", "00:20:00", false}, "2026-07-14T23:50:00", "2026-07-15T00:10:00"},
      {{"", "-00:20:00", false}, "2026-01-01T00:10:00.5+01:00", "2025-12-31T23:50:00.5+01:00"},
      {{"", "24:00:01", false}, "2024-02-28T23:59:59", "2024-03-01T00:00:00"},
      {{"Europe/Lisbon", "00:40:00", false}, "2026-03-29T00:40:00", "2026-03-29T01:20:00+00:00"},
      {{"Europe/Lisbon", "01:40:00", true}, "2026-03-29T00:40:00", "2026-03-29T01:20:00Z"},
      {{"+01:00", "-01:00:00", true}, "2026-01-01T00:30:00", "2025-12-31T22:30:00Z"},
      // UTC asked for without a zone: only photos with an offset can be placed.
      {{"", "", true}, "2026-07-14T09:31:07", ""},
      {{"", "", true}, "2026-07-14T09:31:07.007-02:00", "2026-07-14T11:31:07.007Z"},
      // Out of the years that can be written.
      {{"", "-01:00:00", false}, "0001-01-01T00:30:00", nullptr},
      {{"", "00:00:01", false}, "9999-12-31T23:59:59", nullptr},
  };
  for (const Case& c : cases) {
    const CameraClock clock(c.settings);
    const std::optional<CameraClock::Corrected> corrected = clock.Correct({c.recorded, "x"});
    ASSERT_EQ(corrected.has_value(), c.written != nullptr) << c.recorded;
    if (corrected) {
      EXPECT_EQ(corrected->text, c.written) << c.recorded << " " << c.settings.zone;
    }
  }
  EXPECT_THROW(CameraClock({"Mars/Olympus", "", false}), Error);
  EXPECT_THROW(CameraClock({"", "1 hour", false}), Error);
}

TEST(CameraClock, SortKeysOrderByTheMoment) {
  const TimeSettings lisbon{"Europe/Lisbon", "", false};
  // In the order of their moments, though not of their readings.
  const char* const ordered[] = {
      "2026-10-25T01:30:00",          // 00:30Z: the first 01:30, in summer time
      "2026-10-25T09:59:59.9+09:00",  // 00:59:59.9Z
      "2026-10-25T01:00:00+00:00",    // 01:00Z
      "2026-10-25T01:00:00.5+00:00", "2026-10-25T01:00:00.55+00:00",
      "2026-10-25T02:00:00",  // 02:00Z
  };
  const CameraClock clock(lisbon);
  for (size_t k = 1; k < std::size(ordered); ++k) {
    EXPECT_LT(clock.Correct({ordered[k - 1], ""})->sortKey,
              clock.Correct({ordered[k], ""})->sortKey)
        << ordered[k - 1] << " " << ordered[k];
  }
  // Without settings the key is the recorded one.
  EXPECT_EQ(CameraClock().Correct({"2026-10-25T01:30:00", "20261025013000"})->sortKey,
            "20261025013000");
}

// Through the decoder: the Time column and the order by time of photos tagged by exiftool.
class CorrectedPhotos : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    plain_ = test::EncodeWithCjpeg(*dir_, "plain.jpg", test::RandomRaster(32, 24, 5, true));
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string Tagged(const std::string& name, const std::string& exiftoolArguments) {
    const std::string path = dir_->File(name);
    test::WriteBytes(path, test::ReadBytes(plain_));
    test::RunCommand("exiftool -q -n -overwrite_original " + exiftoolArguments + " " +
                     test::ShellQuote(path));
    return path;
  }
  static std::string TimeColumn(const std::string& path, const TimeSettings& settings) {
    static const Column kTime[] = {Column::Time};
    const RectangleTexts size{"4", "3"};
    const std::vector<RowOutcome> rows = AnalyseFile(
        path, {&size, 1}, Direction::Below, std::nullopt, kTime, {}, false, CameraClock(settings));
    EXPECT_FALSE(rows.front().error.has_value());
    return rows.front().row.substr(rows.front().row.rfind('\t') + 1);
  }
  static inline test::TempDir* dir_ = nullptr;
  static inline std::string plain_;
};

TEST_F(CorrectedPhotos, TimeColumnWithAndWithoutOffsets) {
  const std::string bare = Tagged("bare.jpg", "-DateTimeOriginal='2026:10:25 01:30:00'");
  const std::string offset = Tagged("offset.jpg",
                                    "-DateTimeOriginal='2026:10:25 01:30:00' "
                                    "-SubSecTimeOriginal=25 -OffsetTimeOriginal=+03:00");
  EXPECT_EQ(TimeColumn(bare, {}), "2026-10-25T01:30:00");
  EXPECT_EQ(TimeColumn(offset, {}), "2026-10-25T01:30:00.25+03:00");
  EXPECT_EQ(TimeColumn(bare, {"Europe/Lisbon", "", true}), "2026-10-25T00:30:00Z");
  EXPECT_EQ(TimeColumn(offset, {"Europe/Lisbon", "", true}), "2026-10-24T22:30:00.25Z");
  EXPECT_EQ(TimeColumn(bare, {"", "-01:30:01", false}), "2026-10-24T23:59:59");
}

TEST_F(CorrectedPhotos, OrderByTheCorrectedMoment) {
  // A phone that records its offset (+01:00, Lisbon summer time) and a camera without one, set
  // to UTC: by their readings the phone's photos would all come after the camera's.
  const std::string phone1 = Tagged("phone1.jpg",
                                    "-DateTimeOriginal='2026:07:14 10:00:00' "
                                    "-OffsetTimeOriginal=+01:00");
  const std::string phone2 = Tagged("phone2.jpg",
                                    "-DateTimeOriginal='2026:07:14 10:20:00' "
                                    "-OffsetTimeOriginal=+01:00");
  const std::string camera1 = Tagged("camera1.jpg", "-DateTimeOriginal='2026:07:14 09:10:00'");
  const std::string camera2 = Tagged("camera2.jpg", "-DateTimeOriginal='2026:07:14 09:30:00'");
  const std::vector<std::string> given = {camera2, phone2, camera1, phone1};
  std::vector<std::string> asRecorded = given;
  OrderFiles(asRecorded, FileOrder::Time);
  EXPECT_EQ(asRecorded, (std::vector<std::string>{camera1, camera2, phone1, phone2}));
  std::vector<std::string> corrected = given;
  OrderFiles(corrected, FileOrder::Time, {}, CameraClock({"+00:00", "", false}));
  EXPECT_EQ(corrected, (std::vector<std::string>{phone1, camera1, phone2, camera2}));
}

TEST_F(CorrectedPhotos, SweloxCliWritesAndRecordsTheCorrectedTimes) {
  const std::string summer = Tagged("summer.jpg", "-DateTimeOriginal='2026:07:14 23:58:00'");
  const std::string own = Tagged("own.jpg",
                                 "-DateTimeOriginal='2026:07:14 23:30:00' "
                                 "-OffsetTimeOriginal=-02:00");
  const std::string table = dir_->File("day.tsv");
  const test::CliResult result =
      test::RunCli({"--columns=time", "--camera-zone=Europe/Lisbon", "--clock-shift=00:03:00",
                    "--utc", "--sort=time", "--output", table, own, summer});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::vector<std::string> lines = test::Lines(test::RunCommand("cut -f8,9 " + table));
  EXPECT_EQ(lines, (std::vector<std::string>{"Pic\tTime", "summer.jpg\t2026-07-14T23:01:00Z",
                                             "own.jpg\t2026-07-15T01:33:00Z"}));
  const std::string descriptor =
      test::RunCommand("cat " + test::ShellQuote(dir_->File("day.datapackage.json")));
  EXPECT_NE(descriptor.find("\"clockShift\": \"00:03:00\""), std::string::npos);
  // Continued with other settings, the table is refused, by name.
  const test::CliResult other =
      test::RunCli({"--columns=time", "--sort=time", "--output", table, own});
  EXPECT_EQ(other.exitCode, 1);
  EXPECT_NE(other.err.find("the camera zone is Europe/Lisbon, not none"), std::string::npos)
      << other.err;
  // Usage errors name the option and the text.
  struct Refused {
    const char* argument;
    const char* message;
  };
  for (const Refused& r : {Refused{"--camera-zone=Europe/Lisbn",
                                   "swelox-cli: --camera-zone: the time zone 'Europe/Lisbn' is "
                                   "not in the time-zone database\n"},
                           Refused{"--camera-zone=../../etc/passwd",
                                   "swelox-cli: --camera-zone: the time zone '../../etc/passwd' "
                                   "is no offset (+HH:MM) and no zone name (Europe/Lisbon)\n"},
                           Refused{"--clock-shift=3m",
                                   "swelox-cli: --clock-shift: the clock shift '3m' is not "
                                   "[-]HH:MM:SS\n"}}) {
    const test::CliResult refused = test::RunCli({r.argument, own});
    EXPECT_EQ(refused.exitCode, 2) << r.argument;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, r.message + test::kTryHelp);
  }
}

}  // namespace
}  // namespace swelox
