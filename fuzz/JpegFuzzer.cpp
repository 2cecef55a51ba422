// libFuzzer target: arbitrary bytes through the JPEG decoder and the per-picture analysis, and
// through the EXIF reader of the capture time.
//
// For every input the decoder must either deliver a whole picture (Begin once, then exactly
// `height` rows) or raise one of its own errors; the analysis of the same bytes from a file must
// agree with it, in both directions and for several rectangle sizes, and every row it gives
// must equal the literal computation (tests/ReferenceAnalysis) on the decoded pixels. The bytes
// are also read as an EXIF segment, and the file's capture time, read from its header alone and
// from the decode, must agree and be a well-formed ISO 8601 time. Anything else aborts, which
// libFuzzer reports as a crash together with the input.
#include <fcntl.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "analysis/ImageAnalysis.h"
#include "core/Errors.h"
#include "imaging/CaptureTime.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"
#include "toolkit/ReferenceAnalysis.h"

namespace {

// Pictures larger than this are skipped: libjpeg decodes a truncated picture in full, so a tiny
// input that claims a huge picture would only make the fuzzer slow. The command-line tests cover
// such claims.
constexpr uint64_t kMaxPixels = uint64_t{1} << 18;

const std::vector<swelox::RectangleTexts> kSizes = {
    {"15", "12"}, {"1", "1"}, {"4", "3"}, {"2", "9"}, {"7", "1"}};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "swelox fuzz: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void Require(bool condition, const std::string& what) {
  if (!condition) Fail(what);
}

// The picture size in the header, read with libjpeg's own parser; nullopt when there is no
// complete header (the decoder then fails, which is checked below).
struct HeaderJump {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void HeaderErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<HeaderJump*>(cinfo->err)->jump, 1);
}
void HeaderMessage(j_common_ptr, int) {}

