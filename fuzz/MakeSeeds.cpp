// Writes small JPEG files of every kind the decoder meets: baseline with each chroma sampling,
// progressive, greyscale, plain RGB (with and without an Adobe marker), CMYK, YCCK, restart
// markers, arithmetic coding, and a component count the decoder refuses. They seed the fuzzer.
//
//   swelox_make_seeds DIRECTORY
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "toolkit/JpegCraft.h"
#include "toolkit/TestImages.h"

namespace {

using swelox::test::Bytes;
using swelox::test::JpegRecipe;

struct Seed {
  const char* name;
  JpegRecipe recipe;
};

// Gentle waves with a little noise: compresses like a photograph of water.
Bytes Samples(int width, int height, int components, uint32_t seed) {
  Bytes samples(static_cast<size_t>(width) * static_cast<size_t>(height) *
                static_cast<size_t>(components));
  uint32_t state = seed * 2654435761u + 1;
  size_t at = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c) {
        state = state * 1103515245u + 12345u;
        const int wave = ((x * 7 + y * 3 + c * 40) % 64) - 32;
        const int noise = static_cast<int>((state >> 16) % 17) - 8;
        const int v = 120 + c * 20 + wave * 2 + noise;
        samples[at++] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  }
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  // clang-format off
  const std::vector<Seed> seeds = {
    {"baseline-420.jpg", {.width = 48, .height = 40, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "2x2,1x1,1x1"}},
    {"baseline-422.jpg", {.width = 45, .height = 31, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "2x1,1x1,1x1"}},
    {"baseline-444.jpg", {.width = 33, .height = 17, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "1x1,1x1,1x1"}},
    {"baseline-411.jpg", {.width = 70, .height = 9, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "4x1,1x1,1x1"}},
    {"baseline-440.jpg", {.width = 21, .height = 50, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "1x2,1x1,1x1"}},
    {"baseline-optimized.jpg", {.width = 40, .height = 40, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .optimize = true}},
    {"progressive-420.jpg", {.width = 48, .height = 40, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "2x2,1x1,1x1", .progressive = true}},
    {"progressive-444.jpg", {.width = 30, .height = 22, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "1x1,1x1,1x1", .progressive = true}},
    {"grey.jpg", {.width = 40, .height = 30, .components = 1, .input = JCS_GRAYSCALE, .coded = JCS_GRAYSCALE, .quality = 85}},
    {"grey-progressive.jpg", {.width = 40, .height = 30, .components = 1, .input = JCS_GRAYSCALE, .coded = JCS_GRAYSCALE, .quality = 85, .progressive = true}},
    {"grey-2x2.jpg", {.width = 25, .height = 19, .components = 1, .input = JCS_GRAYSCALE, .coded = JCS_GRAYSCALE, .quality = 85, .sampling = "2x2"}},
    {"rgb-adobe.jpg", {.width = 32, .height = 24, .components = 3, .input = JCS_RGB, .coded = JCS_RGB, .quality = 85}},
    {"rgb-ids-only.jpg", {.width = 32, .height = 24, .components = 3, .input = JCS_RGB, .coded = JCS_RGB, .quality = 85, .adobeMarker = false}},
    {"rgb-progressive.jpg", {.width = 32, .height = 24, .components = 3, .input = JCS_RGB, .coded = JCS_RGB, .quality = 85, .progressive = true}},
    {"cmyk.jpg", {.width = 24, .height = 20, .components = 4, .input = JCS_CMYK, .coded = JCS_CMYK, .quality = 85}},
    {"cmyk-no-adobe.jpg", {.width = 24, .height = 20, .components = 4, .input = JCS_CMYK, .coded = JCS_CMYK, .quality = 85, .adobeMarker = false}},
    {"ycck.jpg", {.width = 24, .height = 20, .components = 4, .input = JCS_CMYK, .coded = JCS_YCCK, .quality = 85, .sampling = "2x2,1x1,1x1,2x2"}},
    {"ycck-progressive.jpg", {.width = 24, .height = 20, .components = 4, .input = JCS_CMYK, .coded = JCS_YCCK, .quality = 85, .progressive = true}},
    {"two-components.jpg", {.width = 16, .height = 16, .components = 2, .input = JCS_UNKNOWN, .coded = JCS_UNKNOWN, .quality = 85}},
    {"restart-blocks.jpg", {.width = 40, .height = 32, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "2x2,1x1,1x1", .restartBlocks = 1}},
    {"restart-rows.jpg", {.width = 40, .height = 32, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "2x1,1x1,1x1", .restartRows = 1}},
    {"restart-progressive.jpg", {.width = 40, .height = 32, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .progressive = true, .restartBlocks = 2}},
    {"arithmetic.jpg", {.width = 40, .height = 32, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "2x2,1x1,1x1", .arithmetic = true}},
    {"arithmetic-progressive.jpg", {.width = 40, .height = 32, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .progressive = true, .arithmetic = true}},
    {"arithmetic-grey-restarts.jpg", {.width = 40, .height = 32, .components = 1, .input = JCS_GRAYSCALE, .coded = JCS_GRAYSCALE, .quality = 85, .arithmetic = true, .restartBlocks = 3}},
    {"one-pixel.jpg", {.width = 1, .height = 1, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85}},
    {"one-row.jpg", {.width = 64, .height = 1, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85}},
    {"one-column.jpg", {.width = 1, .height = 64, .components = 1, .input = JCS_GRAYSCALE, .coded = JCS_GRAYSCALE, .quality = 85}},
    {"two-by-two.jpg", {.width = 2, .height = 2, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 85, .sampling = "1x1,1x1,1x1"}},
    {"quality-100.jpg", {.width = 20, .height = 20, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 100, .sampling = "1x1,1x1,1x1"}},
    {"quality-1.jpg", {.width = 64, .height = 48, .components = 3, .input = JCS_RGB, .coded = JCS_YCbCr, .quality = 1}},
  };
  // clang-format on
  bool ok = true;
  for (size_t k = 0; k < seeds.size(); ++k) {
    const JpegRecipe& recipe = seeds[k].recipe;
    const std::string path = std::string(argv[1]) + "/" + seeds[k].name;
    try {
      swelox::test::WriteBytes(
          path, swelox::test::Encode(recipe, Samples(recipe.width, recipe.height, recipe.components,
                                                     static_cast<uint32_t>(k + 1))));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
      ok = false;
    }
  }
  return ok ? 0 : 1;
}
