// Writes small JPEG files of every kind the decoder meets: baseline with each chroma sampling,
// progressive, greyscale, plain RGB (with and without an Adobe marker), CMYK, YCCK, restart
// markers, arithmetic coding, and a component count the decoder refuses. They seed the fuzzer.
//
//   make_seeds DIRECTORY
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace {

struct Seed {
  const char* name;
  int width;
  int height;
  int components;        // of the input samples
  J_COLOR_SPACE input;   // what the samples are
  J_COLOR_SPACE coded;   // what the file holds
  const char* sampling;  // "HxV,HxV,..." per component, or "" for libjpeg's default
  bool progressive = false;
  bool arithmetic = false;
  int restartBlocks = 0;    // restart interval in MCUs
  int restartRows = 0;      // restart interval in MCU rows
  bool adobeMarker = true;  // keep the Adobe marker that libjpeg writes for RGB, CMYK and YCCK
  bool optimize = false;
  int quality = 85;
};

// Gentle waves with a little noise: compresses like a photograph of water.
std::vector<uint8_t> Samples(int width, int height, int components, uint32_t seed) {
  std::vector<uint8_t> samples(static_cast<size_t>(width) * height * components);
  uint32_t state = seed * 2654435761u + 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c) {
        state = state * 1103515245u + 12345u;
        const int wave = ((x * 7 + y * 3 + c * 40) % 64) - 32;
        const int noise = static_cast<int>((state >> 16) % 17) - 8;
        const int v = 120 + c * 20 + wave * 2 + noise;
        samples[(static_cast<size_t>(y) * width + x) * components + c] =
            static_cast<uint8_t>(v < 0     ? 0
                                 : v > 255 ? 255
                                           : v);
      }
    }
  }
  return samples;
}

void SetSampling(jpeg_compress_struct& cinfo, const char* sampling) {
  for (int c = 0; c < cinfo.num_components && *sampling; ++c) {
    int h = 1, v = 1, used = 0;
    if (std::sscanf(sampling, "%dx%d%n", &h, &v, &used) != 2) break;
    cinfo.comp_info[c].h_samp_factor = h;
    cinfo.comp_info[c].v_samp_factor = v;
    sampling += used;
    if (*sampling == ',') ++sampling;
  }
}

bool Write(const std::string& directory, const Seed& seed, uint32_t number) {
  const std::string path = directory + "/" + seed.name;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);  // a failure here ends the program with libjpeg's text
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = static_cast<JDIMENSION>(seed.width);
  cinfo.image_height = static_cast<JDIMENSION>(seed.height);
  cinfo.input_components = seed.components;
  cinfo.in_color_space = seed.input;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, seed.coded);
  jpeg_set_quality(&cinfo, seed.quality, TRUE);
  if (!seed.adobeMarker) cinfo.write_Adobe_marker = FALSE;
  SetSampling(cinfo, seed.sampling);
  cinfo.arith_code = seed.arithmetic ? TRUE : FALSE;
  cinfo.optimize_coding = seed.optimize ? TRUE : FALSE;
  cinfo.restart_interval = static_cast<unsigned>(seed.restartBlocks);
  cinfo.restart_in_rows = seed.restartRows;
  if (seed.progressive) jpeg_simple_progression(&cinfo);

  const std::vector<uint8_t> samples = Samples(seed.width, seed.height, seed.components, number);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(
        &samples[static_cast<size_t>(cinfo.next_scanline) * seed.width * seed.components]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  // clang-format off
  const std::vector<Seed> seeds = {
    {"baseline-420.jpg", 48, 40, 3, JCS_RGB, JCS_YCbCr, "2x2,1x1,1x1"},
    {"baseline-422.jpg", 45, 31, 3, JCS_RGB, JCS_YCbCr, "2x1,1x1,1x1"},
    {"baseline-444.jpg", 33, 17, 3, JCS_RGB, JCS_YCbCr, "1x1,1x1,1x1"},
    {"baseline-411.jpg", 70, 9, 3, JCS_RGB, JCS_YCbCr, "4x1,1x1,1x1"},
    {"baseline-440.jpg", 21, 50, 3, JCS_RGB, JCS_YCbCr, "1x2,1x1,1x1"},
    {"baseline-optimized.jpg", 40, 40, 3, JCS_RGB, JCS_YCbCr, "", false, false, 0, 0, true, true},
    {"progressive-420.jpg", 48, 40, 3, JCS_RGB, JCS_YCbCr, "2x2,1x1,1x1", true},
    {"progressive-444.jpg", 30, 22, 3, JCS_RGB, JCS_YCbCr, "1x1,1x1,1x1", true},
    {"grey.jpg", 40, 30, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, ""},
    {"grey-progressive.jpg", 40, 30, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, "", true},
    {"grey-2x2.jpg", 25, 19, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, "2x2"},
    {"rgb-adobe.jpg", 32, 24, 3, JCS_RGB, JCS_RGB, ""},
    {"rgb-ids-only.jpg", 32, 24, 3, JCS_RGB, JCS_RGB, "", false, false, 0, 0, false},
    {"rgb-progressive.jpg", 32, 24, 3, JCS_RGB, JCS_RGB, "", true},
    {"cmyk.jpg", 24, 20, 4, JCS_CMYK, JCS_CMYK, ""},
    {"cmyk-no-adobe.jpg", 24, 20, 4, JCS_CMYK, JCS_CMYK, "", false, false, 0, 0, false},
    {"ycck.jpg", 24, 20, 4, JCS_CMYK, JCS_YCCK, "2x2,1x1,1x1,2x2"},
    {"ycck-progressive.jpg", 24, 20, 4, JCS_CMYK, JCS_YCCK, "", true},
    {"two-components.jpg", 16, 16, 2, JCS_UNKNOWN, JCS_UNKNOWN, ""},
    {"restart-blocks.jpg", 40, 32, 3, JCS_RGB, JCS_YCbCr, "2x2,1x1,1x1", false, false, 1},
    {"restart-rows.jpg", 40, 32, 3, JCS_RGB, JCS_YCbCr, "2x1,1x1,1x1", false, false, 0, 1},
    {"restart-progressive.jpg", 40, 32, 3, JCS_RGB, JCS_YCbCr, "", true, false, 2},
    {"arithmetic.jpg", 40, 32, 3, JCS_RGB, JCS_YCbCr, "2x2,1x1,1x1", false, true},
    {"arithmetic-progressive.jpg", 40, 32, 3, JCS_RGB, JCS_YCbCr, "", true, true},
    {"arithmetic-grey-restarts.jpg", 40, 32, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, "", false, true, 3},
    {"one-pixel.jpg", 1, 1, 3, JCS_RGB, JCS_YCbCr, ""},
    {"one-row.jpg", 64, 1, 3, JCS_RGB, JCS_YCbCr, ""},
    {"one-column.jpg", 1, 64, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, ""},
    {"two-by-two.jpg", 2, 2, 3, JCS_RGB, JCS_YCbCr, "1x1,1x1,1x1"},
    {"quality-100.jpg", 20, 20, 3, JCS_RGB, JCS_YCbCr, "1x1,1x1,1x1", false, false, 0, 0, true,
     false, 100},
    {"quality-1.jpg", 64, 48, 3, JCS_RGB, JCS_YCbCr, "", false, false, 0, 0, true, false, 1},
  };
  // clang-format on
  bool ok = true;
  for (size_t k = 0; k < seeds.size(); ++k) ok = Write(argv[1], seeds[k], k + 1) && ok;
  return ok ? 0 : 1;
}
