// Regions: a region decode gives exactly the pixels of the whole decode, over every kind of file
// and awkward geometries; regions outside the picture and malformed region texts are refused; the
// rows of a region are those of the picture cropped losslessly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>

#include "analysis/ImageAnalysis.h"
#include "analysis/Region.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"
#include "toolkit/ReferenceAnalysis.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::Raster;
using test::TempDir;

// The rows as they arrive; the pad byte of 4-byte pixels is dropped.
class CollectingSink : public RgbRowSink {
 public:
  explicit CollectingSink(int bytesPerPixel) : bytesPerPixel_(bytesPerPixel) {}
  int BytesPerPixel() const override { return bytesPerPixel_; }
  void Begin(int32_t width, int32_t height) override {
    raster = {width, height, std::vector<uint8_t>()};
    raster.rgb.reserve(size_t(width) * height * 3);
  }
  void Row(const uint8_t* pixels) override {
    for (int32_t x = 0; x < raster.width; ++x, pixels += bytesPerPixel_) {
      raster.rgb.insert(raster.rgb.end(), pixels, pixels + 3);
    }
  }
  Raster raster;

 private:
  int bytesPerPixel_;
};

Raster DecodeRegion(const std::vector<uint8_t>& data, const std::optional<PixelRegion>& region,
                    int bytesPerPixel) {
  CollectingSink sink(bytesPerPixel);
  DecodeJpeg(data, sink, {.region = region});
  return sink.raster;
}

Raster Crop(const Raster& whole, const PixelRegion& r) {
  Raster part{r.width, r.height, {}};
  for (int32_t y = r.y; y < r.y + r.height; ++y) {
    const uint8_t* row = whole.pixel(r.x, y);
    part.rgb.insert(part.rgb.end(), row, row + size_t(r.width) * 3);
  }
  return part;
}

// The first differing pixel, for a readable failure.
testing::AssertionResult SameRaster(const Raster& got, const Raster& wanted) {
  if (got.width != wanted.width || got.height != wanted.height) {
    return testing::AssertionFailure() << "size " << got.width << "x" << got.height << ", wanted "
                                       << wanted.width << "x" << wanted.height;
  }
  int differing = 0;
  std::string first;
  for (int32_t y = 0; y < got.height; ++y) {
    for (int32_t x = 0; x < got.width; ++x) {
      if (std::memcmp(got.pixel(x, y), wanted.pixel(x, y), 3) == 0) continue;
      if (differing++ == 0) first = std::to_string(x) + "," + std::to_string(y);
    }
  }
  if (differing == 0) return testing::AssertionSuccess();
  return testing::AssertionFailure() << differing << " pixels differ, first at (" << first << ")";
}

struct Encoding {
  const char* name;
  const char* cjpegOptions;
  bool greyscale;
  double keptShare = 1;  // less than 1: the file cut short inside its scan data
};

void PrintTo(const Encoding& e, std::ostream* out) { *out << e.name; }

class RegionDecode : public testing::TestWithParam<Encoding> {};

// Noisy detail at odd sizes, so that any pixel taken from the wrong neighbours shows.
constexpr int32_t kWidth = 213, kHeight = 171;

