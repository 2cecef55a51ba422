// The capture time: the recorded fields checked, EXIF data in either byte order and broken or
// hostile EXIF (hand-made and written by exiftool) through the decoder, and the orders of files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>

#include "analysis/BatchRun.h"
#include "analysis/Columns.h"
#include "analysis/FileOrder.h"
#include "analysis/ImageAnalysis.h"
#include "imaging/CaptureTime.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"
#include "toolkit/CliRun.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using Bytes = std::vector<uint8_t>;
using test::TempDir;

// The names in `order`, through the runner's list of paths.
std::vector<std::string> Ordered(const std::vector<std::string>& names, FileOrder order,
                                 std::stop_token stop = {}) {
  const PathList ordered = OrderFiles(PathList(names), order, stop);
  return {ordered.begin(), ordered.end()};
}

// ---------------------------------------------------------------------------------------------
// The recorded fields.

struct FieldCase {
  std::string dateTime, subSeconds, offset;
  const char* expected;  // nullptr: no time
};

TEST(CaptureTimeFromFields, OnlyRealMomentsCountAndTheirPartsOnlyWhenWellFormed) {
  using namespace std::string_literals;
  const FieldCase cases[] = {
      {"2026:07:14 09:31:07", "", "", "2026-07-14T09:31:07"},
      {"2026:07:14 09:31:07\0"s, "25\0"s, "+01:00\0"s, "2026-07-14T09:31:07.25+01:00"},
      {"2026:07:14 09:31:07", "007", "-05:30", "2026-07-14T09:31:07.007-05:30"},
      {"2026:07:14 09:31:07", "25  ", "", "2026-07-14T09:31:07.25"},  // padded with spaces
      {"2024:02:29 23:59:59", "", "", "2024-02-29T23:59:59"},
      {"2000:02:29 00:00:00", "", "", "2000-02-29T00:00:00"},
      {"0001:01:01 00:00:00", "", "", "0001-01-01T00:00:00"},
      // Sub-seconds and offsets that are not well formed are left out, the time stays.
      {"2026:07:14 09:31:07", "2a", "+1:00", "2026-07-14T09:31:07"},
      {"2026:07:14 09:31:07", " 25", "+01:60", "2026-07-14T09:31:07"},
      {"2026:07:14 09:31:07", "   ", "   :  ", "2026-07-14T09:31:07"},
      {"2026:07:14 09:31:07", "", "01:00", "2026-07-14T09:31:07"},
      {"2026:07:14 09:31:07", "", "+01:00 ", "2026-07-14T09:31:07"},
      // No time at all.
      {"    :  :     :  :  ", "25", "+01:00", nullptr},
      {"0000:00:00 00:00:00", "", "", nullptr},
      {"", "", "", nullptr},
      {"1900:02:29 12:00:00", "", "", nullptr},
      {"2026:02:29 12:00:00", "", "", nullptr},
      {"2026:06:31 12:00:00", "", "", nullptr},
      {"2026:13:01 12:00:00", "", "", nullptr},
      {"2026:00:10 12:00:00", "", "", nullptr},
      {"2026:07:00 12:00:00", "", "", nullptr},
      {"2026:07:14 24:00:00", "", "", nullptr},
      {"2026:07:14 09:60:00", "", "", nullptr},
      {"2026:07:14 09:31:60", "", "", nullptr},
      {"2026-07-14 09:31:07", "", "", nullptr},
      {"2026:07:14T09:31:07", "", "", nullptr},
      {"2026:07:14 09:31:07 ", "", "", nullptr},
      {"2026:07:14 09:31", "", "", nullptr},
      {"2026:07:1a 09:31:07", "", "", nullptr},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.dateTime + " | " + c.subSeconds + " | " + c.offset);
    const std::optional<CaptureTime> time =
        CaptureTimeFromFields(c.dateTime, c.subSeconds, c.offset);
    if (c.expected == nullptr) {
      EXPECT_FALSE(time.has_value()) << time->text;
    } else {
      ASSERT_TRUE(time.has_value());
      EXPECT_EQ(time->text, c.expected);
    }
  }
}

