// Whole pictures: the engine's rows against the literal computation on djpeg's pixels, one decode
// for many sizes, the order of errors, and the row format.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "analysis/ImageAnalysis.h"
#include "core/PrintableText.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"
#include "toolkit/ReferenceAnalysis.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::Raster;
using test::TempDir;

std::string RowOrError(const std::string& path, const std::string& w, const std::string& h,
                       Direction d) {
  try {
    return AnalyseFileRow(path, {w, h}, d);
  } catch (const Error& e) {
    return std::string("error: ") + e.what();
  }
}

struct Variant {
  const char* name;
  int32_t width, height;
  const char* cjpegOptions;
  bool greyscale;
};

void PrintTo(const Variant& v, std::ostream* out) { *out << v.name; }

class AnalysisAgainstReference : public testing::TestWithParam<Variant> {};

TEST_P(AnalysisAgainstReference, RowsEqualTheLiteralComputation) {
  const Variant& v = GetParam();
  TempDir dir;
  const Raster source = test::RandomRaster(v.width, v.height, v.width * 7 + v.height, true);
  const std::string path = test::EncodeWithCjpeg(dir, v.name, source, v.cjpegOptions, v.greyscale);
  const Raster decoded = test::DecodeWithDjpeg(path, v.greyscale ? "-colors 236" : "");
  ASSERT_EQ(decoded.width, v.width);

  const std::vector<RectangleTexts> sizes = {{"15", "12"}, {"1", "1"}, {"4", "9"},  {"30", "24"},
                                             {"7", "3"},   {"0", "3"}, {"1", "100"}};
  for (Direction d : {Direction::Below, Direction::Right}) {
    const std::vector<RowOutcome> outcomes = AnalyseFile(path, sizes, d);
    ASSERT_EQ(outcomes.size(), sizes.size());
    for (size_t k = 0; k < sizes.size(); ++k) {
      const int32_t w = std::stoi(sizes[k].width), h = std::stoi(sizes[k].height);
      const std::string got =
          outcomes[k].error ? std::string("error: ") + outcomes[k].error->what() : outcomes[k].row;
      EXPECT_EQ(got, test::ReferenceRow(decoded, w, h, d, v.name))
          << v.name << " " << w << "x" << h << " right=" << (d == Direction::Right);
      // One decode for all sizes gives what one decode per size gives.
      EXPECT_EQ(got, RowOrError(path, sizes[k].width, sizes[k].height, d));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, AnalysisAgainstReference,
    testing::Values(Variant{"baseline420.jpg", 203, 97, "-quality 85 -sample 2x2", false},
                    Variant{"baseline444.jpg", 64, 80, "-quality 95 -sample 1x1", false},
                    Variant{"progressive.jpg", 150, 61, "-progressive", false},
                    Variant{"restarts.jpg", 99, 70, "-restart 1 -sample 2x1", false},
                    Variant{"grey.jpg", 120, 90, "-grayscale", true},
                    Variant{"tiny.jpg", 3, 3, "", false}, Variant{"line.jpg", 40, 1, "", false},
                    Variant{"column.jpg", 1, 40, "", false}),
    [](const auto& tested) {
      std::string name = tested.param.name;
      return name.substr(0, name.find('.'));
    });

// Collects decoded rows as RGB, whatever layout it asked the decoder for.
class CollectingSink : public RgbRowSink {
 public:
  explicit CollectingSink(int bytesPerPixel) : bytesPerPixel_(bytesPerPixel) {}
  int BytesPerPixel() const override { return bytesPerPixel_; }
  void Begin(int32_t width, int32_t height) override {
    raster.width = width;
    raster.height = height;
  }
  void Row(const uint8_t* pixels) override {
    for (int32_t x = 0; x < raster.width; ++x) {
      raster.rgb.insert(raster.rgb.end(), pixels + x * bytesPerPixel_,
                        pixels + x * bytesPerPixel_ + 3);
    }
  }
  Raster raster;

 private:
  int bytesPerPixel_;
};

TEST_P(AnalysisAgainstReference, PaddedRowsCarryTheSamePixels) {
  const Variant& v = GetParam();
  TempDir dir;
  const std::string path = test::EncodeWithCjpeg(
      dir, v.name, test::RandomRaster(v.width, v.height, 5, true), v.cjpegOptions, v.greyscale);
  const std::vector<uint8_t> data = ReadWholeFile(path);
  CollectingSink plain(3), padded(4);
  DecodeJpeg(data, plain);
  DecodeJpeg(data, padded);
  EXPECT_EQ(padded.raster, plain.raster);
  EXPECT_EQ(plain.raster, test::DecodeWithDjpeg(path, v.greyscale ? "-colors 236" : ""));
}

TEST(ImageAnalysis, SamplePhotosMatchTheLiteralComputation) {
  for (const char* name : {"by-the-water.jpg", "evening-glow-lake.jpg"}) {
    const std::string path = std::string(SWELOX_EXAMPLES) + "/" + name;
    const Raster decoded = test::DecodeWithDjpeg(path);
    for (Direction d : {Direction::Below, Direction::Right}) {
      EXPECT_EQ(RowOrError(path, "15", "12", d), test::ReferenceRow(decoded, 15, 12, d, name));
      EXPECT_EQ(RowOrError(path, "60", "48", d), test::ReferenceRow(decoded, 60, 48, d, name));
    }
  }
}

TEST(ImageAnalysis, ARectangleTooBigForThePictureGivesZeros) {
  TempDir dir;
  const std::string path =
      test::EncodeWithCjpeg(dir, "small.jpg", test::RandomRaster(10, 10, 1), "-quality 90");
  EXPECT_EQ(RowOrError(path, "15", "12", Direction::Below), "8\t8\t15\t12\t0\t0\t0\tsmall.jpg");
  const std::string line =
      test::EncodeWithCjpeg(dir, "line.jpg", test::RandomRaster(30, 1, 2), "-quality 90");
  EXPECT_EQ(RowOrError(line, "15", "12", Direction::Right), "28\t-1\t15\t12\t0\t0\t0\tline.jpg");
}

TEST(ImageAnalysis, AFileThatFailsToDecodeIsReportedBeforeBadSizes) {
  TempDir dir;
  const std::string text = dir.File("notes.jpg");
  test::WriteBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
  EXPECT_EQ(RowOrError(text, "abc", "12", Direction::Below), "error: JPEG error #53");
  EXPECT_EQ(RowOrError(text, "-1", "0", Direction::Below), "error: JPEG error #53");

  const std::string good =
      test::EncodeWithCjpeg(dir, "good.jpg", test::RandomRaster(50, 40, 3), "-quality 90");
  EXPECT_EQ(RowOrError(good, "abc", "xyz", Direction::Below),
            "error: 'abc' is not a valid integer value");
  EXPECT_EQ(RowOrError(good, "15", " 12 ", Direction::Below),
            "error: ' 12 ' is not a valid integer value");
  EXPECT_EQ(RowOrError(good, "-3", "xyz", Direction::Below),
            "error: 'xyz' is not a valid integer value");
  EXPECT_EQ(RowOrError(good, "-3", "4", Direction::Below),
            "error: The rectangle width must be positive, not -3");
  EXPECT_EQ(RowOrError(good, "0", "4", Direction::Below), "error: Division by zero");
  EXPECT_EQ(RowOrError(good, "$10000", "$8000", Direction::Below), "error: Integer overflow");
  EXPECT_EQ(RowOrError(good, " $F", "0x0c", Direction::Below),
            RowOrError(good, "15", "12", Direction::Below));

  // A bad size fails only its own row.
  const std::vector<RectangleTexts> sizes = {{"abc", "12"}, {"15", "12"}};
  const std::vector<RowOutcome> outcomes = AnalyseFile(good, sizes, Direction::Below);
  ASSERT_TRUE(outcomes[0].error);
  EXPECT_EQ(outcomes[0].error->scope(), ErrorScope::Settings);
  EXPECT_FALSE(outcomes[1].error);
  EXPECT_EQ(outcomes[1].row, RowOrError(good, "15", "12", Direction::Below));
}

TEST(ImageAnalysis, SmallRectanglesOnALargePictureOverflowTheSums) {
  // Noise at W = H = 1 sums |d| of up to 16320 over millions of rectangles.
  TempDir dir;
  const std::string path =
      test::EncodeWithCjpeg(dir, "noise.jpg", test::RandomRaster(1500, 1200, 4), "-quality 100");
  const std::vector<RectangleTexts> sizes = {{"1", "1"}, {"15", "12"}};
  const std::vector<RowOutcome> outcomes = AnalyseFile(path, sizes, Direction::Below);
  ASSERT_TRUE(outcomes[0].error);
  EXPECT_STREQ(outcomes[0].error->what(), "Integer overflow");
  EXPECT_EQ(outcomes[0].error->scope(), ErrorScope::File);
  EXPECT_FALSE(outcomes[1].error);
}

TEST(PictureName, IsTheLastPathComponentWithControlCharactersEscaped) {
  EXPECT_EQ(PictureName("/a/b/Location 26 12 08.jpg"), "Location 26 12 08.jpg");
  EXPECT_EQ(PictureName("plain.jpg"), "plain.jpg");
  EXPECT_EQ(PictureName("C:\\x.jpg"), "C:\\\\x.jpg");
  EXPECT_EQ(PictureName("dir/a\tb\nc\rd.jpg"), "a\\tb\\nc\\rd.jpg");
  EXPECT_EQ(PictureName("dir/\xff\xfe.jpg"), "\\xFF\\xFE.jpg");
  EXPECT_EQ(PictureName("dir/\x1b[2J\x7f~.jpg"), "\\x1B[2J\\x7F~.jpg");
}

// Every ASCII byte below 0x20 and 0x7F is escaped, and every byte from 0x80 up that stands
// alone (none of them begins or continues a character here); only rows double the backslash.
TEST(EscapeControlBytes, EscapesEveryByteThatIsNotPrintable) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string escaped = EscapeControlBytes(all, Backslash::AsItIs);
  std::string expected;
  const char* hex = "0123456789ABCDEF";
  for (int c = 0; c < 256; ++c) {
    if (c == '\t') {
      expected += "\\t";
    } else if (c == '\n') {
      expected += "\\n";
    } else if (c == '\r') {
      expected += "\\r";
    } else if (c < 0x20 || c >= 0x7F) {
      expected += std::string("\\x") + hex[c / 16] + hex[c % 16];
    } else {
      expected += static_cast<char>(c);
    }
  }
  EXPECT_EQ(escaped, expected);
  EXPECT_EQ(EscapeControlBytes(std::string("a\0b", 3), Backslash::AsItIs), "a\\x00b");
  EXPECT_EQ(EscapeControlBytes("C:\\x", Backslash::AsItIs), "C:\\x");
  EXPECT_EQ(EscapeControlBytes("C:\\x", Backslash::Doubled), "C:\\\\x");
}

// The C1 controls (U+0080 to U+009F) written in UTF-8 are two bytes, C2 80 to C2 9F; a terminal
// acts on them as on their C0 counterparts (C2 9B opens a control sequence), so both bytes are
// escaped. A byte that is not part of a well-formed character (0x9B alone is the 8-bit CSI; a
// cut, overlong or surrogate sequence; Latin-1 text) is escaped on its own. Printable
// characters of two, three and four bytes stay as they are.
TEST(EscapeControlBytes, EscapesWhatIsNotPrintableUtf8) {
  const struct {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"a\xC2\x9B"
       "31mb",
       "a\\xC2\\x9B31mb"},                           // CSI
      {"\xC2\x80\xC2\x9F", "\\xC2\\x80\\xC2\\x9F"},  // the first and the last
      {"\xC2\x9D"
       "0;title\xC2\x9C",
       "\\xC2\\x9D"
       "0;title\\xC2\\x9C"},                                       // OSC ... ST
      {"\xC2\xA0\xC2\xA9\xC2\x7F", "\xC2\xA0\xC2\xA9\\xC2\\x7F"},  // NBSP, (c), C2 then DEL
      {"\xE2\x80\x99\xC3\xA9", "\xE2\x80\x99\xC3\xA9"},            // continuation bytes 80 and A9
      {"\xF0\x9F\x90\x8B", "\xF0\x9F\x90\x8B"},                    // a whale, four bytes
      {"\xEF\xBF\xBD\xF4\x8F\xBF\xBF", "\xEF\xBF\xBD\xF4\x8F\xBF\xBF"},  // U+FFFD, U+10FFFF
      {"\x9B"
       "2J",
       "\\x9B2J"},                                            // the 8-bit CSI alone
      {"a\x85z", "a\\x85z"},                                  // NEL alone
      {"\x9B\xC2", "\\x9B\\xC2"},                             // a lone continuation; C2 at the end
      {"\xC2\xC2\x85", "\\xC2\\xC2\\x85"},                    // NEL after a lone C2
      {"caf\xE9.jpg", "caf\\xE9.jpg"},                        // Latin-1
      {"\xC0\xAF\xE0\x80\xAF", "\\xC0\\xAF\\xE0\\x80\\xAF"},  // overlong "/"
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                    // a surrogate
      {"\xF4\x90\x80\x80\xF8", "\\xF4\\x90\\x80\\x80\\xF8"},  // past U+10FFFF; no lead
      {"\xE2\x82", "\\xE2\\x82"},                             // cut at the end
      {"\xE2\x82z\xE2\x82\xAC", "\\xE2\\x82z\xE2\x82\xAC"},   // cut, then the euro sign
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeControlBytes(c.text, Backslash::AsItIs), c.escaped) << c.escaped;
  }
  EXPECT_EQ(PictureName("d/\xC2\x9B"
                        "2J\\.jpg"),
            "\\xC2\\x9B2J\\\\.jpg");
}

