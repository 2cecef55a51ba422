// JPEG decoding: our pixels against djpeg -dct float on files made by cjpeg and by libjpeg's
// compressor, damaged files, refused files and the file-reading errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "core/Errors.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::Raster;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

// ---- Decoding into a raster ----------------------------------------------------------------

// Collects the rows into a raster and keeps count of how the decoder drove it. With 4 bytes per
// pixel the rows carry a pad byte after each pixel, which is dropped.
class RasterSink : public RgbRowSink {
 public:
  explicit RasterSink(int bytesPerPixel = 3) : bytesPerPixel_(bytesPerPixel) {}
  int BytesPerPixel() const override { return bytesPerPixel_; }
  void Begin(int32_t width, int32_t height) override {
    ++begins;
    raster = {width, height, Bytes(size_t(width) * height * 3)};
  }
  void Row(const uint8_t* pixels) override {
    if (begins != 1 || rows >= raster.height) {
      ++misplacedRows;
      return;
    }
    for (int32_t x = 0; x < raster.width; ++x, pixels += bytesPerPixel_) {
      std::memcpy(raster.pixel(x, rows), pixels, 3);
    }
    ++rows;
  }

  Raster raster;
  int begins = 0;
  int32_t rows = 0;
  int misplacedRows = 0;

 private:
  int bytesPerPixel_;
};

testing::AssertionResult SamePixels(const Raster& ours, const Raster& reference);

// Decodes into 3-byte and into 4-byte rows; both must give the same picture.
Raster Decode(std::span<const uint8_t> data) {
  Raster pictures[2];
  for (const int bytesPerPixel : {3, 4}) {
    RasterSink sink(bytesPerPixel);
    DecodeJpeg(data, sink);
    EXPECT_EQ(sink.begins, 1);
    EXPECT_EQ(sink.rows, sink.raster.height) << "every row must reach the sink";
    EXPECT_EQ(sink.misplacedRows, 0) << "rows before Begin or beyond the height";
    pictures[bytesPerPixel - 3] = std::move(sink.raster);
  }
  EXPECT_TRUE(SamePixels(pictures[1], pictures[0])) << "4-byte rows against 3-byte rows";
  return pictures[0];
}

Raster DecodeFile(const std::string& path) { return Decode(ReadWholeFile(path)); }

// The message of the swelox::Error that `work` raises.
std::string ErrorOf(const std::function<void()>& work) {
  try {
    work();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

// The error of decoding the file, the same for both row layouts.
std::string DecodeFileError(const std::string& path) {
  std::string errors[2];
  for (const int bytesPerPixel : {3, 4}) {
    errors[bytesPerPixel - 3] = ErrorOf([&] {
      RasterSink sink(bytesPerPixel);
      DecodeJpeg(ReadWholeFile(path), sink);
    });
  }
  EXPECT_EQ(errors[1], errors[0]) << "4-byte rows against 3-byte rows";
  return errors[0];
}

testing::AssertionResult SamePixels(const Raster& ours, const Raster& reference) {
  if (ours.width != reference.width || ours.height != reference.height) {
    return testing::AssertionFailure()
           << "size " << ours.width << "x" << ours.height << ", reference " << reference.width
           << "x" << reference.height;
  }
  size_t differing = 0, first = 0;
  for (size_t i = 0; i < ours.rgb.size(); ++i) {
    if (ours.rgb[i] != reference.rgb[i] && differing++ == 0) first = i;
  }
  if (differing == 0) return testing::AssertionSuccess();
  const size_t pixel = first / 3;
  return testing::AssertionFailure()
         << differing << " of " << ours.rgb.size() << " samples differ; first at x "
         << pixel % ours.width << " y " << pixel / ours.width << " channel " << first % 3
         << ": ours " << int(ours.rgb[first]) << ", reference " << int(reference.rgb[first]);
}

// Grey output: R = G = B, each one of the 236 levels of libjpeg's one-component colormap.
testing::AssertionResult OnGreyLevels(const Raster& raster) {
  std::array<bool, 256> level{};
  for (int k = 0; k < 236; ++k) level[(255 * k + 117) / 235] = true;
  for (int32_t y = 0; y < raster.height; ++y) {
    for (int32_t x = 0; x < raster.width; ++x) {
      const uint8_t* p = raster.pixel(x, y);
      if (p[0] != p[1] || p[0] != p[2] || !level[p[0]]) {
        return testing::AssertionFailure() << "pixel " << x << "," << y << " is " << int(p[0])
                                           << "," << int(p[1]) << "," << int(p[2]);
      }
    }
  }
  return testing::AssertionSuccess();
}

// djpeg on a file it may warn about (exit status 2): damaged files are decoded all the same.
Raster DecodeDamagedWithDjpeg(const std::string& jpegPath, const std::string& options = "") {
  const TempDir scratch;
  const std::string out = scratch.File("djpeg.pnm");
  const std::string command = std::string(SWELOX_DJPEG) + " -dct float -pnm " + options +
                              " -outfile " + test::ShellQuote(out) + " " +
                              test::ShellQuote(jpegPath) + " 2>/dev/null";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 2))
      << command << " gave status " << status;
  return test::ReadPnm(out);
}