TEST(CaptureTimeFromFields, SortKeysOrderBySubSecondsAndIgnoreOffsets) {
  auto key = [](const char* dateTime, const char* subSeconds, const char* offset) {
    return CaptureTimeFromFields(dateTime, subSeconds, offset).value().sortKey;
  };
  EXPECT_EQ(key("2026:07:14 09:31:07", "5", ""), key("2026:07:14 09:31:07", "500", ""));
  EXPECT_LT(key("2026:07:14 09:31:07", "5", ""), key("2026:07:14 09:31:07", "51", ""));
  EXPECT_LT(key("2026:07:14 09:31:07", "099", ""), key("2026:07:14 09:31:07", "1", ""));
  EXPECT_LT(key("2026:07:14 09:31:07", "", ""), key("2026:07:14 09:31:07", "001", ""));
  EXPECT_LT(key("2026:07:14 09:31:07", "999", ""), key("2026:07:14 09:31:08", "", ""));
  // The same clock reading in two time zones is the same key.
  EXPECT_EQ(key("2026:07:14 09:31:07", "", "+01:00"), key("2026:07:14 09:31:07", "", "-05:00"));
  EXPECT_LT(key("2025:12:31 23:59:59", "", ""), key("2026:01:01 00:00:00", "", ""));
}

// ---------------------------------------------------------------------------------------------
// EXIF data made by hand, for what no camera or editor writes.

struct ExifTag {
  uint16_t tag;
  std::string text;  // written as ASCII with its NUL
};

Bytes ExifHeader() {
  Bytes header(6, 0);
  std::memcpy(header.data(), "Exif", 4);
  return header;
}

// "Exif\0\0" and then bytes of no meaning, to the largest size a segment holds.
Bytes ExifGarbage() {
  Bytes garbage = ExifHeader();
  garbage.reserve(65533);
  uint32_t state = 12345;
  while (garbage.size() < 65533) {
    state = state * 1103515245 + 12345;
    garbage.push_back(static_cast<uint8_t>(state >> 16));
  }
  return garbage;
}