TEST_P(RegionDecode, EqualsTheWholeDecodeCropped) {
  const Encoding& e = GetParam();
  const TempDir dir;
  const std::string path = test::EncodeWithCjpeg(
      dir, "p.jpg", test::RandomRaster(kWidth, kHeight, 7), e.cjpegOptions, e.greyscale);
  std::vector<uint8_t> data = ReadWholeFile(path);
  data.resize(size_t(double(data.size()) * e.keptShare));
  const Raster whole = DecodeRegion(data, std::nullopt, 3);
  ASSERT_EQ(whole.width, kWidth);

  const PixelRegion regions[] = {
      {13, 11, 37, 29},                 // odd offsets
      {17, 97, 101, 53},                // far down: rows skipped
      {0, 0, kWidth, kHeight},          // the whole picture
      {0, 40, 30, 20},                  // left edge
      {kWidth - 31, 33, 31, 17},        // right edge
      {50, 0, 40, 9},                   // top edge
      {70, kHeight - 13, 45, 13},       // bottom edge
      {kWidth - 1, kHeight - 1, 1, 1},  // the last pixel
      {0, 77, kWidth, 1},               // one full row
      {101, 0, 1, kHeight},             // one full column
      {150, 5, 3, 160},                 // a narrow band down
      {8, 16, 16, 16},                  // on iMCU boundaries
      {15, 17, 2, 3},                   // inside one iMCU
      {1, 1, kWidth - 2, kHeight - 2},  // all but the border
  };
  for (const PixelRegion& r : regions) {
    for (int bytesPerPixel : {3, 4}) {
      EXPECT_TRUE(SameRaster(DecodeRegion(data, r, bytesPerPixel), Crop(whole, r)))
          << e.name << " region " << r.Text() << " bytes per pixel " << bytesPerPixel;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, RegionDecode,
    testing::Values(Encoding{"Sampling444", "-sample 1x1", false},
                    Encoding{"Sampling422", "-sample 2x1", false},
                    Encoding{"Sampling420", "-sample 2x2", false},
                    Encoding{"Sampling440", "-sample 1x2", false},
                    Encoding{"Sampling411", "-sample 4x1", false},
                    Encoding{"Progressive420", "-sample 2x2 -progressive", false},
                    Encoding{"Progressive444", "-sample 1x1 -progressive", false},
                    Encoding{"Arithmetic420", "-sample 2x2 -arithmetic", false},
                    Encoding{"ArithmeticProgressive", "-sample 2x1 -arithmetic -progressive",
                             false},
                    Encoding{"Restarts420", "-sample 2x2 -restart 1B", false},
                    Encoding{"RestartRows", "-sample 2x2 -restart 1", false},
                    Encoding{"Grey", "", true}, Encoding{"GreyProgressive", "-progressive", true},
                    Encoding{"Truncated420", "-sample 2x2", false, 0.6},
                    Encoding{"TruncatedProgressive", "-sample 2x2 -progressive", false, 0.6}),
    [](const testing::TestParamInfo<Encoding>& tested) { return tested.param.name; });

// The whole decode itself is djpeg's; one region checked against djpeg's crop of its own output.
TEST(RegionDecode, EqualsDjpegsWholePictureCropped) {
  const TempDir dir;
  const std::string path = test::EncodeWithCjpeg(
      dir, "p.jpg", test::RandomRaster(kWidth, kHeight, 9, true), "-sample 2x2");
  const PixelRegion r{29, 45, 120, 80};
  EXPECT_TRUE(
      SameRaster(DecodeRegion(ReadWholeFile(path), r, 4), Crop(test::DecodeWithDjpeg(path), r)));
}

TEST(RegionDecode, RefusesRegionsNotWhollyInsideThePicture) {
  const TempDir dir;
  const std::string path =
      test::EncodeWithCjpeg(dir, "p.jpg", test::RandomRaster(40, 30, 3), "-sample 2x2");
  const std::vector<uint8_t> data = ReadWholeFile(path);
  for (const PixelRegion& r :
       {PixelRegion{1, 0, 40, 30}, PixelRegion{0, 1, 40, 30}, PixelRegion{0, 0, 41, 1},
        PixelRegion{40, 0, 1, 1}, PixelRegion{0, 30, 1, 1}, PixelRegion{2147483647, 0, 1, 1}}) {
    try {
      DecodeRegion(data, r, 3);
      ADD_FAILURE() << r.Text() << " was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()),
                "The region " + r.Text() + " does not lie inside the picture of 40 x 30 pixels");
    }
  }
}

TEST(Region, ParsesGeometryText) {
  struct Case {
    const char* text;
    std::optional<PixelRegion> region;
  };
  const Case good[] = {
      {"300x200+10+20", PixelRegion{10, 20, 300, 200}},
      {"1X1+0+0", PixelRegion{0, 0, 1, 1}},
      {"64x48", PixelRegion{0, 0, 64, 48}},
      {"007x08+09+010", PixelRegion{9, 10, 7, 8}},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"1x1+2147483646+0", PixelRegion{2147483646, 0, 1, 1}},
  };
  for (const Case& c : good) EXPECT_EQ(ParseRegion(c.text), c.region) << c.text;

  for (const char* bad : {"300x200+10", "300x200-10-20", "0x200+1+1", "300x0", "x200+1+1",
                          "300*200+1+1", " 300x200+1+1", "300x200+1+1 ", "300x200++1+1",
                          "2147483648x1", "1x1+2147483647+0", "+1+1", "300x200+1+1+1", "abc"}) {
    try {
      ParseRegion(bad);
      ADD_FAILURE() << "'" << bad << "' was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()),
                "'" + std::string(bad) + "' is not a valid region (WxH+X+Y)");
      EXPECT_EQ(e.scope(), ErrorScope::Settings);
    }
  }
}