// ---- Pictures and JPEG bytes -----------------------------------------------------------------

// Gentle gradients with noise, `channels` samples per pixel, each channel its own pattern.
Bytes SmoothSamples(int width, int height, int channels, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> phase(0, 6.28), noise(-10, 10);
  std::vector<double> px(channels), py(channels);
  for (int c = 0; c < channels; ++c) px[c] = phase(random), py[c] = phase(random);
  Bytes samples(size_t(width) * height * channels);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const double v = 128 + 90 * std::sin(x * 0.07 + px[c]) * std::cos(y * 0.05 + py[c]);
        samples[(size_t(y) * width + x) * channels + c] =
            static_cast<uint8_t>(std::clamp(v + noise(random), 0.0, 255.0));
      }
    }
  }
  return samples;
}

// A JPEG made with the toolkit's libjpeg encoder from `samples` (`components` per pixel).
Bytes EncodeWithLibjpeg(int width, int height, int components, J_COLOR_SPACE inColorSpace,
                        const Bytes& samples, void (*adjust)(j_compress_ptr) = nullptr,
                        int quality = 90) {
  test::JpegRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.components = components;
  recipe.input = inColorSpace;
  recipe.adjust = adjust;
  recipe.quality = quality;
  return test::Encode(recipe, samples);
}

using test::FindMarker;
using test::Prefix;
using test::ScanDataStart;

size_t FrameHeader(const Bytes& jpeg) {
  return test::FrameHeader(test::HeaderSegments(jpeg)).start;
}

Bytes ComponentIds(const Bytes& jpeg) {
  const size_t sof = FrameHeader(jpeg);
  Bytes ids(jpeg[sof + 9]);
  for (size_t c = 0; c < ids.size(); ++c) ids[c] = jpeg[sof + 10 + 3 * c];
  return ids;
}

bool HasAdobeMarker(const Bytes& jpeg) {
  const size_t app14 = FindMarker(jpeg, 0xEE);
  return app14 != 0 && std::memcmp(&jpeg[app14 + 4], "Adobe", 5) == 0;
}

std::string Written(const TempDir& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir.File(name);
  test::WriteBytes(path, bytes);
  return path;
}

// ---- Pictures made by cjpeg, against djpeg ---------------------------------------------------

struct CjpegCase {
  const char* name;
  int32_t width, height;
  const char* options;
  bool greyscale;
  bool noisy;  // independent random pixels instead of gradients
};

void PrintTo(const CjpegCase& c, std::ostream* out) { *out << c.name; }

Raster SourcePicture(int32_t width, int32_t height, bool noisy) {
  return test::RandomRaster(width, height, uint32_t(width * 131 + height), !noisy);
}

class CjpegPicture : public testing::TestWithParam<CjpegCase> {};