// Writes 16- and 32-bit TIFF values into `bytes` in the structure's byte order.
struct TiffBytes {
  Bytes& bytes;
  bool bigEndian;
  void u16(size_t at, uint16_t v) const {
    bytes[at + (bigEndian ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
    bytes[at + (bigEndian ? 1 : 0)] = static_cast<uint8_t>(v);
  }
  void u32(size_t at, uint32_t v) const {
    for (int k = 0; k < 4; ++k) {
      bytes[at + (bigEndian ? k : 3 - k)] = static_cast<uint8_t>(v >> (24 - 8 * k));
    }
  }
};

enum class Hostility { None, ExifPointerPastTheEnd, LoopingChain, SelfPointingExifIfd };

// "Exif\0\0" and a TIFF structure: IFD0 holding only the pointer to the Exif IFD, which holds
// `tags`.
Bytes ExifSegment(bool bigEndian, const std::vector<ExifTag>& tags,
                  Hostility hostility = Hostility::None) {
  Bytes tiff;
  const TiffBytes put{tiff, bigEndian};
  const size_t ifd0 = 8, exifIfd = ifd0 + 2 + 12 + 4;
  const size_t entries = tags.size() + (hostility == Hostility::SelfPointingExifIfd ? 1 : 0);
  size_t data = exifIfd + 2 + 12 * entries + 4;
  size_t size = data;
  for (const ExifTag& t : tags) size += t.text.size() + 1 > 4 ? t.text.size() + 1 : 0;
  tiff.assign(size, 0);
  tiff[0] = tiff[1] = bigEndian ? 'M' : 'I';
  put.u16(2, 42);
  put.u32(4, ifd0);
  put.u16(ifd0, 1);
  put.u16(ifd0 + 2, 0x8769);  // the Exif IFD pointer
  put.u16(ifd0 + 4, 4);       // LONG
  put.u32(ifd0 + 6, 1);
  put.u32(ifd0 + 10, hostility == Hostility::ExifPointerPastTheEnd ? 0x7FFFFFF0 : exifIfd);
  put.u32(ifd0 + 14, hostility == Hostility::LoopingChain ? ifd0 : 0);  // the next IFD
  put.u16(exifIfd, static_cast<uint16_t>(entries));
  size_t entry = exifIfd + 2;
  for (const ExifTag& t : tags) {
    const uint32_t count = static_cast<uint32_t>(t.text.size() + 1);
    put.u16(entry, t.tag);
    put.u16(entry + 2, 2);  // ASCII
    put.u32(entry + 4, count);
    if (count <= 4) {
      std::memcpy(&tiff[entry + 8], t.text.data(), t.text.size());
    } else {
      put.u32(entry + 8, static_cast<uint32_t>(data));
      std::memcpy(&tiff[data], t.text.data(), t.text.size());
      data += count;
    }
    entry += 12;
  }
  if (hostility == Hostility::SelfPointingExifIfd) {
    put.u16(entry, 0xA005);  // the interoperability IFD pointer, back at the Exif IFD
    put.u16(entry + 2, 4);
    put.u32(entry + 4, 1);
    put.u32(entry + 8, static_cast<uint32_t>(exifIfd));
    entry += 12;
  }
  put.u32(entry, hostility == Hostility::LoopingChain ? static_cast<uint32_t>(exifIfd) : 0);
  Bytes segment = ExifHeader();
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  return segment;
}

// The JPEG with an APP1 segment holding `payload` just after its start marker.
Bytes WithApp1(const Bytes& jpeg, const Bytes& payload) {
  const size_t length = payload.size() + 2;
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.push_back(0xFF);
  out.push_back(0xE1);
  out.push_back(static_cast<uint8_t>(length >> 8));
  out.push_back(static_cast<uint8_t>(length & 0xFF));
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

const std::vector<ExifTag> kRecorded = {
    {0x9003, "2026:07:14 09:31:07"}, {0x9291, "25"}, {0x9011, "+01:00"},
    {0x9004, "2026:07:14 09:31:09"}, {0x9292, "5"},  {0x9012, "-05:30"},
};

std::optional<std::string> TimeText(const Bytes& segment) {
  const std::optional<CaptureTime> time = CaptureTimeFromExif(segment);
  if (!time) return std::nullopt;
  return time->text;
}

TEST(CaptureTimeFromExif, ReadsEitherByteOrderAndFallsBackToTheDigitizedTime) {
  for (const bool bigEndian : {true, false}) {
    SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
    EXPECT_EQ(TimeText(ExifSegment(bigEndian, kRecorded)), "2026-07-14T09:31:07.25+01:00");
    // Without a valid original time, the digitized one with its own sub-seconds and offset.
    std::vector<ExifTag> blankOriginal = kRecorded;
    blankOriginal[0].text = "    :  :     :  :  ";
    EXPECT_EQ(TimeText(ExifSegment(bigEndian, blankOriginal)), "2026-07-14T09:31:09.5-05:30");
    const std::vector<ExifTag> digitizedOnly(kRecorded.begin() + 3, kRecorded.end());
    EXPECT_EQ(TimeText(ExifSegment(bigEndian, digitizedOnly)), "2026-07-14T09:31:09.5-05:30");
    // The sub-seconds of the digitized time never join the original one.
    const std::vector<ExifTag> mixed = {{0x9003, "2026:07:14 09:31:07"}, {0x9292, "5"}};
    EXPECT_EQ(TimeText(ExifSegment(bigEndian, mixed)), "2026-07-14T09:31:07");
    EXPECT_EQ(TimeText(ExifSegment(bigEndian, {{0x9290, "25"}})), std::nullopt);
  }
}

TEST(CaptureTimeFromExif, BrokenOrHostileDataGivesNoTimeAndEnds) {
  for (const bool bigEndian : {true, false}) {
    SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
    EXPECT_EQ(TimeText(ExifSegment(bigEndian, kRecorded, Hostility::ExifPointerPastTheEnd)),
              std::nullopt);
    // Chains that lead back where they began are followed once.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TimeText(ExifSegment(bigEndian, kRecorded, Hostility::LoopingChain)),
              "2026-07-14T09:31:07.25+01:00");
    EXPECT_EQ(TimeText(ExifSegment(bigEndian, kRecorded, Hostility::SelfPointingExifIfd)),
              "2026-07-14T09:31:07.25+01:00");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    // Cut anywhere: never a time made of what is left of the date.
    const Bytes whole = ExifSegment(bigEndian, kRecorded);
    for (size_t length = 0; length < whole.size(); ++length) {
      const std::optional<std::string> text =
          TimeText(Bytes(whole.begin(), whole.begin() + length));
      if (text) {
        EXPECT_EQ(text->substr(0, 19), "2026-07-14T09:31:07") << length;
      }
    }
  }
  EXPECT_EQ(TimeText(ExifGarbage()), std::nullopt);
  EXPECT_EQ(TimeText({}), std::nullopt);
  EXPECT_EQ(TimeText(ExifHeader()), std::nullopt);
}

// An EXIF bomb: IFD0 holding `entries` Exif, GPS and interoperability IFD pointers, every one
// back at IFD0 itself, and its link to IFD1 back at it too. With `timed`, the first pointer leads
// to an Exif IFD holding DateTimeOriginal and pointers back at itself and at IFD0.
Bytes ExifBomb(bool bigEndian, size_t entries, bool timed) {
  const size_t ifd0 = 8;
  const size_t exifIfd = ifd0 + 2 + 12 * entries + 4;
  const size_t exifEntries = timed ? 1 + entries : 0;
  const size_t date = exifIfd + 2 + 12 * exifEntries + 4;
  Bytes tiff(timed ? date + 20 : exifIfd, 0);
  const TiffBytes put{tiff, bigEndian};
  auto entry = [&](size_t at, uint16_t tag, uint16_t format, uint32_t count, uint32_t value) {
    put.u16(at, tag);
    put.u16(at + 2, format);
    put.u32(at + 4, count);
    put.u32(at + 8, value);
  };
  static constexpr uint16_t kPointers[] = {0x8769, 0x8825, 0xA005};
  tiff[0] = tiff[1] = bigEndian ? 'M' : 'I';
  put.u16(2, 42);
  put.u32(4, ifd0);
  put.u16(ifd0, static_cast<uint16_t>(entries));
  for (size_t k = 0; k < entries; ++k) {
    const bool toExif = timed && k == 0;
    entry(ifd0 + 2 + 12 * k, kPointers[k % 3], 4, 1,
          static_cast<uint32_t>(toExif ? exifIfd : ifd0));
  }
  put.u32(ifd0 + 2 + 12 * entries, ifd0);
  if (timed) {
    put.u16(exifIfd, static_cast<uint16_t>(exifEntries));
    entry(exifIfd + 2, 0x9003, 2, 20, static_cast<uint32_t>(date));
    for (size_t k = 1; k < exifEntries; ++k) {
      entry(exifIfd + 2 + 12 * k, kPointers[k % 3], 4, 1,
            static_cast<uint32_t>(k % 2 != 0 ? exifIfd : ifd0));
    }
    put.u32(exifIfd + 2 + 12 * exifEntries, static_cast<uint32_t>(exifIfd));
    std::memcpy(&tiff[date], "2026:07:14 09:31:07", 19);
  }
  Bytes segment = ExifHeader();
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  return segment;
}

// Directories that point back at themselves, in every count up to the most a segment holds: each
// is read once, so the worst costs about what a sound segment costs, and a time beside the
// pointers is still found.
TEST(CaptureTimeFromExif, DirectoriesPointingBackAreReadOnce) {
  for (const bool bigEndian : {true, false}) {
    for (const size_t entries : {3, 150, 207, 1000, 2700}) {
      SCOPED_TRACE(std::to_string(entries) + (bigEndian ? " big-endian" : " little-endian"));
      for (const bool timed : {false, true}) {
        const Bytes bomb = ExifBomb(bigEndian, entries, timed);
        ASSERT_LE(bomb.size(), 65533u);
        // The best of three, so that a busy machine's pause is not taken for the parse's cost.
        auto spent = std::chrono::steady_clock::duration::max();
        for (int k = 0; k < 3; ++k) {
          const auto start = std::chrono::steady_clock::now();
          const std::optional<std::string> text = TimeText(bomb);
          spent = std::min(spent, std::chrono::steady_clock::now() - start);
          EXPECT_EQ(text, timed ? std::optional<std::string>("2026-07-14T09:31:07") : std::nullopt);
        }
        EXPECT_LT(spent, std::chrono::milliseconds(5));
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Through the decoder and the row.

class CaptureTimeColumn : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    plain_ = test::EncodeWithCjpeg(*dir_, "plain.jpg", test::RandomRaster(64, 48, 7, true));
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_->File(name);
    test::WriteBytes(path, bytes);
    return path;
  }
  // A copy of the plain picture with tags written by exiftool.
  static std::string Tagged(const std::string& name, const std::string& exiftoolArguments) {
    const std::string path = Write(name, test::ReadBytes(plain_));
    // -n: the values exactly as given, also those exiftool would refuse as dates.
    test::RunCommand("exiftool -q -n -overwrite_original " + exiftoolArguments + " " +
                     test::ShellQuote(path));
    // The tags did get written (exiftool only warns about a value it does not take).
    EXPECT_NE(test::RunCommand("exiftool -n -s3 -DateTimeOriginal -CreateDate -ModifyDate " +
                               test::ShellQuote(path)),
              "");
    return path;
  }
  // The Time column of the file's row, after checking that the rest of the row is the row
  // without the column.
  static std::string TimeColumn(const std::string& path) {
    static const Column kTime[] = {Column::Time};
    const RectangleTexts size{"4", "3"};
    const std::vector<RowOutcome> with =
        AnalyseFile(path, {&size, 1}, Direction::Below, std::nullopt, kTime);
    const std::string without = AnalyseFileRow(path, size, Direction::Below);
    EXPECT_FALSE(with.front().error.has_value()) << with.front().error->what();
    const std::string& row = with.front().row;
    const size_t tab = row.rfind('\t');
    EXPECT_EQ(row.substr(0, tab), without);
    return row.substr(tab + 1);
  }
  static std::string HeadTime(const std::string& path) {
    PictureFile file(path);
    const std::optional<CaptureTime> time = ReadCaptureTime(file);
    return time ? time->text : "";
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::string plain_;
};

TEST_F(CaptureTimeColumn, WrittenByExiftool) {
  struct Case {
    const char* name;
    const char* arguments;
    const char* expected;
  };
  const Case cases[] = {
      {"big-endian.jpg",
       "-ExifByteOrder=MM -DateTimeOriginal='2026:07:14 09:31:07' -SubSecTimeOriginal=25 "
       "-OffsetTimeOriginal=+01:00",
       "2026-07-14T09:31:07.25+01:00"},
      {"little-endian.jpg",
       "-ExifByteOrder=II -DateTimeOriginal='2026:07:14 09:31:07' -SubSecTimeOriginal=007 "
       "-OffsetTimeOriginal=-05:30",
       "2026-07-14T09:31:07.007-05:30"},
      {"digitized-only.jpg", "-ExifByteOrder=II -CreateDate='2025:12:31 23:59:58'",
       "2025-12-31T23:59:58"},
      {"blank-original.jpg",
       "-DateTimeOriginal='    :  :     :  :  ' -CreateDate='2026:01:02 03:04:05' "
       "-SubSecTimeDigitized=9",
       "2026-01-02T03:04:05.9"},
      {"blank.jpg", "-DateTimeOriginal='    :  :     :  :  '", ""},
      {"zeros.jpg", "-DateTimeOriginal='0000:00:00 00:00:00'", ""},
      {"modified-only.jpg", "-ModifyDate='2026:07:14 09:31:07'", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Tagged(c.name, c.arguments);
    EXPECT_EQ(TimeColumn(path), c.expected);
    EXPECT_EQ(HeadTime(path), c.expected);
  }
  EXPECT_EQ(TimeColumn(plain_), "");
}

TEST_F(CaptureTimeColumn, BrokenExifNeverFailsTheRow) {
  const Bytes plain = test::ReadBytes(plain_);
  struct Case {
    const char* name;
    Bytes segment;
    const char* expected;
  };
  const Case cases[] = {
      {"pointer-past-the-end.jpg", ExifSegment(true, kRecorded, Hostility::ExifPointerPastTheEnd),
       ""},
      {"looping-chain.jpg", ExifSegment(false, kRecorded, Hostility::LoopingChain),
       "2026-07-14T09:31:07.25+01:00"},
      {"self-pointing.jpg", ExifSegment(true, kRecorded, Hostility::SelfPointingExifIfd),
       "2026-07-14T09:31:07.25+01:00"},
      {"64-KiB-of-garbage.jpg", ExifGarbage(), ""},
      {"not-exif.jpg", Bytes(1000, 'x'), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Write(c.name, WithApp1(plain, c.segment));
    EXPECT_EQ(TimeColumn(path), c.expected);
    EXPECT_EQ(HeadTime(path), c.expected);
  }
  // The first EXIF segment counts; one that is not EXIF before it is passed over.
  const std::string two =
      Write("two.jpg", WithApp1(WithApp1(plain, ExifSegment(true, kRecorded)), Bytes(100, 'x')));
  EXPECT_EQ(TimeColumn(two), "2026-07-14T09:31:07.25+01:00");
}

// The bombs in photos, through swelox-cli with the time read for the column and the order: the
// run takes about what the clean photo takes.
TEST_F(CaptureTimeColumn, ExifBombsCostTheToolNoTime) {
  const Bytes plain = test::ReadBytes(plain_);
  std::vector<std::string> arguments = {"--columns=time", "--sort=time"};
  for (const size_t entries : {150, 207}) {
    arguments.push_back(Write("bomb" + std::to_string(entries) + ".jpg",
                              WithApp1(plain, ExifBomb(false, entries, false))));
  }
  arguments.push_back(Write("timed-bomb.jpg", WithApp1(plain, ExifBomb(true, 207, true))));
  const test::CliResult r = test::RunCli(arguments, 30);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_LT(r.seconds, 1.0);
  const std::vector<std::string> lines = test::Lines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[1].substr(lines[1].size() - 34), "timed-bomb.jpg\t2026-07-14T09:31:07");
  EXPECT_EQ(lines[2].back(), '\t');  // no time
}

TEST_F(CaptureTimeColumn, EveryColumnAfterPic) {
  const std::string path = Tagged("tab\tname.jpg", "-DateTimeOriginal='2026:07:14 09:31:07'");
  const Column all[] = {Column::Direction, Column::Region, Column::Time, Column::Path};
  const RectangleTexts size{"4", "3"};
  const std::string plain = AnalyseFileRow(path, size, Direction::Right, PixelRegion{1, 2, 30, 20});
  const std::vector<RowOutcome> rows =
      AnalyseFile(path, {&size, 1}, Direction::Right, PixelRegion{1, 2, 30, 20}, all);
  const std::string escapedPath = dir_->File("tab\\tname.jpg");
  EXPECT_EQ(rows.front().row, plain + "\tright\t30x20+1+2\t2026-07-14T09:31:07\t" + escapedPath);
  EXPECT_EQ(HeaderLine(all), std::string(kHeaderLine) + "\tDirection\tRegion\tTime\tPath");
  EXPECT_EQ(HeaderLine({}), kHeaderLine);
}

// ---------------------------------------------------------------------------------------------
// Column lists and orders.

TEST(ColumnList, NamesEachOnceInAnyOrder) {
  EXPECT_EQ(ParseColumnList("time"), std::vector<Column>{Column::Time});
  EXPECT_EQ(ParseColumnList("direction,path,time,region"),
            (std::vector<Column>{Column::Direction, Column::Path, Column::Time, Column::Region}));
  EXPECT_EQ(ColumnListText(ParseColumnList("region,time")), "region,time");
  for (const char* bad : {"", "time,", ",time", "time,,path", "Time", "time,time", "times",
                          "time path", "path,region,path"}) {
    EXPECT_THROW(ParseColumnList(bad), Error) << bad;
  }
}

TEST(NaturalOrder, DigitsCompareAsNumbers) {
  std::vector<std::string> names = {"b",
                                    "a10",
                                    "a2",
                                    "a1",
                                    "IMG_10.jpg",
                                    "IMG_9.jpg",
                                    "a02b",
                                    "a2a",
                                    "x/10/1",
                                    "x/9/2",
                                    "a",
                                    "99999999999999999999",
                                    "100000000000000000000"};
  names = Ordered(names, FileOrder::Name);
  EXPECT_EQ(names, (std::vector<std::string>{"99999999999999999999", "100000000000000000000",
                                             "IMG_9.jpg", "IMG_10.jpg", "a", "a1", "a2", "a2a",
                                             "a02b", "a10", "b", "x/9/2", "x/10/1"}));
  // Equal names (leading zeros aside) keep their given order.
  std::vector<std::string> equal = {"p007", "p7", "p07"};
  equal = Ordered(equal, FileOrder::Name);
  EXPECT_EQ(equal, (std::vector<std::string>{"p007", "p7", "p07"}));
}

TEST_F(CaptureTimeColumn, OrderByTimeThenNamesOfTheUntimed) {
  const std::string late = Tagged("late.jpg", "-DateTimeOriginal='2026:07:14 09:31:08'");
  const std::string early = Tagged("early.jpg",
                                   "-DateTimeOriginal='2026:07:14 09:31:07' "
                                   "-SubSecTimeOriginal=5 -OffsetTimeOriginal=+09:00");
  const std::string earlier = Tagged("earlier.jpg",
                                     "-DateTimeOriginal='2026:07:14 09:31:07' "
                                     "-SubSecTimeOriginal=45 -OffsetTimeOriginal=-09:00");
  const std::string tie = Tagged("a-tie.jpg", "-DateTimeOriginal='2026:07:14 09:31:08'");
  const std::string untimed10 = Write("untimed10.jpg", test::ReadBytes(plain_));
  const std::string untimed9 = Write("untimed9.jpg", test::ReadBytes(plain_));
  const std::string missing = dir_->File("missing.jpg");
  std::vector<std::string> files = {untimed10, late, missing, early, untimed9, tie, earlier};
  files = Ordered(files, FileOrder::Time);
  EXPECT_EQ(files,
            (std::vector<std::string>{earlier, early, late, tie, missing, untimed9, untimed10}));
  std::vector<std::string> given = files;
  given = Ordered(given, FileOrder::AsGiven);
  EXPECT_EQ(given, files);
  // A stop leaves the headers unread and the order as it was.
  std::stop_source stop;
  stop.request_stop();
  std::vector<std::string> stopped = {untimed10, late, early};
  stopped = Ordered(stopped, FileOrder::Time, stop.get_token());
  EXPECT_EQ(stopped, (std::vector<std::string>{untimed10, late, early}));
}

class Lines : public BatchListener {
 public:
  void Line(const std::string& line) override { text += line + "\n"; }
  void Progress(const std::string&) override {}
  void FileFailed(const std::string& path, const Error& error) override {
    text += "skipped " + PictureName(path) + ": " + error.what() + "\n";
  }
  std::string text;
};

TEST_F(CaptureTimeColumn, SortedByTimeEachPhotosExifIsReadOnce) {
  const std::string late = Tagged("once-late.jpg", "-DateTimeOriginal='2026:07:14 09:31:08'");
  const std::string early = Tagged("once-early.jpg",
                                   "-DateTimeOriginal='2026:07:14 09:31:07' "
                                   "-SubSecTimeOriginal=5 -OffsetTimeOriginal=+09:00");
  const std::string untimed = Write("once-untimed.jpg", test::ReadBytes(plain_));
  const std::string missing = dir_->File("once-missing.jpg");
  for (const int jobs : {1, 2}) {
    BatchOptions options;
    options.settings.width = "4";
    options.settings.height = "3";
    options.settings.repeats = "1";  // two runs, one decode
    options.settings.columns = {Column::Time};
    options.settings.order = FileOrder::Time;
    options.files = PathList({untimed, late, missing, early});
    options.keepGoing = true;
    options.jobs = jobs;
    Lines sorted;
    const uint64_t before = ExifReadCount();
    ASSERT_FALSE(RunBatch(options, sorted).fatal);
    // The missing file has no EXIF data to read, sorted or decoded.
    EXPECT_EQ(ExifReadCount() - before, 3u) << jobs;

    // The rows are those of the same files given in that order, whose decodes read the times.
    options.settings.order = FileOrder::AsGiven;
    options.files = PathList({early, late, missing, untimed});
    Lines given;
    ASSERT_FALSE(RunBatch(options, given).fatal);
    EXPECT_EQ(sorted.text, given.text) << jobs;
    EXPECT_NE(given.text.find("\t2026-07-14T09:31:07.5+09:00\n"), std::string::npos) << given.text;
  }
}

}  // namespace
}  // namespace swelox