// A table's Source column is read back to the path it was written from: every byte, and the
// backslashes a row doubles, come back; a backslash that starts no escape is kept as it is.
TEST(UnescapeControlBytes, GivesBackWhatARowEscaped) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string texts[] = {all,
                               "photos/IMG_0001.jpg",
                               "C:\\x41\\t\\",
                               "a\tb\nc\rd",
                               "\xC2\x9B"
                               "2J\\.jpg",
                               "caf\xE9 \xE2\x82\xAC.jpg"};
  for (const std::string& text : texts) {
    EXPECT_EQ(UnescapeControlBytes(EscapeControlBytes(text, Backslash::Doubled)), text) << text;
  }
  const struct {
    std::string escaped;
    std::string text;
  } cases[] = {
      {"\\\\x41", "\\x41"},  // a doubled backslash, then the letters
      {"\\x4a\\x4A", "JJ"},  // lower-case or upper-case hex alike
      {"\\x4", "\\x4"},      // one hex digit: no escape
      {"\\xG1", "\\xG1"},    // no hex digit
      {"\\q", "\\q"},        // no escape
      {"end\\", "end\\"},    // a backslash at the end
      {"\\\\\\n", "\\\n"},   // a doubled backslash, then a line feed
  };
  for (const auto& c : cases) EXPECT_EQ(UnescapeControlBytes(c.escaped), c.text) << c.escaped;
}

TEST(ErrorFromException, KeepsErrorsAndNamesEverythingElse) {
  auto from = [](auto thrown) {
    try {
      throw thrown;
    } catch (...) {
      return ErrorFromException(std::current_exception());
    }
  };
  const Error settings = from(Error("Integer overflow", ErrorScope::Settings));
  EXPECT_STREQ(settings.what(), "Integer overflow");
  EXPECT_EQ(settings.scope(), ErrorScope::Settings);
  EXPECT_STREQ(from(std::bad_alloc()).what(), "Out of memory");
  EXPECT_STREQ(from(std::runtime_error("odd")).what(), "odd");
  EXPECT_STREQ(from(42).what(), "Unknown error");
  EXPECT_EQ(from(42).scope(), ErrorScope::File);
}

TEST(FormatRow, TabSeparatedDecimalsWithoutATrailingTab) {
  EXPECT_EQ(FormatRow(100, 80, 15, 12, {5, 6, 7}, "/x/y.jpg"), "98\t78\t15\t12\t5\t6\t7\ty.jpg");
}

}  // namespace
}  // namespace swelox
