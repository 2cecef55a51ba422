// JPEG files for tests and the fuzzer's seeds: one libjpeg encoder for files that cjpeg cannot
// make (any component count, sampling, coding), and byte-level surgery on the marker segments of
// the header (a new picture size, a file cut where its scan data begins, repeated scans).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace swelox::test {

using Bytes = std::vector<uint8_t>;

// A marker segment: `start` at its 0xFF, `end` just past it (for a start-of-scan marker, past
// the scan header, where the entropy-coded data begins).
struct Segment {
  uint8_t marker;
  size_t start;
  size_t end;
};

// The segments from the one after the start-of-image marker up to the first start-of-scan.
std::vector<Segment> HeaderSegments(const Bytes& jpeg);
// Where the first segment with `marker` starts among those, or 0 when there is none.
size_t FindMarker(const Bytes& jpeg, uint8_t marker);
// Where the first scan's entropy-coded data begins.
size_t ScanDataStart(const Bytes& jpeg);
// The first frame header (SOF0 .. SOF15 but DHT, JPG and DAC).
Segment FrameHeader(const std::vector<Segment>& segments);

// The same file claiming another picture size.
Bytes WithPictureSize(Bytes jpeg, uint16_t width, uint16_t height);
// The file up to and including the first scan header, no scan data, no end marker.
Bytes HeaderOnly(const Bytes& jpeg);
Bytes Prefix(const Bytes& bytes, size_t length);

// The file with `copies` more copies of its last scan (its header and its data) before the end
// marker. libjpeg takes a repeated progressive scan with no more than a warning, and each scan
// costs a pass over the whole picture's coefficients.
Bytes WithRepeatedLastScan(const Bytes& jpeg, size_t copies);

// How libjpeg's compressor codes a crafted file.
struct JpegRecipe {
  int width = 16;
  int height = 16;
  int components = 3;                  // samples per pixel of the input
  J_COLOR_SPACE input = JCS_RGB;       // what the samples are (JCS_UNKNOWN allows any count)
  std::optional<J_COLOR_SPACE> coded;  // what the file holds; libjpeg's choice when not given
  // Runs after the defaults and the coded colour space, before everything below.
  void (*adjust)(j_compress_ptr) = nullptr;
  int quality = 75;
  const char* sampling = "";  // "HxV,HxV,..." per component, or "" for libjpeg's default
  bool progressive = false;
  bool arithmetic = false;
  bool optimize = false;
  int restartBlocks = 0;    // restart interval in MCUs
  int restartRows = 0;      // restart interval in MCU rows
  bool adobeMarker = true;  // the Adobe marker that libjpeg writes for RGB, CMYK and YCCK
};

// A JPEG made with libjpeg from `samples` (width x height x components, row by row); a fixed
// pattern when `samples` is empty. Raises std::runtime_error with libjpeg's message code when the
// compressor refuses the recipe.
Bytes Encode(const JpegRecipe& recipe, const Bytes& samples = {});

// A small JPEG of the fixed pattern; `components` samples per pixel of the given colour space,
// coded as `coded`.
Bytes EncodeWithLibjpeg(int width, int height, int components, int inputSpace, int codedSpace,
                        bool progressive = false);

// A header claiming `width` x `height` pixels and no scan data. It comes from a grey picture coded
// with optimized Huffman tables in which all-zero bits mean "no change", so libjpeg's filling of
// the missing data gives grey 128 everywhere, the first blocks included.
Bytes GreyClaim(uint16_t width, uint16_t height, const std::string& cjpegOptions = "");

Bytes ToBytes(const std::string& text);

}  // namespace swelox::test