// The rows of a region are those of the literal computation on djpeg's whole picture, cropped.
TEST(RegionAnalysis, RowsEqualTheLiteralComputationOnTheCrop) {
  const TempDir dir;
  const std::string path = test::EncodeWithCjpeg(
      dir, "sea.jpg", test::RandomRaster(190, 150, 21, true), "-sample 2x2 -quality 80");
  const Raster whole = test::DecodeWithDjpeg(path);
  for (const PixelRegion& r : {PixelRegion{31, 17, 101, 77}, PixelRegion{0, 0, 190, 150},
                               PixelRegion{5, 100, 185, 50}, PixelRegion{3, 3, 10, 10}}) {
    for (Direction d : {Direction::Below, Direction::Right}) {
      EXPECT_EQ(AnalyseFileRow(path, {"7", "5"}, d, r),
                test::ReferenceRow(Crop(whole, r), 7, 5, d, "sea.jpg"))
          << r.Text();
    }
  }
}

// swelox-cli: the region reaches every file; one that it does not fit is that file's error, and a
// malformed region is a usage error.
TEST(RegionAnalysis, CliAnalysesTheRegionOfEachFile) {
  const TempDir dir;
  const std::string big = test::EncodeWithCjpeg(dir, "big.jpg", test::RandomRaster(90, 70, 4));
  const std::string small = test::EncodeWithCjpeg(dir, "small.jpg", test::RandomRaster(40, 30, 5));
  const std::string cli = std::string(SWELOX_CLI) + " --width 4 --height 3 ";
  const PixelRegion r{10, 20, 50, 40};
  EXPECT_EQ(test::RunCommand(cli + "--region 50x40+10+20 " + test::ShellQuote(big)),
            std::string(kHeaderLine) + "\n" + AnalyseFileRow(big, {"4", "3"}, Direction::Below, r) +
                "\n");

  const std::string out = dir.File("out"), err = dir.File("err");
  auto status = [&](const std::string& arguments) {
    const int s = std::system(
        (cli + arguments + " >" + test::ShellQuote(out) + " 2>" + test::ShellQuote(err)).c_str());
    return WEXITSTATUS(s);
  };
  const auto text = test::ReadText;
  EXPECT_EQ(
      status("-k --region 50x40+10+20 " + test::ShellQuote(small) + " " + test::ShellQuote(big)),
      1);
  EXPECT_EQ(text(out), std::string(kHeaderLine) + "\n" +
                           AnalyseFileRow(big, {"4", "3"}, Direction::Below, r) + "\n");
  EXPECT_EQ(text(err), "swelox-cli: " + small +
                           ": The region 50x40+10+20 does not lie inside the picture of 40 x 30 "
                           "pixels.\n");

  EXPECT_EQ(status("--region 50x40+10 " + test::ShellQuote(big)), 2);
  EXPECT_EQ(text(out), "");
  EXPECT_NE(text(err).find("'50x40+10' is not a valid region (WxH+X+Y)"), std::string::npos);
}

}  // namespace
}  // namespace swelox
