// Byte-level surgery on JPEG files for tests: the marker segments of the header, a new picture
// size in the frame header, a file cut where its scan data begins, and files that cjpeg cannot
// make (any component count).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// A small JPEG made directly with libjpeg; `components` samples per pixel of the given colour
// space (JCS_UNKNOWN allows any count), coded as `coded`.
Bytes EncodeWithLibjpeg(int width, int height, int components, int inputSpace, int codedSpace,
                        bool progressive = false);

// A header claiming `width` x `height` pixels and no scan data. It comes from a grey picture coded
// with optimized Huffman tables in which all-zero bits mean "no change", so libjpeg's filling of
// the missing data gives grey 128 everywhere, the first blocks included.
Bytes GreyClaim(uint16_t width, uint16_t height, const std::string& cjpegOptions = "");

Bytes ToBytes(const std::string& text);

}  // namespace swelox::test