TEST_P(CjpegPicture, MatchesDjpegFloatOutput) {
  const CjpegCase& c = GetParam();
  const TempDir dir;
  const std::string path = test::EncodeWithCjpeg(
      dir, "picture.jpg", SourcePicture(c.width, c.height, c.noisy), c.options, c.greyscale);
  const Raster ours = DecodeFile(path);
  EXPECT_EQ(ours.width, c.width);
  EXPECT_EQ(ours.height, c.height);
  if (c.greyscale) {
    EXPECT_TRUE(SamePixels(ours, test::DecodeWithDjpeg(path, "-colors 236")));
    EXPECT_TRUE(OnGreyLevels(ours));
  } else {
    EXPECT_TRUE(SamePixels(ours, test::DecodeWithDjpeg(path)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    JpegDecoder, CjpegPicture,
    testing::Values(
        CjpegCase{"Baseline420", 97, 61, "-quality 85 -sample 2x2", false, false},
        CjpegCase{"Baseline422", 97, 61, "-quality 85 -sample 2x1", false, false},
        CjpegCase{"Baseline440", 97, 61, "-quality 85 -sample 1x2", false, false},
        CjpegCase{"Baseline444", 97, 61, "-quality 85 -sample 1x1", false, false},
        CjpegCase{"Noisy420", 80, 48, "-quality 95 -sample 2x2", false, true},
        CjpegCase{"Quality10ExtendedTables", 80, 48, "-quality 10", false, false},
        CjpegCase{"OptimizedHuffman", 80, 48, "-optimize", false, false},
        CjpegCase{"Progressive420", 97, 61, "-progressive -sample 2x2", false, false},
        CjpegCase{"Progressive444", 97, 61, "-progressive -sample 1x1", false, true},
        CjpegCase{"RestartEveryRow", 97, 61, "-restart 1", false, false},
        CjpegCase{"RestartEvery5Blocks", 97, 61, "-restart 5B -sample 2x1", false, false},
        CjpegCase{"Arithmetic", 97, 61, "-arithmetic", false, false},
        CjpegCase{"ArithmeticProgressive", 97, 61, "-arithmetic -progressive", false, true},
        CjpegCase{"PlainRgb", 97, 61, "-rgb", false, false},
        CjpegCase{"Odd17x9", 17, 9, "-sample 2x2", false, true},
        CjpegCase{"Odd17x9Progressive422", 17, 9, "-progressive -sample 2x1", false, true},
        CjpegCase{"OnePixel420", 1, 1, "-sample 2x2", false, false},
        CjpegCase{"OnePixel444", 1, 1, "-sample 1x1", false, false},
        CjpegCase{"OnePixelHigh420", 45, 1, "-sample 2x2", false, true},
        CjpegCase{"OnePixelHigh422", 45, 1, "-sample 2x1", false, true},
        CjpegCase{"OnePixelWide420", 1, 45, "-sample 2x2", false, true},
        CjpegCase{"OnePixelWide440", 1, 45, "-sample 1x2", false, true},
        CjpegCase{"Grey", 97, 61, "", true, false},
        CjpegCase{"GreyNoisy", 80, 48, "-quality 95", true, true},
        CjpegCase{"GreyProgressive", 97, 61, "-progressive", true, false},
        CjpegCase{"GreyArithmeticRestart", 97, 61, "-arithmetic -restart 2", true, false},
        CjpegCase{"Grey17x9", 17, 9, "", true, true},
        CjpegCase{"GreyOnePixel", 1, 1, "", true, false},
        CjpegCase{"GreyOnePixelHigh", 50, 1, "", true, true},
        CjpegCase{"GreyOnePixelWide", 1, 50, "", true, true}),
    [](const auto& tested) { return std::string(tested.param.name); });

// The comparisons above only mean something if the pictures tell the decoder settings apart: the
// integer DCTs, plain upsampling and the other dithers must each give other pixels than ours.
TEST(JpegDecoder, TestPicturesTellOtherDecoderSettingsApart) {
  const TempDir dir;
  const std::string colour =
      test::EncodeWithCjpeg(dir, "colour.jpg", SourcePicture(97, 61, false), "-sample 2x2");
  const std::string grey =
      test::EncodeWithCjpeg(dir, "grey.jpg", SourcePicture(97, 61, false), "", true);
  const Raster oursColour = DecodeFile(colour);
  const Raster oursGrey = DecodeFile(grey);
  const struct {
    const std::string& path;
    const Raster& ours;
    const char* djpegOptions;
  } others[] = {
      {colour, oursColour, "-dct int"},
      {colour, oursColour, "-dct fast"},
      {colour, oursColour, "-nosmooth"},
      {grey, oursGrey, "-colors 236 -dither none"},
      {grey, oursGrey, "-colors 236 -dither ordered"},
      {grey, oursGrey, ""},
  };
  for (const auto& other : others) {
    const Raster reference = test::DecodeWithDjpeg(other.path, other.djpegOptions);
    EXPECT_FALSE(SamePixels(other.ours, reference)) << "djpeg " << other.djpegOptions;
  }
}

// A progressive file holds the same coefficients as its baseline twin: once all scans are in,
// block smoothing has nothing to do and the pictures agree.
TEST(JpegDecoder, ProgressiveDecodesLikeItsBaselineTwin) {
  const TempDir dir;
  for (const bool greyscale : {false, true}) {
    const Raster source = SourcePicture(90, 70, false);
    const Raster baseline =
        DecodeFile(test::EncodeWithCjpeg(dir, "baseline.jpg", source, "-sample 2x2", greyscale));
    const Raster progressive = DecodeFile(test::EncodeWithCjpeg(
        dir, "progressive.jpg", source, "-sample 2x2 -progressive", greyscale));
    EXPECT_TRUE(SamePixels(progressive, baseline)) << (greyscale ? "grey" : "colour");
  }
}

// ---- Plain RGB files: the channels stay where they are ---------------------------------------

struct RgbCase {
  const char* name;
  void (*adjust)(j_compress_ptr);
  bool adobe;
  uint8_t ids[3];
};

void PrintTo(const RgbCase& c, std::ostream* out) { *out << c.name; }

void FullChroma(j_compress_ptr c) {
  c->comp_info[0].h_samp_factor = c->comp_info[0].v_samp_factor = 1;
}

class ThreeComponentFile : public testing::TestWithParam<RgbCase> {};

TEST_P(ThreeComponentFile, KeepsEachChannelInItsPlace) {
  const RgbCase& c = GetParam();
  const int width = 64, height = 40;
  const Bytes samples = SmoothSamples(width, height, 3, 7);
  const Bytes jpeg = EncodeWithLibjpeg(width, height, 3, JCS_RGB, samples, c.adjust, 100);
  ASSERT_EQ(HasAdobeMarker(jpeg), c.adobe);
  ASSERT_EQ(ComponentIds(jpeg), Bytes(c.ids, c.ids + 3));

  const TempDir dir;
  const std::string path = Written(dir, "rgb.jpg", jpeg);
  const Raster ours = DecodeFile(path);
  EXPECT_TRUE(SamePixels(ours, test::DecodeWithDjpeg(path)));
  // At quality 100 each channel comes back close to its source; a swapped or converted channel
  // would be off by tens.
  for (int channel = 0; channel < 3; ++channel) {
    long error = 0;
    for (size_t i = channel; i < samples.size(); i += 3)
      error += std::abs(ours.rgb[i] - samples[i]);
    EXPECT_LT(double(error) / (width * height), 3.0) << "channel " << channel;
  }
}

INSTANTIATE_TEST_SUITE_P(JpegDecoder, ThreeComponentFile,
                         testing::Values(RgbCase{"YCbCrWithJfif", FullChroma, false, {1, 2, 3}},
                                         RgbCase{"AdobeTransform0AndRgbIds",
                                                 [](j_compress_ptr c) {
                                                   jpeg_set_colorspace(c, JCS_RGB);
                                                 },
                                                 true,
                                                 {'R', 'G', 'B'}},
                                         RgbCase{"AdobeTransform0Only",
                                                 [](j_compress_ptr c) {
                                                   jpeg_set_colorspace(c, JCS_RGB);
                                                   for (int i = 0; i < 3; ++i)
                                                     c->comp_info[i].component_id = i + 1;
                                                 },
                                                 true,
                                                 {1, 2, 3}},
                                         RgbCase{"RgbIdsOnly",
                                                 [](j_compress_ptr c) {
                                                   jpeg_set_colorspace(c, JCS_RGB);
                                                   c->write_Adobe_marker = FALSE;
                                                 },
                                                 false,
                                                 {'R', 'G', 'B'}}),
                         [](const auto& tested) { return std::string(tested.param.name); });

// ---- CMYK and YCCK files ---------------------------------------------------------------------

struct FourComponentCase {
  const char* name;
  int width, height;
  void (*adjust)(j_compress_ptr);
};

void PrintTo(const FourComponentCase& c, std::ostream* out) { *out << c.name; }

class FourComponentFile : public testing::TestWithParam<FourComponentCase> {};

// djpeg writes CMYK output to a PPM as R = C x K / 255 rounded (and likewise G, B), the Adobe
// convention that viewers follow.
TEST_P(FourComponentFile, BecomesRgbLikeDjpegsPpm) {
  const FourComponentCase& c = GetParam();
  const Bytes jpeg = EncodeWithLibjpeg(c.width, c.height, 4, JCS_CMYK,
                                       SmoothSamples(c.width, c.height, 4, 11), c.adjust);
  ASSERT_TRUE(HasAdobeMarker(jpeg));
  const TempDir dir;
  const std::string path = Written(dir, "four.jpg", jpeg);
  EXPECT_TRUE(SamePixels(DecodeFile(path), test::DecodeWithDjpeg(path)));
}

INSTANTIATE_TEST_SUITE_P(
    JpegDecoder, FourComponentFile,
    testing::Values(FourComponentCase{"Cmyk", 61, 37, nullptr},
                    FourComponentCase{"CmykProgressive", 61, 37, jpeg_simple_progression},
                    FourComponentCase{"CmykOnePixelHigh", 30, 1, nullptr},
                    FourComponentCase{"Ycck", 61, 37,
                                      [](j_compress_ptr c) { jpeg_set_colorspace(c, JCS_YCCK); }},
                    FourComponentCase{"Ycck17x9Progressive", 17, 9,
                                      [](j_compress_ptr c) {
                                        jpeg_set_colorspace(c, JCS_YCCK);
                                        jpeg_simple_progression(c);
                                      }}),
    [](const auto& tested) { return std::string(tested.param.name); });

// Solid blocks at quality 100 come back exactly, so the conversion can be checked by hand.
TEST(JpegDecoder, CmykColoursAreProductsWithTheKey) {
  const struct {
    uint8_t cmyk[4];
    uint8_t rgb[3];
  } colours[] = {
      {{200, 100, 50, 180}, {141, 71, 35}},  // 141.18, 70.59, 35.29
      {{255, 128, 0, 255}, {255, 128, 0}},   // K = 255: no black ink
      {{255, 255, 255, 0}, {0, 0, 0}},       // K = 0: full black ink
      {{1, 254, 128, 128}, {1, 127, 64}},    // 0.502, 127.498, 64.25
  };
  for (const auto& colour : colours) {
    Bytes samples(16 * 16 * 4);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = colour.cmyk[i % 4];
    const Raster ours = Decode(EncodeWithLibjpeg(16, 16, 4, JCS_CMYK, samples, nullptr, 100));
    ASSERT_EQ(ours.rgb.size(), 16u * 16 * 3);
    EXPECT_EQ(Bytes(ours.pixel(5, 9), ours.pixel(5, 9) + 3), Bytes(colour.rgb, colour.rgb + 3))
        << "CMYK " << int(colour.cmyk[0]) << " " << int(colour.cmyk[1]) << " "
        << int(colour.cmyk[2]) << " " << int(colour.cmyk[3]);
  }
}

TEST(JpegDecoder, RefusesTwoAndMoreThanFourComponents) {
  for (const int components : {2, 5}) {
    // An interleaved scan holds at most four components: five need one scan each.
    const auto scanEach = [](j_compress_ptr c) {
      static jpeg_scan_info scans[MAX_COMPONENTS];
      for (int i = 0; i < c->num_components; ++i) scans[i] = {1, {i}, 0, 63, 0, 0};
      c->scan_info = scans;
      c->num_scans = c->num_components;
    };
    const Bytes jpeg = EncodeWithLibjpeg(24, 16, components, JCS_UNKNOWN,
                                         SmoothSamples(24, 16, components, 3), scanEach);
    ASSERT_EQ(ComponentIds(jpeg).size(), size_t(components));
    for (const int bytesPerPixel : {3, 4}) {
      RasterSink sink(bytesPerPixel);
      EXPECT_EQ(
          ErrorOf([&] { DecodeJpeg(jpeg, sink); }),
          "JPEG files with " + std::to_string(components) + " colour components are not supported");
      EXPECT_EQ(sink.begins, 0);
    }
  }
}

// ---- Damaged and unusual files ---------------------------------------------------------------

struct DamageCase {
  const char* name;
  const char* cjpegOptions;
  bool greyscale;
  Bytes (*damage)(const Bytes& jpeg);
  bool sameAsIntact;  // the damage must not show in the picture
};

void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

Bytes CutScanData(const Bytes& jpeg, double fraction) {
  const size_t start = ScanDataStart(jpeg);
  return Prefix(jpeg, start + size_t(fraction * double(jpeg.size() - start)));
}

class DamagedFile : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedFile, DecodesToFullSizeLikeDjpeg) {
  const DamageCase& c = GetParam();
  const TempDir dir;
  const std::string intactPath = test::EncodeWithCjpeg(
      dir, "intact.jpg", SourcePicture(160, 120, true), c.cjpegOptions, c.greyscale);
  const Bytes damaged = c.damage(test::ReadBytes(intactPath));
  const std::string path = Written(dir, "damaged.jpg", damaged);

  Raster ours;
  EXPECT_EQ(ErrorOf([&] { ours = DecodeFile(path); }), "(no error)");
  EXPECT_EQ(ours.width, 160);
  EXPECT_EQ(ours.height, 120);
  if (c.greyscale) {
    EXPECT_TRUE(OnGreyLevels(ours));
  }
  EXPECT_TRUE(SamePixels(ours, DecodeDamagedWithDjpeg(path, c.greyscale ? "-colors 236" : "")));
  const Raster intact = DecodeFile(intactPath);
  if (c.sameAsIntact) {
    EXPECT_TRUE(SamePixels(ours, intact));
  } else {
    EXPECT_FALSE(SamePixels(ours, intact)) << "the damage should show";
  }
}

Bytes CutHalfway(const Bytes& j) { return CutScanData(j, 0.5); }
Bytes CutEarly(const Bytes& j) { return CutScanData(j, 0.03); }
Bytes CutAt30Percent(const Bytes& j) { return CutScanData(j, 0.3); }
Bytes CutAt80Percent(const Bytes& j) { return CutScanData(j, 0.8); }
Bytes CutAtTwoSourceBlocks(const Bytes& j) { return Prefix(j, 2 * 4096); }
Bytes CutAtScanStart(const Bytes& j) { return Prefix(j, ScanDataStart(j)); }
Bytes WithoutEndMarker(const Bytes& j) { return Prefix(j, j.size() - 2); }

Bytes WithGarbageAfterEnd(const Bytes& j) {
  Bytes longer(j.size() + 5000, 0x5A);
  std::copy(j.begin(), j.end(), longer.begin());
  return longer;
}

// 65533 bytes of an unknown application segment just before the quantization tables: libjpeg
// skips it over many source blocks and must land exactly on the next marker.
Bytes WithLongApp1Segment(const Bytes& j) {
  const size_t at = FindMarker(j, 0xDB);
  EXPECT_NE(at, 0u);
  const size_t segment = 2 + 0xFFFF;
  Bytes longer(j.size() + segment, 0x33);
  std::copy(j.begin(), j.begin() + at, longer.begin());
  const uint8_t header[] = {0xFF, 0xE1, 0xFF, 0xFF};
  std::copy(std::begin(header), std::end(header), longer.begin() + at);
  std::copy(j.begin() + at, j.end(), longer.begin() + at + segment);
  return longer;
}

// Renumbers the third restart marker by `step`: libjpeg's resynchronisation decides what follows.
Bytes WithRestartNumberMovedBy(const Bytes& j, int step) {
  Bytes bad = j;
  int seen = 0;
  for (size_t i = ScanDataStart(bad); i + 1 < bad.size(); ++i) {
    if (bad[i] == 0xFF && bad[i + 1] >= 0xD0 && bad[i + 1] <= 0xD7 && ++seen == 3) {
      bad[i + 1] = uint8_t(0xD0 + ((bad[i + 1] - 0xD0 + step) & 7));
      break;
    }
  }
  EXPECT_EQ(seen, 3) << "too few restart markers";
  return bad;
}

// The next number makes libjpeg drop a restart interval; one four ahead it takes as the expected
// one.
Bytes WithNextRestartNumber(const Bytes& j) { return WithRestartNumberMovedBy(j, 1); }
Bytes WithFarRestartNumber(const Bytes& j) { return WithRestartNumberMovedBy(j, 4); }

// Garbles 40 bytes a third into the scan data. It never makes a 0xFF byte and leaves the byte
// after one alone, so no marker appears or disappears.
Bytes WithCorruptScanBytes(const Bytes& j) {
  Bytes bad = j;
  const size_t start = ScanDataStart(bad) + (bad.size() - ScanDataStart(bad)) / 3;
  for (size_t i = start; i < start + 40; ++i) {
    if (bad[i - 1] != 0xFF) bad[i] = uint8_t((bad[i] ^ 0x5C) & 0xFE);
  }
  return bad;
}

INSTANTIATE_TEST_SUITE_P(
    JpegDecoder, DamagedFile,
    testing::Values(
        DamageCase{"TruncatedBaselineHalfway", "-sample 2x2", false, CutHalfway, false},
        DamageCase{"TruncatedBaselineEarly", "-sample 1x1", false, CutEarly, false},
        DamageCase{"TruncatedWithRestarts", "-restart 1", false, CutHalfway, false},
        DamageCase{"TruncatedProgressiveEarly", "-progressive", false, CutAt30Percent, false},
        DamageCase{"TruncatedProgressiveLate", "-progressive", false, CutAt80Percent, false},
        DamageCase{"TruncatedGrey", "", true, CutHalfway, false},
        DamageCase{"TruncatedGreyProgressive", "-progressive", true, CutHalfway, false},
        DamageCase{"TruncatedAtSourceBlockBoundary", "-sample 1x1", false, CutAtTwoSourceBlocks,
                   false},
        DamageCase{"TruncatedAtScanStart", "", false, CutAtScanStart, false},
        DamageCase{"WithoutEndMarker", "-sample 2x2", false, WithoutEndMarker, true},
        DamageCase{"GarbageAfterEnd", "", false, WithGarbageAfterEnd, true},
        DamageCase{"LongApp1Segment", "", false, WithLongApp1Segment, true},
        DamageCase{"NextRestartNumber", "-restart 1", false, WithNextRestartNumber, false},
        DamageCase{"FarRestartNumber", "-restart 1", false, WithFarRestartNumber, true},
        DamageCase{"CorruptScanBytes", "-sample 2x2", false, WithCorruptScanBytes, false}),
    [](const auto& tested) { return std::string(tested.param.name); });

// ---- Failures --------------------------------------------------------------------------------

Bytes SmallJpeg(bool progressive = false) {
  return EncodeWithLibjpeg(40, 30, 3, JCS_RGB, SmoothSamples(40, 30, 3, 5),
                           progressive ? jpeg_simple_progression : nullptr);
}

Bytes WithFrameSize(Bytes jpeg, unsigned width, unsigned height) {
  const size_t sof = FrameHeader(jpeg);
  jpeg[sof + 5] = uint8_t(height >> 8), jpeg[sof + 6] = uint8_t(height);
  jpeg[sof + 7] = uint8_t(width >> 8), jpeg[sof + 8] = uint8_t(width);
  return jpeg;
}

struct FailureCase {
  const char* name;
  Bytes (*contents)();
  const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class BadFile : public testing::TestWithParam<FailureCase> {};

TEST_P(BadFile, FailsWithLibjpegsCode) {
  const FailureCase& c = GetParam();
  const TempDir dir;
  EXPECT_EQ(DecodeFileError(Written(dir, "bad.jpg", c.contents())), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    JpegDecoder, BadFile,
    testing::Values(
        FailureCase{"TextFile",
                    [] {
                      const std::string text = "Sea state 3, no sightings.\n";
                      return Bytes(text.begin(), text.end());
                    },
                    "JPEG error #53"},
        FailureCase{"OneByte", [] { return Bytes{0xFF}; }, "JPEG error #53"},
        FailureCase{"Empty", [] { return Bytes{}; }, "JPEG error #42"},
        FailureCase{"OnlyStartOfImage",
                    [] {
                      return Bytes{0xFF, 0xD8};
                    },
                    "JPEG error #51"},
        FailureCase{"EndsBeforeFrameHeader",
                    [] {
                      const Bytes j = SmallJpeg();
                      return Prefix(j, FrameHeader(j));
                    },
                    "JPEG error #51"},
        // After the frame header libjpeg reports a missing scan marker instead.
        FailureCase{"EndsBeforeFirstScan",
                    [] {
                      const Bytes j = SmallJpeg();
                      return Prefix(j, FindMarker(j, 0xDA));
                    },
                    "JPEG error #59"},
        FailureCase{"EndsInsideLongApp1Segment",
                    [] {
                      Bytes j = {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF};
                      j.resize(20000, 0x33);
                      return j;
                    },
                    "JPEG error #51"},
        FailureCase{"WidthAboveLibjpegsLimit", [] { return WithFrameSize(SmallJpeg(), 65501, 30); },
                    "JPEG error #41"},
        FailureCase{"ZeroHeight", [] { return WithFrameSize(SmallJpeg(), 40, 0); },
                    "JPEG error #32"},
        // The coefficients of a 65500 x 65500 progressive picture would need about 25 GB.
        FailureCase{"ProgressiveBeyondMemoryLimit",
                    [] { return WithFrameSize(SmallJpeg(true), 65500, 65500); }, "JPEG error #49"}),
    [](const auto& tested) { return std::string(tested.param.name); });

// libjpeg's own explanation travels with the error, with its parameters filled in; errors of
// the program's own have none.
TEST(JpegDecoder, ErrorsCarryLibjpegsExplanation) {
  struct Case {
    Bytes contents;
    std::string message;
    std::string detail;
  };
  const std::string text = "hello";
  const Case cases[] = {
      {Bytes(text.begin(), text.end()), "JPEG error #53", "Not a JPEG file: starts with 0x68 0x65"},
      {Bytes{}, "JPEG error #42", "Empty input file"},
      {WithFrameSize(SmallJpeg(), 65501, 30), "JPEG error #41",
       "Maximum supported image dimension is 65500 pixels"},
  };
  for (const Case& c : cases) {
    RasterSink sink(3);
    try {
      DecodeJpeg(c.contents, sink);
      ADD_FAILURE() << "decoded: " << c.message;
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), c.message);
      EXPECT_EQ(e.detail(), c.detail);
    }
  }
}

// Errors raised by the sink come out of DecodeJpeg unchanged, whenever they happen.
TEST(JpegDecoder, SinkErrorsReachTheCaller) {
  class FailingSink : public RgbRowSink {
   public:
    FailingSink(int failAt, int bytesPerPixel) : failAt_(failAt), bytesPerPixel_(bytesPerPixel) {}
    int BytesPerPixel() const override { return bytesPerPixel_; }
    void Begin(int32_t, int32_t) override {
      if (failAt_ < 0) throw Error("refused at Begin");
    }
    void Row(const uint8_t*) override {
      if (rows_++ == failAt_) throw Error("refused at row " + std::to_string(failAt_));
    }

   private:
    int failAt_;
    int bytesPerPixel_;
    int rows_ = 0;
  };
  const TempDir dir;
  const Bytes colour = SmallJpeg();
  const Bytes grey = test::ReadBytes(
      test::EncodeWithCjpeg(dir, "grey.jpg", SourcePicture(40, 30, false), "", true));
  for (const Bytes* jpeg : {&colour, &grey}) {
    for (const int bytesPerPixel : {3, 4}) {
      for (const int failAt : {-1, 0, 17, 29}) {
        FailingSink sink(failAt, bytesPerPixel);
        EXPECT_EQ(ErrorOf([&] { DecodeJpeg(*jpeg, sink); }),
                  failAt < 0 ? "refused at Begin" : "refused at row " + std::to_string(failAt));
      }
    }
  }
}

std::string OpenError(const std::string& path, const char* reason) {
  return "Cannot open file \"" + path + "\". " + reason;
}

TEST(JpegDecoder, MissingPathsAreReportedWithTheirAbsolutePath) {
  const TempDir dir;
  const std::string inDir = dir.File("missing.jpg");
  const struct {
    std::string path, shown;
  } cases[] = {
      {inDir, inDir},
      {dir.File("sub/../missing.jpg"), inDir},
      {dir.File("./missing.jpg"), inDir},
      {"no-such-swelox-picture.jpg",
       (std::filesystem::current_path() / "no-such-swelox-picture.jpg").string()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf([&] { ReadWholeFile(c.path); }), OpenError(c.shown, std::strerror(ENOENT)))
        << c.path;
  }
}

TEST(JpegDecoder, RefusesWhatIsNotARegularFile) {
  const TempDir dir;
  EXPECT_EQ(ErrorOf([&] { ReadWholeFile(dir.path().string()); }),
            OpenError(dir.path().string(), std::strerror(EISDIR)));
  EXPECT_EQ(ErrorOf([&] { ReadWholeFile("/dev/null"); }),
            OpenError("/dev/null", "Not a regular file"));

  // A FIFO without a writer would block a plain open or read.
  const std::string fifo = dir.File("pipe.jpg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  auto result =
      std::async(std::launch::async, [&] { return ErrorOf([&] { ReadWholeFile(fifo); }); });
  if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ADD_FAILURE() << "reading a FIFO blocks";
    ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // release the reader
  }
  EXPECT_EQ(result.get(), OpenError(fifo, "Not a regular file"));
}

TEST(JpegDecoder, ReadsTheWholeFile) {
  const TempDir dir;
  for (const size_t size : {size_t(0), size_t(1), size_t(4096), size_t(300001)}) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + i / 251);
    EXPECT_EQ(ReadWholeFile(Written(dir, "file.bin", bytes)), bytes) << size << " bytes";
  }
}

