// The noise of a picture rectangle by rectangle: every comparison behind the figures of its row,
// at its lattice position, for a view that lays the lattice over the photo. The brightness of the
// whole picture is kept, so that another size, direction or region needs no second decode.
#pragma once

#include <climits>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/RectangleStatistics.h"
#include "analysis/Settings.h"
#include "imaging/JpegDecoder.h"
#include "imaging/PixelRegion.h"

namespace swelox {

// The brightness of every pixel, row after row.
struct BrightnessPicture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> values;
  const uint8_t* Row(int32_t y) const { return values.data() + size_t(y) * size_t(width); }
};

// Fills a BrightnessPicture from the decoder's rows, with the analysis's own brightness.
class BrightnessCollector : public RgbRowSink {
 public:
  explicit BrightnessCollector(BrightnessPicture& picture) : picture_(picture) {}
  int BytesPerPixel() const override { return 4; }
  void Begin(int32_t width, int32_t height) override;
  void Row(const uint8_t* pixels) override;
  int32_t rowsDone() const { return y_; }

 private:
  BrightnessPicture& picture_;
  std::vector<int32_t> row_;
  int32_t y_ = 0;
};

// Decodes the whole file as the analysis does; its errors are the analysis's.
BrightnessPicture DecodeBrightness(const std::string& path);

struct NoiseMap {
  static constexpr int32_t kNoDifference = INT32_MIN;

  int32_t width = 0;  // of the analysed pixels: the region's, or the picture's
  int32_t height = 0;
  // Rectangle positions across and down the lattice (0 when no rectangle fits).
  int32_t columns = 0;
  int32_t rows = 0;
  NoiseFigures figures;
  // Per lattice position, row after row, the difference with the rectangle before it (above, or
  // to the left), or kNoDifference where none was compared. Position (column, row) has its
  // corner at pixel (1 + column x W, 1 + row x H) of the analysed pixels.
  std::vector<int32_t> differences;
  int32_t largest = 0;   // the largest absolute difference
  bool complete = true;  // false when the laying was stopped: then nothing in it counts

  std::optional<int32_t> DifferenceAt(int32_t column, int32_t row) const {
    if (column < 0 || row < 0 || column >= columns || row >= rows) return std::nullopt;
    const int32_t d = differences[size_t(row) * size_t(columns) + size_t(column)];
    if (d == kNoDifference) return std::nullopt;
    return d;
  }
};

// The lattice of `size` over the region (the whole picture when none), in one pass that forms both
// the figures and the map: the number of positions with a difference is nDiffs and their mean
// absolute difference, truncated, is meanDiff. Raises the analysis's errors, the decoder's for a
// region outside, and a refusal when the map would take more than `mapByteLimit` bytes. Once
// `stop` is requested it returns soon, with `complete` false.
NoiseMap MapNoise(const BrightnessPicture& picture, const std::optional<PixelRegion>& region,
                  RectangleSize size, Direction direction, std::stop_token stop = {},
                  uint64_t mapByteLimit = UINT64_MAX);

// "N MiB" with one decimal, for messages about memory.
std::string Mebibytes(uint64_t bytes);

}  // namespace swelox