// Kept free of objects with destructors: a longjmp leaves it.
bool ReadHeaderSize(const uint8_t* data, size_t size, uint64_t* pixels) {
  jpeg_decompress_struct cinfo;
  HeaderJump errors;
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = HeaderErrorExit;
  errors.pub.emit_message = HeaderMessage;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  *pixels = uint64_t{cinfo.image_width} * cinfo.image_height;
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// Collects the picture and checks the order of the calls.
class RasterSink : public swelox::RgbRowSink {
 public:
  explicit RasterSink(int bytesPerPixel) : bytesPerPixel_(bytesPerPixel) {}

  void Begin(int32_t width, int32_t height) override {
    Require(!begun_, "Begin called twice");
    Require(width > 0 && height > 0,
            "Begin with " + std::to_string(width) + " x " + std::to_string(height));
    begun_ = true;
    raster_.width = width;
    raster_.height = height;
    raster_.rgb.reserve(static_cast<size_t>(width) * height * 3);
  }
  void Row(const uint8_t* pixels) override {
    Require(begun_, "Row before Begin");
    Require(rows_ < raster_.height, "more rows than the picture's height");
    ++rows_;
    for (int32_t x = 0; x < raster_.width; ++x, pixels += bytesPerPixel_) {
      raster_.rgb.insert(raster_.rgb.end(), pixels, pixels + 3);
    }
  }
  int BytesPerPixel() const override { return bytesPerPixel_; }

  bool complete() const { return begun_ && rows_ == raster_.height; }
  const swelox::test::Raster& raster() const { return raster_; }

 private:
  const int bytesPerPixel_;
  bool begun_ = false;
  int32_t rows_ = 0;
  swelox::test::Raster raster_;
};

// What the decoder may raise.
bool IsDecoderMessage(const std::string& message) {
  static const std::regex known(
      "JPEG error #[0-9]+|Out of memory|"
      "JPEG files with [0-9]+ colour components are not supported|"
      "JPEG files with more than [0-9]+ scans are not supported");
  return std::regex_match(message, known);
}

std::optional<std::string> Decode(const uint8_t* data, size_t size, RasterSink& sink) {
  try {
    swelox::DecodeJpeg({data, size}, sink);
  } catch (const swelox::Error& e) {
    Require(IsDecoderMessage(e.what()), std::string("unexpected decoder error: ") + e.what());
    return std::string(e.what());
  }
  Require(sink.complete(), "decoding ended without the whole picture");
  return std::nullopt;
}

// The row of the literal computation, or "error: MESSAGE".
std::string ReferenceRow(const swelox::test::Grid& grid, const swelox::test::Raster& raster,
                         const swelox::RectangleTexts& size, swelox::Direction direction,
                         const std::string& name) {
  const int32_t w = std::stoi(size.width), h = std::stoi(size.height);
  try {
    const swelox::NoiseFigures f =
        swelox::test::ReferenceStatistics(grid, raster.width, raster.height, w, h, direction);
    return swelox::FormatRow(raster.width, raster.height, w, h, f, name);
  } catch (const swelox::Error& e) {
    return std::string("error: ") + e.what();
  }
}

// A capture time as the reader may give it: date and time, then sub-second digits, then an
// offset, with a sort key of the date's 14 digits and the sub-seconds without trailing zeros.
void RequireWellFormed(const std::optional<swelox::CaptureTime>& time) {
  if (!time) return;
  static const std::regex iso(
      "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\\.[0-9]+)?([+-][0-9]{2}:[0-9]{2})?");
  Require(std::regex_match(time->text, iso), "malformed capture time: " + time->text);
  const std::string& key = time->sortKey;
  Require(key.size() >= 14 && key.find_first_not_of("0123456789") == std::string::npos &&
              (key.size() == 14 || key.back() != '0'),
          "malformed sort key: " + key);
}

std::string g_inputPath;

void WriteInput(const uint8_t* data, size_t size) {
  const int fd = ::open(g_inputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  Require(fd >= 0, "cannot write " + g_inputPath);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    Require(n > 0, "cannot write " + g_inputPath);
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

void RemoveInput() { ::unlink(g_inputPath.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_inputPath = (std::filesystem::temp_directory_path() /
                 ("swelox-fuzz-" + std::to_string(::getpid()) + ".jpg"))
                    .string();
  std::atexit(RemoveInput);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t pixels = 0;
  if (ReadHeaderSize(data, size, &pixels) && pixels > kMaxPixels) return -1;

  // The decoder's two row layouts must carry the same pixels.
  RasterSink packed(3), padded(4);
  const std::optional<std::string> failure = Decode(data, size, packed);
  const std::optional<std::string> paddedFailure = Decode(data, size, padded);
  Require(failure == paddedFailure, "the padded rows decode differently");
  Require(failure || packed.raster() == padded.raster(), "the padded rows hold other pixels");

  const swelox::test::Grid grid =
      failure ? swelox::test::Grid() : swelox::test::ReferenceGrid(packed.raster());
  WriteInput(data, size);
  const std::string name = std::filesystem::path(g_inputPath).filename().string();
  // The bytes as an EXIF segment's payload, and as one after the "Exif" header.
  RequireWellFormed(swelox::CaptureTimeFromExif({data, size}));
  std::vector<uint8_t> segment = {'E', 'x', 'i', 'f', 0, 0};
  segment.insert(segment.end(), data, data + std::min<size_t>(size, 65533 - 6));
  RequireWellFormed(swelox::CaptureTimeFromExif(segment));

  // The time column: the header alone and the decode read the same time, and the row is the
  // plain row with the time after it.
  std::optional<swelox::CaptureTime> headTime;
  try {
    swelox::PictureFile file(g_inputPath);
    headTime = swelox::ReadCaptureTime(file);
  } catch (const swelox::Error& e) {
    Fail(std::string("reading the capture time raised ") + e.what());
  }
  RequireWellFormed(headTime);
  static const swelox::Column kTime[] = {swelox::Column::Time};
  const std::vector<swelox::RowOutcome> timed = swelox::AnalyseFile(
      g_inputPath, {kSizes.data(), 1}, swelox::Direction::Below, std::nullopt, kTime);
  const std::vector<swelox::RowOutcome> plain =
      swelox::AnalyseFile(g_inputPath, {kSizes.data(), 1}, swelox::Direction::Below);
  Require(timed.front().error.has_value() == plain.front().error.has_value(),
          "the time column changes whether the analysis fails");
  if (!plain.front().error) {
    Require(timed.front().row == plain.front().row + "\t" + (headTime ? headTime->text : ""),
            "the row with its time is\n  " + timed.front().row + "\nnot the row\n  " +
                plain.front().row + "\nwith the header's time");
  }

  for (swelox::Direction direction : {swelox::Direction::Below, swelox::Direction::Right}) {
    const std::vector<swelox::RowOutcome> outcomes =
        swelox::AnalyseFile(g_inputPath, kSizes, direction);
    Require(outcomes.size() == kSizes.size(), "one outcome per size");
    for (size_t k = 0; k < kSizes.size(); ++k) {
      const std::string got =
          outcomes[k].error ? std::string("error: ") + outcomes[k].error->what() : outcomes[k].row;
      const std::string expected =
          failure ? "error: " + *failure
                  : ReferenceRow(grid, packed.raster(), kSizes[k], direction, name);
      Require(got == expected, "size " + kSizes[k].width + "x" + kSizes[k].height +
                                   (direction == swelox::Direction::Right ? " right" : " below") +
                                   ": analysis gave\n  " + got + "\nexpected\n  " + expected);
    }
  }
  return 0;
}
