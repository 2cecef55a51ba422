// JPEG surgery for tests.
#include "toolkit/JpegCraft.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "toolkit/TestImages.h"

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

size_t FindMarker(const Bytes& jpeg, uint8_t marker) {
  for (const Segment& s : HeaderSegments(jpeg)) {
    if (s.marker == marker) return s.start;
  }
  return 0;
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

namespace {

struct CompressErrors {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool failed;
};

void CompressErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<CompressErrors*>(cinfo->err)->jump, 1);
}

void SetSampling(j_compress_ptr cinfo, const char* sampling) {
  for (int c = 0; c < cinfo->num_components && *sampling; ++c) {
    int h = 1, v = 1, used = 0;
    if (std::sscanf(sampling, "%dx%d%n", &h, &v, &used) != 2) break;
    cinfo->comp_info[c].h_samp_factor = h;
    cinfo->comp_info[c].v_samp_factor = v;
    sampling += used;
    if (*sampling == ',') ++sampling;
  }
}

// All libjpeg calls and the setjmp in one function without destructible objects.
void RunCompression(jpeg_compress_struct* cinfo, CompressErrors* errors, const JpegRecipe* recipe,
                    const uint8_t* samples, unsigned char** buffer, unsigned long* size) {
  cinfo->err = jpeg_std_error(&errors->pub);
  errors->pub.error_exit = CompressErrorExit;
  errors->failed = false;
  if (setjmp(errors->jump)) {
    errors->failed = true;
    jpeg_destroy_compress(cinfo);
    return;
  }
  jpeg_create_compress(cinfo);
  jpeg_mem_dest(cinfo, buffer, size);
  cinfo->image_width = static_cast<JDIMENSION>(recipe->width);
  cinfo->image_height = static_cast<JDIMENSION>(recipe->height);
  cinfo->input_components = recipe->components;
  cinfo->in_color_space = recipe->input;
  jpeg_set_defaults(cinfo);
  if (recipe->coded) jpeg_set_colorspace(cinfo, *recipe->coded);
  if (recipe->adjust != nullptr) recipe->adjust(cinfo);
  jpeg_set_quality(cinfo, recipe->quality, TRUE);
  if (!recipe->adobeMarker) cinfo->write_Adobe_marker = FALSE;
  SetSampling(cinfo, recipe->sampling);
  if (recipe->arithmetic) cinfo->arith_code = TRUE;
  if (recipe->optimize) cinfo->optimize_coding = TRUE;
  if (recipe->restartBlocks > 0)
    cinfo->restart_interval = static_cast<unsigned>(recipe->restartBlocks);
  if (recipe->restartRows > 0) cinfo->restart_in_rows = recipe->restartRows;
  if (recipe->progressive) jpeg_simple_progression(cinfo);
  jpeg_start_compress(cinfo, TRUE);
  const size_t stride =
      static_cast<size_t>(recipe->width) * static_cast<size_t>(recipe->components);
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(samples) + cinfo->next_scanline * stride;
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
}

}  // namespace

Bytes Encode(const JpegRecipe& recipe, const Bytes& samples) {
  const size_t stride = static_cast<size_t>(recipe.width) * static_cast<size_t>(recipe.components);
  Bytes pattern;
  if (samples.empty()) {
    pattern.resize(stride * static_cast<size_t>(recipe.height));
    for (size_t y = 0; y < static_cast<size_t>(recipe.height); ++y) {
      for (size_t i = 0; i < stride; ++i) {
        pattern[y * stride + i] = static_cast<uint8_t>((i * 37 + y * 11) % 251);
      }
    }
  } else if (samples.size() != stride * static_cast<size_t>(recipe.height)) {
    throw std::invalid_argument("the samples do not fill the picture");
  }
  jpeg_compress_struct cinfo{};
  CompressErrors errors{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  RunCompression(&cinfo, &errors, &recipe, samples.empty() ? pattern.data() : samples.data(),
                 &buffer, &size);
  Bytes jpeg(buffer, buffer + (errors.failed ? 0 : size));
  std::free(buffer);
  if (errors.failed) {
    throw std::runtime_error("libjpeg's compressor failed, code " +
                             std::to_string(errors.pub.msg_code));
  }
  return jpeg;
}

Bytes EncodeWithLibjpeg(int width, int height, int components, int inputSpace, int codedSpace,
                        bool progressive) {
  JpegRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.components = components;
  recipe.input = static_cast<J_COLOR_SPACE>(inputSpace);
  recipe.coded = static_cast<J_COLOR_SPACE>(codedSpace);
  recipe.progressive = progressive;
  return Encode(recipe);
}

Bytes GreyClaim(uint16_t width, uint16_t height, const std::string& cjpegOptions) {
  TempDir dir;
  const std::string grey = EncodeWithCjpeg(dir, "grey.jpg", SolidRaster(16, 16, 128, 128, 128),
                                           "-optimize " + cjpegOptions);
  return HeaderOnly(WithPictureSize(ReadBytes(grey), width, height));
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace swelox::test