// sysfs files claim a whole page but hold a few bytes: fewer arrive than the file's size.
TEST(JpegDecoder, ShortReadIsAStreamReadError) {
  const std::string path = "/sys/devices/system/cpu/online";
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      test::ReadBytes(path).size() >= size_t(info.st_size)) {
    GTEST_SKIP() << "no sysfs file that is shorter than its size";
  }
  EXPECT_EQ(ErrorOf([&] { ReadWholeFile(path); }), "Stream read error");
}

// ---- The sample photographs ------------------------------------------------------------------

std::vector<std::string> ExamplePhotos() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(SWELOX_EXAMPLES)) {
    if (entry.path().extension() == ".jpg") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ExamplePhoto : public testing::TestWithParam<std::string> {};

TEST_P(ExamplePhoto, MatchesDjpegFloatOutput) {
  const std::string path = std::string(SWELOX_EXAMPLES) + "/" + GetParam();
  EXPECT_TRUE(SamePixels(DecodeFile(path), test::DecodeWithDjpeg(path)));
}

INSTANTIATE_TEST_SUITE_P(JpegDecoder, ExamplePhoto, testing::ValuesIn(ExamplePhotos()),
                         [](const auto& tested) {
                           std::string name = tested.param.substr(0, tested.param.rfind('.'));
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace swelox
