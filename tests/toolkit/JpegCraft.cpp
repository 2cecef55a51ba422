// JPEG surgery for tests.
#include "toolkit/JpegCraft.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "toolkit/TestImages.h"

extern "C" {
#include <jpeglib.h>
}

namespace swelox::test {

std::vector<Segment> HeaderSegments(const Bytes& jpeg) {
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) {
    throw std::invalid_argument("not a JPEG file");
  }
  std::vector<Segment> segments;
  size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    if (jpeg[at] != 0xFF) throw std::invalid_argument("no marker where one belongs");
    const uint8_t marker = jpeg[at + 1];
    const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    segments.push_back({marker, at, at + 2 + length});
    if (segments.back().end > jpeg.size()) throw std::invalid_argument("segment past the end");
    if (marker == 0xDA) return segments;
    at = segments.back().end;
  }
  throw std::invalid_argument("no start-of-scan marker");
}

size_t ScanDataStart(const Bytes& jpeg) { return HeaderSegments(jpeg).back().end; }

Segment FrameHeader(const std::vector<Segment>& segments) {
  for (const Segment& s : segments) {
    if (s.marker >= 0xC0 && s.marker <= 0xCF && s.marker != 0xC4 && s.marker != 0xC8 &&
        s.marker != 0xCC) {
      return s;
    }
  }
  throw std::invalid_argument("no frame header");
}

Bytes WithPictureSize(Bytes jpeg, uint16_t width, uint16_t height) {
  // Frame header: FF Cn, length (2), precision (1), height (2), width (2), ...
  const size_t at = FrameHeader(HeaderSegments(jpeg)).start;
  jpeg[at + 5] = static_cast<uint8_t>(height >> 8);
  jpeg[at + 6] = static_cast<uint8_t>(height);
  jpeg[at + 7] = static_cast<uint8_t>(width >> 8);
  jpeg[at + 8] = static_cast<uint8_t>(width);
  return jpeg;
}

Bytes WithRepeatedLastScan(const Bytes& jpeg, size_t copies) {
  // Walk every segment; a scan's data runs to the next marker that is neither a stuffed 0xFF 0x00
  // nor a restart marker.
  size_t at = 2, lastScan = 0, end = 0;
  while (at + 2 <= jpeg.size()) {
    if (jpeg[at] != 0xFF) throw std::invalid_argument("no marker where one belongs");
    const uint8_t marker = jpeg[at + 1];
    if (marker == 0xD9) {
      end = at;
      break;
    }
    size_t next = at + 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    if (marker == 0xDA) {
      lastScan = at;
      while (next + 1 < jpeg.size() &&
             !(jpeg[next] == 0xFF && jpeg[next + 1] != 0 && (jpeg[next + 1] & 0xF8) != 0xD0)) {
        ++next;
      }
    }
    at = next;
  }
  if (lastScan == 0 || end == 0) throw std::invalid_argument("no scan, or no end marker");
  Bytes result(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(end));
  for (size_t k = 0; k < copies; ++k) {
    result.insert(result.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(lastScan),
                  jpeg.begin() + static_cast<std::ptrdiff_t>(end));
  }
  result.insert(result.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(end), jpeg.end());
  return result;
}

Bytes HeaderOnly(const Bytes& jpeg) { return Prefix(jpeg, ScanDataStart(jpeg)); }

Bytes Prefix(const Bytes& bytes, size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

Bytes EncodeWithLibjpeg(int width, int height, int components, int inputSpace, int codedSpace,
                        bool progressive) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);  // the test tool's own files: a failure here is a bug
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = static_cast<J_COLOR_SPACE>(inputSpace);
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, static_cast<J_COLOR_SPACE>(codedSpace));
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * components);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (size_t i = 0; i < row.size(); ++i) {
      row[i] = static_cast<JSAMPLE>((i * 37 + cinfo.next_scanline * 11) % 251);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  Bytes jpeg(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return jpeg;
}

Bytes GreyClaim(uint16_t width, uint16_t height, const std::string& cjpegOptions) {
  TempDir dir;
  const std::string grey = EncodeWithCjpeg(dir, "grey.jpg", SolidRaster(16, 16, 128, 128, 128),
                                           "-optimize " + cjpegOptions);
  return HeaderOnly(WithPictureSize(ReadBytes(grey), width, height));
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace swelox::test
