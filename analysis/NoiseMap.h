// The noise of a picture rectangle by rectangle: every comparison behind the figures of its row,
// with its place, for a view that lays the lattice over the photo. The brightness of the whole
// picture is kept, so that another size, direction or region needs no second decode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/RectangleStatistics.h"
#include "analysis/Settings.h"
#include "imaging/PixelRegion.h"

namespace swelox {

// The brightness of every pixel, row after row.
struct BrightnessPicture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> values;
  const uint8_t* Row(int32_t y) const { return values.data() + size_t(y) * size_t(width); }
};

// Decodes the whole file as the analysis does; its errors are the analysis's.
BrightnessPicture DecodeBrightness(const std::string& path);

struct NoiseMap {
  int32_t width = 0;  // of the analysed pixels: the region's, or the picture's
  int32_t height = 0;
  // Rectangle positions across and down the lattice (0 when no rectangle fits).
  int32_t columns = 0;
  int32_t rows = 0;
  NoiseFigures figures;
  // Corners counted from the region's own first pixel.
  std::vector<ComparedRectangle> comparisons;
};

// The lattice of `size` over the region (the whole picture when none), in one pass that forms both
// the figures and the comparisons: their count is nDiffs and their mean absolute difference,
// truncated, is meanDiff. Raises the analysis's errors, and the decoder's for a region outside.
NoiseMap MapNoise(const BrightnessPicture& picture, const std::optional<PixelRegion>& region,
                  RectangleSize size, Direction direction);

}  // namespace swelox
