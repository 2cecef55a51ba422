// Broken and crafted files through the engine, each with the message it must give: files that are
// not JPEGs, damaged headers, pictures whose size libjpeg refuses, component counts the decoder
// refuses, and the arithmetic limits of the analysis (overflowing area and sums, zero and
// negative sizes).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>

extern "C" {
#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>
}

#include "analysis/ImageAnalysis.h"
#include "core/IntegerText.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/ReferenceAnalysis.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::Bytes;
using test::TempDir;

std::string RowOrError(const std::string& path, const std::string& w, const std::string& h,
                       Direction d = Direction::Below) {
  try {
    return AnalyseFileRow(path, {w, h}, d);
  } catch (const Error& e) {
    return std::string("error: ") + e.what();
  }
}

std::string JpegError(int code) { return "error: JPEG error #" + std::to_string(code); }

// A small, ordinary baseline file that the cases below damage.
const Bytes& Baseline() {
  static const Bytes jpeg = [] {
    TempDir dir;
    return test::ReadBytes(
        test::EncodeWithCjpeg(dir, "base.jpg", test::RandomRaster(48, 32, 5, true), "-quality 90"));
  }();
  return jpeg;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes FrameByte(size_t offset, uint8_t value) {
  Bytes jpeg = Baseline();
  jpeg[test::FrameHeader(test::HeaderSegments(jpeg)).start + offset] = value;
  return jpeg;
}

struct BadFile {
  const char* what;
  std::function<Bytes()> bytes;
  std::string expected;
};

void PrintTo(const BadFile& c, std::ostream* out) { *out << c.what; }

class BadFiles : public testing::TestWithParam<BadFile> {};

TEST_P(BadFiles, GiveTheirMessageForEverySizeAndDirection) {
  const BadFile& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("picture.jpg");
  test::WriteBytes(path, c.bytes());
  for (Direction d : {Direction::Below, Direction::Right}) {
    // A decoding error comes before any error of the sizes.
    for (auto [w, h] : {std::pair{"15", "12"}, {"1", "1"}, {"0", "5"}, {"-4", "3"}, {"x", "1"}}) {
      EXPECT_EQ(RowOrError(path, w, h, d), c.expected) << w << "x" << h;
    }
  }
}

const std::vector<BadFile> kBadFiles = {
    {"empty", [] { return Bytes(); }, JpegError(JERR_INPUT_EMPTY)},
    {"loneMarkerByte", [] { return Bytes{0xFF}; }, JpegError(JERR_NO_SOI)},
    {"text", [] { return test::ToBytes("Not a photograph.\n"); }, JpegError(JERR_NO_SOI)},
    {"png", [] { return test::ToBytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR"); }, JpegError(JERR_NO_SOI)},
    {"ppm", [] { return test::ToBytes("P6\n2 2\n255\n012345678901"); }, JpegError(JERR_NO_SOI)},
    {"zeros", [] { return Bytes(10000, 0); }, JpegError(JERR_NO_SOI)},
    {"startMarkerOnly",
     [] {
       return Bytes{0xFF, 0xD8};
     },
     JpegError(JERR_NO_IMAGE)},
    {"startAndEndOnly",
     [] {
       return Bytes{0xFF, 0xD8, 0xFF, 0xD9};
     },
     JpegError(JERR_NO_IMAGE)},
    {"startMarkerTwice",
     [] {
       return Concat({{0xFF, 0xD8}, Baseline()});
     },
     JpegError(JERR_SOI_DUPLICATE)},
    {"noScan",
     [] {
       const Bytes& b = Baseline();
       return Concat({test::Prefix(b, test::HeaderSegments(b).back().start), {0xFF, 0xD9}});
     },
     JpegError(JERR_SOF_NO_SOS)},
    {"cutInFrameHeader",
     [] {
       const Bytes& b = Baseline();
       return test::Prefix(b, test::FrameHeader(test::HeaderSegments(b)).start + 6);
     },
     JpegError(JERR_BAD_LENGTH)},
    {"zeroWidth", [] { return test::WithPictureSize(Baseline(), 0, 32); },
     JpegError(JERR_EMPTY_IMAGE)},
    {"zeroHeight", [] { return test::WithPictureSize(Baseline(), 48, 0); },
     JpegError(JERR_EMPTY_IMAGE)},
    {"widthBeyondLibjpegsLimit", [] { return test::WithPictureSize(Baseline(), 65501, 32); },
     JpegError(JERR_IMAGE_TOO_BIG)},
    {"heightBeyondLibjpegsLimit", [] { return test::WithPictureSize(Baseline(), 48, 65535); },
     JpegError(JERR_IMAGE_TOO_BIG)},
    {"twelveBitSamples", [] { return FrameByte(4, 12); }, JpegError(JERR_BAD_PRECISION)},
    {"noComponents", [] { return FrameByte(9, 0); }, JpegError(JERR_EMPTY_IMAGE)},
    {"twoFrameHeaders",
     [] {
       const Bytes& b = Baseline();
       const test::Segment f = test::FrameHeader(test::HeaderSegments(b));
       Bytes frame(b.begin() + f.start, b.begin() + f.end);
       Bytes twice = b;
       twice.insert(twice.begin() + f.end, frame.begin(), frame.end());
       return twice;
     },
     JpegError(JERR_SOF_DUPLICATE)},
    {"progressiveClaimingHugePicture",
     [] {
       TempDir dir;
       const Bytes p = test::ReadBytes(test::EncodeWithCjpeg(
           dir, "p.jpg", test::RandomRaster(16, 16, 3, true), "-progressive"));
       return test::HeaderOnly(test::WithPictureSize(p, 65500, 65500));
     },
     JpegError(JERR_NO_BACKING_STORE)},
    {"twoComponents", [] { return test::EncodeWithLibjpeg(16, 16, 2, JCS_UNKNOWN, JCS_UNKNOWN); },
     "error: JPEG files with 2 colour components are not supported"},
    {"twoComponentsProgressive",
     [] { return test::EncodeWithLibjpeg(16, 16, 2, JCS_UNKNOWN, JCS_UNKNOWN, true); },
     "error: JPEG files with 2 colour components are not supported"},
};

INSTANTIATE_TEST_SUITE_P(Files, BadFiles, testing::ValuesIn(kBadFiles),
                         [](const auto& tested) { return std::string(tested.param.what); });

// The rectangle positions along one side, x = 0, step, 2 step, ... while x < limit.
int32_t Positions(int32_t limit, int32_t step) {
  int32_t n = 0;
  for (int64_t x = 0; x < limit; x += step) ++n;
  return n;
}

// A file with a header and no scan data decodes to a uniform grey picture of the size it claims:
// brightness 128 everywhere, so every comparison gives 0 and all rectangles but the first of
// each column (or row) are compared.
TEST(MissingScanData, GivesTheUniformGreyPictureOfTheClaimedSize) {
  TempDir dir;
  const std::string path = dir.File("header.jpg");
  for (const char* options : {"-sample 2x2", "-sample 1x1", "-grayscale", "-rgb"}) {
    for (auto [w, h] : {std::pair{100, 80}, {257, 3}, {3000, 40}, {31, 4000}}) {
      SCOPED_TRACE(std::string(options) + " " + std::to_string(w) + " x " + std::to_string(h));
      test::WriteBytes(path, test::GreyClaim(uint16_t(w), uint16_t(h), options));
      const int32_t across = Positions(w - 1 - 15, 15), down = Positions(h - 1 - 12, 12);
      const int32_t below = across > 0 && down > 0 ? across * (down - 1) : 0;
      const int32_t right = across > 0 && down > 0 ? down * (across - 1) : 0;
      const std::string start =
          std::to_string(w - 2) + "\t" + std::to_string(h - 2) + "\t15\t12\t0\t0\t";
      EXPECT_EQ(RowOrError(path, "15", "12"), start + std::to_string(below) + "\theader.jpg");
      EXPECT_EQ(RowOrError(path, "15", "12", Direction::Right),
                start + std::to_string(right) + "\theader.jpg");
    }
  }
}

// A progressive file may repeat a scan any number of times, and every scan is a pass over the
// whole picture: a few bytes a scan must not buy minutes of work. Files with more scans than any
// encoder writes are refused, before they cost more than a moment; up to the limit they decode.
Bytes GreyProgressive(int32_t size) {
  TempDir dir;
  return test::ReadBytes(test::EncodeWithCjpeg(
      dir, "p.jpg", test::RandomRaster(size, size, 8, true), "-grayscale -progressive", true));
}

TEST(ManyScans, UpToTheLimitDecode) {
  TempDir dir;
  const std::string path = dir.File("scans.jpg");
  // cjpeg's greyscale script has 6 scans.
  test::WriteBytes(path, test::WithRepeatedLastScan(GreyProgressive(64), 250));
  // djpeg warns of the repeated scans (exit status 2) and writes the picture all the same.
  const std::string pnm = dir.File("scans.pgm");
  const int status = std::system((std::string(SWELOX_DJPEG) + " -dct float -colors 236 -outfile " +
                                  test::ShellQuote(pnm) + " " + test::ShellQuote(path))
                                     .c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
  EXPECT_EQ(RowOrError(path, "4", "3"),
            test::ReferenceRow(test::ReadPnm(pnm), 4, 3, Direction::Below, "scans.jpg"));
}

TEST(ManyScans, BeyondTheLimitAreRefused) {
  TempDir dir;
  const std::string path = dir.File("scans.jpg");
  test::WriteBytes(path, test::WithRepeatedLastScan(GreyProgressive(64), 251));
  EXPECT_EQ(RowOrError(path, "15", "12"),
            "error: JPEG files with more than 256 scans are not supported");
}

TEST(ManyScans, ThousandsOfScansOverALargePictureAreRefusedQuickly) {
  TempDir dir;
  const std::string path = dir.File("scans.jpg");
  // 10,000 scans of 8192 x 8192 pixels in a file of 0.2 MB: over a minute of passes. Those of
  // cjpeg's script and a few repeats already pass over the picture 16 times.
  test::WriteBytes(path, test::WithPictureSize(
                             test::WithRepeatedLastScan(GreyProgressive(16), 10000), 8192, 8192));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RowOrError(path, "15", "12"),
            "error: JPEG files whose scans pass over the picture more than 16 times are not "
            "supported");
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took.count(), 30);
  std::cout << "10,000 scans of 8192 x 8192: refused after " << took.count() << " s\n";
}

// A picture of horizontal stripes, two rows white and two black: with 1 x 1 rectangles every
// comparison down the picture is 510 brightness steps, 8160 sixteenths, so the sum of the absolute
// differences passes 2^31 on a picture of about 350,000 pixels; across the stripes nothing
// changes.
const std::string& Stripes(int32_t size) {
  static std::map<int32_t, std::string> files;
  static TempDir dir;
  if (!files.count(size)) {
    test::Raster raster = test::SolidRaster(size, size, 0, 0, 0);
    for (int32_t y = 0; y < size; ++y) {
      if (y % 4 >= 2) continue;
      for (int32_t x = 0; x < size; ++x) std::fill_n(raster.pixel(x, y), 3, 255);
    }
    files[size] = test::EncodeWithCjpeg(dir, "stripes" + std::to_string(size) + ".jpg", raster,
                                        "-quality 100 -sample 1x1");
  }
  return files[size];
}

struct SizeCase {
  const char* what;
  std::function<std::string()> file;
  std::string width, height;
  Direction direction;
  // "error: ..."; or the row's first seven columns (the file name follows); or, when empty, the
  // row of the literal computation on djpeg's pixels.
  std::string expected;
};

void PrintTo(const SizeCase& c, std::ostream* out) { *out << c.what; }

class RectangleSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(RectangleSizes, GiveTheirRowOrMessage) {
  const SizeCase& c = GetParam();
  const std::string path = c.file();
  const std::string name = std::filesystem::path(path).filename().string();
  std::string expected = c.expected;
  if (expected.empty()) {
    expected = test::ReferenceRow(test::DecodeWithDjpeg(path), std::stoi(c.width),
                                  std::stoi(c.height), c.direction, name);
    ASSERT_EQ(expected.rfind("error: ", 0), std::string::npos) << expected;
  } else if (expected.rfind("error: ", 0) != 0) {
    expected += "\t" + name;
  }
  EXPECT_EQ(RowOrError(path, c.width, c.height, c.direction), expected);
}

const std::string& Small() {
  static TempDir dir;
  static const std::string path = [] {
    const std::string p = dir.File("small.jpg");
    test::WriteBytes(p, Baseline());
    return p;
  }();
  return path;
}

// A claim of `w` x `h` pixels with no scan data: grey 128 everywhere.
std::string GreyClaim(uint16_t w, uint16_t h) {
  static TempDir dir;
  const std::string path = dir.File("grey" + std::to_string(w) + "x" + std::to_string(h) + ".jpg");
  test::WriteBytes(path, test::GreyClaim(w, h));
  return path;
}

const std::string kOverflow = "error: Integer overflow";
const std::string kZero = "error: Division by zero";
const auto kBelow = Direction::Below;
const auto kRight = Direction::Right;

const std::vector<SizeCase> kSizeCases = {
    // W x H must fit 32 bits: 46340^2 does, 46341^2 does not.
    {"areaJustFits", Small, "46340", "46340", kBelow, "46\t30\t46340\t46340\t0\t0\t0"},
    {"areaOverflows", Small, "46341", "46341", kBelow, kOverflow},
    {"areaOverflowsAt2To31", Small, "65536", "32768", kRight, kOverflow},
    {"areaLargestWidth", Small, "2147483647", "1", kBelow, "46\t30\t2147483647\t1\t0\t0\t0"},
    {"areaOverflowsHex", Small, "$10000", "$10000", kBelow, kOverflow},
    // The block sums: (W + 1) x (H + 1) cells of brightness 128 pass 2^31 from 4096 x 4096 on.
    {"blockSumFits", [] { return GreyClaim(4202, 4202); }, "4000", "4000", kBelow,
     "4200\t4200\t4000\t4000\t0\t0\t0"},
    {"blockSumOverflows", [] { return GreyClaim(4202, 4202); }, "4200", "4200", kBelow, kOverflow},
    {"blockSumOverflowsRight", [] { return GreyClaim(4202, 4202); }, "4200", "4200", kRight,
     kOverflow},
    // The sum of the absolute differences.
    {"sumOfDifferencesFits", [] { return Stripes(300); }, "1", "1", kBelow, ""},
    {"sumOfDifferencesOverflows", [] { return Stripes(1000); }, "1", "1", kBelow, kOverflow},
    {"sumOfDifferencesAcrossStripes", [] { return Stripes(1000); }, "1", "1", kRight, ""},
    {"twoByTwoOnStripes", [] { return Stripes(1000); }, "2", "2", kBelow, ""},
    // Zero sides divide by zero, also when the other side would overflow the area.
    {"zeroWidth", Small, "0", "12", kBelow, kZero},
    {"zeroHeight", Small, "15", "0", kRight, kZero},
    {"zeroBoth", Small, "0", "0", kBelow, kZero},
    {"zeroWidthHugeHeight", Small, "0", "2147483647", kBelow, kZero},
    {"hugeWidthZeroHeight", Small, "2147483647", "0", kBelow, kZero},
    // Negative sides are refused, naming the side and its value, before any other check.
    {"negativeWidth", Small, "-1", "12", kBelow,
     "error: The rectangle width must be positive, not -1"},
    {"negativeHeight", Small, "15", "-12", kRight,
     "error: The rectangle height must be positive, not -12"},
    {"negativeWidthZeroHeight", Small, "-5", "0", kBelow,
     "error: The rectangle width must be positive, not -5"},
    {"zeroWidthNegativeHeight", Small, "0", "-5", kBelow,
     "error: The rectangle height must be positive, not -5"},
    {"mostNegativeWidth", Small, "-2147483648", "1", kBelow,
     "error: The rectangle width must be positive, not -2147483648"},
    {"negativeHex", Small, "15", "$FFFFFFFF", kBelow,
     "error: The rectangle height must be positive, not -1"},
    {"negativeBothOverflowingArea", Small, "-65536", "-65536", kBelow,
     "error: The rectangle width must be positive, not -65536"},
    // Texts that are not 32-bit integers.
    {"widthTooLarge", Small, "2147483648", "12", kBelow,
     "error: '2147483648' is not a valid integer value"},
    {"heightHuge", Small, "15", "99999999999999999999", kBelow,
     "error: '99999999999999999999' is not a valid integer value"},
    {"widthNineHexDigits", Small, "$100000000", "12", kBelow,
     "error: '$100000000' is not a valid integer value"},
};

INSTANTIATE_TEST_SUITE_P(Sizes, RectangleSizes, testing::ValuesIn(kSizeCases),
                         [](const auto& tested) { return std::string(tested.param.what); });

}  // namespace
}  // namespace swelox
